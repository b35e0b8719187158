// LoadData: the steps of a load, what the document fills, and its early
// returns.
#include "loading/loading_fixture.hpp"
#include "support/document_generator.hpp"

namespace harnolfees::testing {
namespace {

using LoadDataTest = LoadingTest;

// The address is stored before the date is checked; the failure itself and
// the center kept are in the load_failures scenario.
TEST_F(LoadDataTest, ServerDateIsNormalisedAndAnInvalidOneFailsAfterTheAddressIsStored) {
  Load("<TermFees/>", 12, "2004-03-15T00:00:00");
  EXPECT_EQ(state().ServerDate, "3/15/2004");

  control->LoadData("http://other.example/", 99, "the ides of March");

  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(state().BaseURL, "http://other.example/");
  EXPECT_EQ(fetcher->urls.size(), 1u);
}

TEST_F(LoadDataTest, ListElementsContributeOnlyTheirItemTexts) {
  Load(R"(<?xml version="1.0" encoding="UTF-8"?>
<TermFees>
  <TERM> <Months>12</Months>
         <!-- a comment between items adds nothing -->
         <Months>24</Months> </TERM>
  <CTYPE><ID>3</ID><Description>Gold</Description></CTYPE>
  <CTYPE><Description>R&amp;D &lt;fund&gt;</Description><Note>not an item</Note></CTYPE>
  <BVALUE><Description><![CDATA[Fair & <square>]]></Description></BVALUE>
  <APRTYPE><Description>Promotional</Description><Description>Teaser</Description></APRTYPE>
  <ctype><Description>names are compared exactly</Description></ctype>
  <ACCESSLEVEL><Description>Gold</Description><ID> 3 </ID></ACCESSLEVEL>
  <ACCESSLEVEL>Plain<ID>4.5</ID></ACCESSLEVEL>
</TermFees>)");

  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(List(surface().cboTerm), (std::vector<std::string>{"12", "24"}));
  EXPECT_EQ(List(surface().cboType), (std::vector<std::string>{"Gold", "R&D <fund>"}));
  EXPECT_EQ(List(surface().cboBitwise), (std::vector<std::string>{"Fair & <square>"}));
  EXPECT_EQ(List(surface().cboAPRType), (std::vector<std::string>{"Promotional", "Teaser"}));
  EXPECT_EQ(List(surface().cboAccessLevel), (std::vector<std::string>{"Gold", "Plain"}));
  EXPECT_EQ(surface().cboAccessLevel.ItemData(0), 3);
  EXPECT_EQ(surface().cboAccessLevel.ItemData(1), 4);  // 4.5 to the even neighbour

  // The travel option: an element's content does not count, the last one wins.
  Load("<TermFees><HIDETravelOption>ignored content</HIDETravelOption></TermFees>");
  EXPECT_FALSE(state().ShowTravelOption);
  Load("<TermFees><HIDETravelOption/><SHOWTravelOption/></TermFees>");
  EXPECT_TRUE(state().ShowTravelOption);
}

TEST_F(LoadDataTest, EncodingsOtherThanUtf8AreReadWhenTheyCanBe) {
  // UTF-8, with a byte-order mark and characters of every length.
  Load(
      "\xEF\xBB\xBF<TermFees><T15><Description>Z\u00fcrich \u20ac \U0001F3E6"
      "</Description></T15><!-- padding past sixteen bytes --></TermFees>");
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(List(surface().cboBanckAccType),
            (std::vector<std::string>{"Z\u00fcrich \u20ac \U0001F3E6"}));

  Load(ReadTestData("load_latin1_declared.xml"));
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(List(surface().cboBanckAccType),
            (std::vector<std::string>{"D\u00e9p\u00f4t", "Caf\u00e9 \u20ac fund"}));

  // The sample again, as UTF-16 with a byte-order mark, little and big endian.
  const std::string utf8 = ReadTestData("load_center12.xml");
  for (bool big : {false, true}) {
    std::string wide = big ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
    for (char c : utf8) {
      ASSERT_LT(static_cast<unsigned char>(c), 0x80u);  // the sample is ASCII
      wide += big ? std::string{'\0', c} : std::string{c, '\0'};
    }
    host.ClearRecords();
    Load(wide);
    EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
    EXPECT_EQ(Count(1), 2u);
    EXPECT_EQ(List(surface().cboBanckAccType), (std::vector<std::string>{"Operating", "Payroll"}));
  }
}

// Documents of several batches (read whole: the streaming tests), stopped
// cleanly by an error in any batch. An error in a late batch stops the reading there. The records
// are converted on two threads; a fault inside a record still stops exactly where it stands, after
// the values of that record that came before it. A processing instruction without a target is
// refused by the markup check before anything is read: the schedule stays as it was.
TEST_F(LoadDataTest, AnErrorInALateBatchStopsTheReadingThere) {
  auto loaded = [&] {
    std::size_t sum = 0;
    for (int set = 1; set <= 15; ++set) sum += Count(set);
    return sum;
  };
  const GeneratedDocument doc = GenerateLoadDocument(6000, 7);
  const std::size_t end = doc.xml.rfind("</TermFees>");
  const std::string record = "<T1><Effectivity>2031-05-06</Effectivity>";
  struct Case {
    std::string insert, said;
    std::size_t total;
  };
  for (const Case& c : std::vector<Case>{
           {"<T16/><T4><Effectivity>2030-01-01</Effectivity></T4>", "Subscript out of range", 6000},
           {record + "<Bogus>1</Bogus><MembershipFee>1.00</MembershipFee></T1><T2/>", "", 6001},
           {record + "<Term>twelve</Term><MembershipFee>1.00</MembershipFee></T1><T2/>", "", 6001},
           {"<T4><? ?></T4>", "processing instruction", 0}}) {
    SCOPED_TRACE(c.insert);
    host.ClearRecords();
    const std::size_t before = loaded();
    std::string xml = doc.xml;
    xml.insert(end, c.insert);
    Load(xml);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].prompt.find(c.said), std::string::npos) << host.messages[0].prompt;
    if (c.total == 6001) {
      EXPECT_EQ(Field(1, doc.records[1], "Effectivity"), Value(Date(2031, 5, 6)));
      EXPECT_TRUE(Field(1, doc.records[1], "MembershipFee").IsNull());
    }
    if (c.total > 0) {
      EXPECT_EQ(loaded(), c.total);
    } else {
      EXPECT_NE(host.messages[0].prompt.find("line 6020"), std::string::npos);
      EXPECT_EQ(loaded(), before);
    }
  }
}

