// LoadData: the steps of a load, what the document fills, and its early
// returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "loading/loading_fixture.hpp"
#include "support/document_generator.hpp"

namespace harnolfees::testing {
namespace {

using LoadDataTest = LoadingTest;

TEST_F(LoadDataTest, EmptyAddressStoresTheCallButFetchesAndEmptiesNothing) {
  LoadSample();
  host.ClearRecords();

  control->LoadData("", 7, "2005-04-01");

  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(host.pointers, (std::vector<int>{11, 0}));
  EXPECT_EQ(fetcher->urls.size(), 1u);
  EXPECT_EQ(state().BaseURL, "");
  EXPECT_EQ(state().ClubID, 7);
  EXPECT_EQ(state().ServerDate, "4/1/2005");
  EXPECT_EQ(Count(1), 2u);
  EXPECT_EQ(surface().cboAccessLevel.ListCount(), 2);
}

TEST_F(LoadDataTest, ServerDateIsNormalisedAndAnInvalidOneFailsBeforeTheCenterIsStored) {
  Load("<TermFees/>", 12, "2004-03-15T00:00:00");
  EXPECT_EQ(state().ServerDate, "3/15/2004");
  LoadSample();
  host.ClearRecords();

  control->LoadData("http://other.example/", 99, "the ides of March");

  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].prompt.find("the ides of March"), std::string::npos)
      << host.messages[0].prompt;
  EXPECT_EQ(host.messages[0].buttons, 0);
  EXPECT_EQ(host.messages[0].title, "");
  EXPECT_EQ(host.pointers, (std::vector<int>{11, 0}));
  EXPECT_EQ(state().BaseURL, "http://other.example/");
  EXPECT_EQ(state().ServerDate, "3/15/2004");
  EXPECT_EQ(state().ClubID, 12);
  EXPECT_EQ(fetcher->urls.size(), 2u);
  EXPECT_EQ(Count(1), 2u);
}

TEST_F(LoadDataTest, RootWithoutChildrenEmptiesTheRecordSetsButRendersNothing) {
  LoadSample();
  host.ClearRecords();

  Load("<?xml version=\"1.0\"?>\n<TermFees>\n  <!-- nothing today -->\n  \n</TermFees>\n");

  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(host.pointers, (std::vector<int>{11, 0}));
  for (int set = 1; set <= 15; ++set) EXPECT_EQ(Count(set), 0u) << set;
  EXPECT_EQ(surface().cboAccessLevel.ListCount(), 0);
  // The other lists are not the load's to clear, and nothing is re-rendered.
  EXPECT_EQ(surface().cboTerm.ListCount(), 3);
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 2);
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 0), "Jan 01, 2004");
}

TEST_F(LoadDataTest, ReloadingAppendsTheDocumentListsAndRebuildsTheOthers) {
  LoadSample();
  LoadSample();

  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(surface().cboTerm.ListCount(), 6);
  EXPECT_EQ(surface().cboType.ListCount(), 6);
  EXPECT_EQ(surface().cboBitwise.ListCount(), 4);
  EXPECT_EQ(surface().cboAPRType.ListCount(), 4);
  EXPECT_EQ(surface().cboAccessLevel.ListCount(), 2);
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 2);
  // The record sets hold the second load only.
  EXPECT_EQ(Count(1), 2u);
  EXPECT_EQ(Count(15), 2u);
}

