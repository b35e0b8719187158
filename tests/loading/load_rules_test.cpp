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
#include <vector>

#include "loading/load_document.hpp"

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
  // Elements nested as deep as allowed, and one level deeper.
  for (const int depth : {loading::kMaxElementDepth, loading::kMaxElementDepth + 1}) {
    std::string document;
    for (int i = 0; i < depth; ++i) document += "<a>";
    for (int i = 0; i < depth; ++i) document += "</a>";
    EXPECT_EQ(LoadReadersDisagreement(document), "") << depth;
  }
}

// The loader types the document's plain forms itself; the reference reader
// leaves every text to the record set's own conversion. Values of every
// type, one document per field so that the fast reader meets months and
// lengths again, and texts in the shape of a date that are none (after a good
// date of the same month, so that the month is known).
TEST(LoadRules, TheReadersAgreeOnTheValuesOfEveryType) {
  struct Sample {
    int set;
    const char* field;
    std::vector<std::string> texts;
  };
  const std::vector<Sample> samples = {
      {1, "Effectivity", {"2004-01-01", "2004-01-01T13:45:10", "1/2/2004", "2004-02-29T00:00:00"}},
      // Months met again in other years, and the last days of months.
      {2,
       "Effectivity",
       {"2004-02-01", "2003-02-28", "2004-02-29", "2000-02-29", "2003-12-31", "2004-12-31T23:59:59",
        "2003-02-01", "0100-01-01", "9999-12-31", "2004-04-30"}},
      {1,
       "MembershipFee",
       {"0", "-12.5", "1234.5678", "1234.56789", "922337203685477", "1,234.50", "5.", ".25"}},
      {1, "Term", {"12", "-5", "32767", "7.5", "0012", "-32768"}},
      {1,
       "MembershipRoyalty",
       {"0.0725", "0.1", "1e-3", "123456789012345", "-0", "0.0722", "0.000000000000001", "2.675"}},
      {5,
       "BetaAPR",
       {"0.1899", ".5", "5.", "0.30000000000000004", "99999999999999.9", "-1.5", "0.3",
        "999999999999.999", "2.675"}},
      {9, "SweepSpan", {"30", "2147483647", "999999999", "-999999999", "12.5"}},
      {9, "Opened", {"2003-12-01T00:00:00", "2003-12-01T23:59:59", "Dec 01, 2003"}},
      // Texts of every length across the machine words in which they are
      // measured.
      {9,
       "AccountNumber",
       {"1", "12", "123", "1234567", "12345678", "123456789", "123456789012345", "1234567890123456",
        "12345678901234567", "12345678901234567890"}},
  };
  for (const Sample& s : samples) {
    const std::string open = "<T" + std::to_string(s.set) + "><" + s.field + ">";
    const std::string close = std::string("</") + s.field + "></T" + std::to_string(s.set) + ">";
    std::string document = "<TermFees>";
    for (const std::string& text : s.texts) document += open + text + close;
    EXPECT_EQ(LoadReadersDisagreement(document + "</TermFees>"), "") << document;
  }
  for (const char* text :
       {"2003-02-29", "2004-04-31", "2004-13-01", "2004-00-10", "2004-01-00", "0099-12-31",
        "2004-01-01T24:00:00", "2004-01-01T12:60:00", "2004-01-01T12:00:60"}) {
    const std::string document = "<TermFees><T4><Effectivity>" + std::string(text).substr(0, 8) +
                                 "01</Effectivity></T4><T4><Effectivity>" + text +
                                 "</Effectivity></T4></TermFees>";
    EXPECT_EQ(LoadReadersDisagreement(document), "") << document;
  }
}

}  // namespace
}  // namespace harnolfees