// Tags may hold white space before their '>', and a value may be written
// across lines, at any depth below its element or after nested markup.
TEST_F(LoadDataTest, ValueElementsInEveryFormOfTheirTagsAreRead) {
  std::string deep = "2004-02-29T00:00:00";
  for (int i = 0; i < 200; ++i) deep = "<w>" + deep + "</w>";
  Load(
      "<TermFees><T4><Effectivity >2004-01-01</Effectivity\n><RenewalOptionFee\t>5.25"
      "</RenewalOptionFee></T4><T4><Effectivity>2004-02-01</Effectivity>"
      "<RenewalOptionFee><!-- fee -->6</RenewalOptionFee ></T4>\r\n<T4>\r\n<Effectivity>" +
      deep + "</Effectivity><RenewalOptionFee>\r\n 12.5 \r\n</RenewalOptionFee></T4></TermFees>");
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(Field(4, 0, "Effectivity"), Value(Date(2004, 1, 1)));
  EXPECT_EQ(Field(4, 0, "RenewalOptionFee"), Value(Money::FromDouble(5.25)));
  EXPECT_EQ(Field(4, 1, "RenewalOptionFee"), Value(Money::FromDouble(6)));
  EXPECT_EQ(Field(4, 2, "Effectivity"), Value(Date(2004, 2, 29)));
  EXPECT_EQ(Field(4, 2, "RenewalOptionFee"), Value(Money::FromUnits(125000)));
}

}  // namespace
}  // namespace harnolfees::testing