TEST_F(LoadDataTest, TheTabShownIsReRenderedAndTravelOptionKeptUnlessTheDocumentSays) {
  LoadSample();
  ClickTab(6);
  host.ClearRecords();

  Load(R"(<TermFees>
    <CTYPE><ContractTypeID>0</ContractTypeID><Description>Standard</Description></CTYPE>
    <CTYPE><ContractTypeID>1</ContractTypeID><Description>Premium</Description></CTYPE>
    <T6><BetaContractTypeID>1</BetaContractTypeID><Effectivity>2006-01-01T00:00:00</Effectivity>
        <BetaProcessingFee>30</BetaProcessingFee></T6>
  </TermFees>)");

  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(state().CurrentTab, 6);
  EXPECT_TRUE(state().ShowTravelOption);  // neither element: kept
  EXPECT_EQ(surface().grdFees.TextMatrix(0, 1), "Beta Processing Fee ($)");
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 0), "Jan 01, 2006");

  Load("<TermFees><HIDETravelOption>ignored content</HIDETravelOption></TermFees>");
  EXPECT_FALSE(state().ShowTravelOption);
  Load("<TermFees><HIDETravelOption/><SHOWTravelOption/></TermFees>");
  EXPECT_TRUE(state().ShowTravelOption);
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
}

TEST_F(LoadDataTest, FieldTextIsTheTextBelowTheFieldElementAtAnyDepth) {
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "<w>";
  deep += "2004-02-29T00:00:00";
  for (int i = 0; i < 200; ++i) deep += "</w>";
  Load("<TermFees>\r\n  <T4>\r\n    <Effectivity>" + deep +
       "</Effectivity>\r\n    <RenewalOptionFee>\r\n 12.5 \r\n</RenewalOptionFee>\r\n  "
       "</T4>\r\n</TermFees>\r\n");

  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  ASSERT_EQ(Count(4), 1u);
  EXPECT_EQ(Field(4, 0, "Effectivity"), Value(Date(2004, 2, 29)));
  EXPECT_EQ(Field(4, 0, "RenewalOptionFee"), Value(Money::FromUnits(125000)));
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

}  // namespace
}  // namespace harnolfees::testing

namespace harnolfees::testing {
namespace {

// The loader types the document's plain forms itself; the values must be
// exactly those of the record set's own conversion of the same texts.
TEST_F(LoadDataTest, ValuesEqualTheRecordSetsOwnConversionOfTheirTexts) {
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
      {1, "MembershipRoyalty", {"0.0725", "0.1", "1e-3", "123456789012345", "-0"}},
      {5, "BetaAPR", {"0.1899", ".5", "5.", "0.30000000000000004", "99999999999999.9"}},
      {9, "SweepSpan", {"30", "2147483647", "999999999", "-999999999", "12.5"}},
      {9, "Opened", {"2003-12-01T00:00:00", "2003-12-01T23:59:59", "Dec 01, 2003"}},
      // Texts of every length across the machine words in which they are
      // measured.
      {9,
       "AccountNumber",
       {"1", "12", "123", "1234567", "12345678", "123456789", "123456789012345", "1234567890123456",
        "12345678901234567", "12345678901234567890"}},
  };
  std::string xml = "<TermFees>";
  for (const Sample& s : samples) {
    for (const std::string& text : s.texts) {
      xml += "<T" + std::to_string(s.set) + "><" + s.field + ">" + text + "</" + s.field + "></T" +
             std::to_string(s.set) + ">";
    }
  }
  ClickTab(4);  // a tab without samples: partial records cannot be rendered
  host.ClearRecords();
  Load(xml + "</TermFees>");
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;

  FeeRecordSets reference;
  reference.OpenAll();
  std::size_t row[16] = {};
  for (const Sample& s : samples) {
    for (const std::string& text : s.texts) {
      RecordSet& rs = reference(s.set);
      rs.AddNew();
      rs.SetValue(s.field, Value(text));
      EXPECT_EQ(Field(s.set, row[s.set]++, s.field), rs.GetValue(s.field))
          << s.field << " from '" << text << "'";
      rs.Update();
    }
  }
}

}  // namespace
}  // namespace harnolfees::testing

