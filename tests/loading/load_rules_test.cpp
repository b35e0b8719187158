// The fast reader of the load document and the reference reader that states
// the load rules agree on every document of the fuzz corpus and of the test
// data, and on documents made to take each rule's edges. What agreeing means
// is decided by fuzz/load_rules_fuzz.cpp, which this program links.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace harnolfees {
std::string LoadReadersDisagreement(std::string_view bytes);

namespace {

TEST(LoadRules, TheReadersAgreeOnTheCorpusAndTheTestData) {
  int documents = 0;
  for (const char* dir : {HARNOLFEES_LOAD_RULES_CORPUS, HARNOLFEES_TEST_DATA_DIR}) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      EXPECT_EQ(LoadReadersDisagreement(bytes), "") << entry.path();
      ++documents;
    }
  }
  EXPECT_GT(documents, 20);
}

TEST(LoadRules, TheReadersAgreeAtTheEdgesOfEachRule) {
  const char* documents[] = {
      // Record-set numbers: T removed, the leading number read, halves to
      // even; below 1 ignored, beyond 15 an error.
      "<F><T1.5><Effectivity>2004-01-01</Effectivity></T1.5><t0x/><T2.5/><TT3/></F>",
      "<F><T4><Effectivity>2004-01-01</Effectivity></T4><T16/><T4/></F>",
      // Field mapping: an undeclared field, blanks around a value, values in
      // parts and at depth, a later value standing.
      "<F><T4><Effectivity> 2004-01-01 </Effectivity><RenewalOptionFee>1<b>2</b></RenewalOptionFee>"
      "<RenewalOptionFee>30</RenewalOptionFee></T4><T4><Nope>1</Nope></T4></F>",
      // Conversions: canonical and general forms, a value that fails.
      "<F><T5><Effectivity>3/1/2004</Effectivity><BetaAPR>0.0725</BetaAPR>"
      "<BetaAPRTypeID>2.5</BetaAPRTypeID></T5><T1><Term>x</Term></T1></F>",
      "<F><T8><Effectivity>2004-02-29T23:59:59</Effectivity><MemberAccessLevelID>3"
      "</MemberAccessLevelID><TravelMembership>-1</TravelMembership></T8></F>",
      // Lists and the access levels with their faults.
      "<F><TERM>12<I>24</I><![CDATA[36]]></TERM><CTYPE><Id>1</Id><Description>A</Description>"
      "</CTYPE><ACCESSLEVEL><D>Gold</D><I>3</I></ACCESSLEVEL><ACCESSLEVEL><D>X</D></ACCESSLEVEL>"
      "</F>",
      "<F><ACCESSLEVEL><D>Gold</D><I>1E+12</I></ACCESSLEVEL></F>",
      "<F><ACCESSLEVEL/><SHOWTravelOption/></F>",
      "<F><HIDETravelOption/><APRTYPE><Description>Fixed</Description></APRTYPE></F>",
      // Documents refused whole.
      "<F><T4></F>",
      "",
      "<F/><G/>",
  };
  for (const char* document : documents) {
    EXPECT_EQ(LoadReadersDisagreement(document), "") << document;
  }
}

}  // namespace
}  // namespace harnolfees