namespace harnolfees::testing {
namespace {

// Documents of several batches: read in order, whole, and stopped cleanly by
// an error in any batch.
class LargeDocumentTest : public LoadingTest {
 protected:
  std::size_t Total() const {
    std::size_t total = 0;
    for (int set = 1; set <= 15; ++set) total += Count(set);
    return total;
  }
};

TEST_F(LargeDocumentTest, EveryRecordOfAManyBatchDocumentIsRead) {
  const GeneratedDocument doc = GenerateLoadDocument(6000, 7);
  ASSERT_GT(doc.xml.size(), 1000000u);
  Load(doc.xml);

  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  for (int set = 1; set <= 15; ++set) EXPECT_EQ(Count(set), doc.records[set]) << set;
  EXPECT_EQ(static_cast<std::size_t>(surface().cboAccessLevel.ListCount()), doc.accessLevels);
  // Document order within a record set: the dates ascend.
  EXPECT_LT(Field(1, 0, "Effectivity").ToDate(), Field(1, 399, "Effectivity").ToDate());
}

TEST(GeneratedDocument, BankAccountTypesStopAtTheirLimitAndTheRecordsGoOn) {
  // A million records would need 66,667 types; the types stop at a number
  // that fits 16 bits, and their share goes to bank accounts. Shown on a
  // small scale: 10 types for 300 records.
  static_assert(kMaxAccountTypes <= 32767);
  const GeneratedDocument doc = GenerateLoadDocument(300, 3, 0, 10);
  std::size_t total = 0;
  for (int set = 1; set <= 15; ++set) total += doc.records[static_cast<std::size_t>(set)];
  EXPECT_EQ(total, 300u);
  EXPECT_EQ(doc.records[15], 10u);
  EXPECT_EQ(doc.records[9], 20u + 10u);
  // Every type an account names is one of the list's.
  long largest = 0;
  for (const std::string tag : {"<Type>", "<BankAccountTypeID>"}) {
    for (std::size_t at = doc.xml.find(tag); at != std::string::npos;
         at = doc.xml.find(tag, at + 1)) {
      largest = std::max(largest, std::strtol(doc.xml.c_str() + at + tag.size(), nullptr, 10));
    }
  }
  EXPECT_EQ(largest, 10);
}

TEST_F(LargeDocumentTest, AnErrorInALateBatchStopsTheReadingThere) {
  std::string xml = GenerateLoadDocument(6000, 7).xml;
  const std::size_t end = xml.rfind("</TermFees>");
  // A record set number beyond the last, found while reading...
  std::string withT16 = xml;
  withT16.insert(end, "<T16/><T4><Effectivity>2030-01-01</Effectivity></T4>");
  Load(withT16);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].prompt.find("Subscript out of range"), std::string::npos);
  EXPECT_EQ(Total(), 6000u);

  // ... while a processing instruction without a target, halfway, is met by
  // the markup check before anything is read: the schedule stays as it was.
  host.ClearRecords();
  std::string withBadPi = xml;
  const std::size_t middle = xml.find("\n", xml.size() / 2) + 1;
  withBadPi.insert(middle, "<T4><? ?></T4>");
  Load(withBadPi);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].prompt.find("processing instruction"), std::string::npos)
      << host.messages[0].prompt;
  const auto line =
      std::count(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(middle), '\n') + 1;
  EXPECT_NE(host.messages[0].prompt.find("line " + std::to_string(line) + ","), std::string::npos)
      << host.messages[0].prompt;
  EXPECT_EQ(Total(), 6000u);

  host.ClearRecords();
  Load(xml);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Total(), 6000u);
}

// Tags may hold white space before their '>', and a value may be written
// across lines or come after nested markup.
TEST_F(LoadingTest, ValueElementsInEveryFormOfTheirTagsAreRead) {
  Load(
      "<TermFees><T4><Effectivity >2004-01-01</Effectivity\n><RenewalOptionFee\t>5.25"
      "</RenewalOptionFee></T4><T4><Effectivity>2004-02-01</Effectivity>"
      "<RenewalOptionFee><!-- fee -->6</RenewalOptionFee ></T4></TermFees>");
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(Field(4, 0, "Effectivity"), Value(DateTime::FromParts(2004, 1, 1)));
  EXPECT_EQ(Field(4, 0, "RenewalOptionFee"), Value(Money::FromDouble(5.25)));
  EXPECT_EQ(Field(4, 1, "RenewalOptionFee"), Value(Money::FromDouble(6)));
}

// A text in the shape of a date that is none is left to the record set's
// own conversion, which decides what it is.
TEST_F(LoadingTest, DateShapedTextsThatAreNoDatesAreLeftToTheRecordSet) {
  for (const char* text :
       {"2003-02-29", "2004-04-31", "2004-13-01", "2004-00-10", "2004-01-00", "0099-12-31",
        "2004-01-01T24:00:00", "2004-01-01T12:60:00", "2004-01-01T12:00:60"}) {
    SCOPED_TRACE(text);
    host.ClearRecords();
    // A good date of the same month first, so that the month is known.
    const std::string good = std::string(text).substr(0, 8) + "01";
    Load("<TermFees><T4><Effectivity>" + good + "</Effectivity></T4><T4><Effectivity>" + text +
         "</Effectivity></T4></TermFees>");
    FeeRecordSets reference;
    reference.OpenAll();
    RecordSet& rs = reference(4);
    rs.AddNew();
    bool converts = true;
    try {
      rs.SetValue("Effectivity", Value(std::string(text)));
    } catch (const ControlError&) {
      converts = false;
    }
    if (converts) {
      EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
      EXPECT_EQ(Field(4, 1, "Effectivity"), rs.GetValue("Effectivity"));
    } else {
      EXPECT_EQ(host.messages.size(), 1u);
    }
  }
}

// Plain decimals are read exactly as the general number conversion reads
// them: the nearest double (Double) and the float nearest to that (Single).
TEST_F(LoadingTest, PlainDecimalsBecomeTheNearestDoubleAndSingle) {
  const std::vector<std::string> texts = {"0.0722", "-1.5", "123456789012345",  "0.000000000000001",
                                          "0.1",    "-0",   "999999999999.999", "7.25",
                                          "0.3",    "2.675"};
  std::string xml = "<TermFees>";
  for (const std::string& t : texts) {
    xml += "<T5><Effectivity>2004-01-01</Effectivity><BetaAPR>" + t + "</BetaAPR></T5>";
    xml +=
        "<T1><Effectivity>2004-01-01</Effectivity><MembershipFee>1</MembershipFee>"
        "<Term>12</Term><MembershipRoyalty>" +
        t +
        "</MembershipRoyalty><MinimumRoyalty>1</MinimumRoyalty>"
        "<RoyaltyReserve>0.5</RoyaltyReserve></T1>";
  }
  Load(xml + "</TermFees>");
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const double nearest = std::strtod(texts[i].c_str(), nullptr);
    EXPECT_EQ(Field(5, i, "BetaAPR"), Value(nearest)) << texts[i];
    EXPECT_EQ(Field(1, i, "MembershipRoyalty"), Value(static_cast<float>(nearest))) << texts[i];
  }
}

// The records of a large document are converted on two threads; a fault in
// a record must still stop the reading exactly where it stands, after the
// values of that record that came before it.
TEST_F(LargeDocumentTest, AFaultInsideALateRecordKeepsTheValuesBeforeIt) {
  const GeneratedDocument doc = GenerateLoadDocument(6000, 7);
  const std::size_t end = doc.xml.rfind("</TermFees>");
  for (const char* bad : {"<Bogus>1</Bogus>", "<Term>twelve</Term>"}) {
    SCOPED_TRACE(bad);
    host.ClearRecords();
    std::string xml = doc.xml;
    xml.insert(end, std::string("<T1><Effectivity>2031-05-06</Effectivity>") + bad +
                        "<MembershipFee>1.00</MembershipFee></T1><T2/>");
    Load(xml);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(Total(), 6001u);
    const std::size_t last = doc.records[1];
    EXPECT_EQ(Field(1, last, "Effectivity"), Value(Date(2031, 5, 6)));
    EXPECT_TRUE(Field(1, last, "MembershipFee").IsNull());
  }
}

}  // namespace
}  // namespace harnolfees::testing
