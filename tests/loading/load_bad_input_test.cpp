// Documents that cannot be loaded: each ends the load with a clear message
// box, nothing crashes, and the next good load works. The faults of the load
// rules (a record set beyond 15, an undeclared field, a value of the wrong
// type, an access level without identifier) and a failed fetch are in the
// load_failures scenario, with what they leave shown.
#include <string>
#include <vector>

#include "loading/loading_fixture.hpp"

namespace harnolfees::testing {
namespace {

std::string Nested(int depth) {
  std::string xml = "<TermFees><T4><Effectivity>";
  for (int i = 0; i < depth; ++i) xml += "<n>";
  xml += "2004-01-01T00:00:00";
  for (int i = 0; i < depth; ++i) xml += "</n>";
  return xml + "</Effectivity></T4></TermFees>";
}

struct BadDocument {
  const char* name;
  std::string document;
  std::vector<std::string> said;  // each must be in the message
  // Whether the failure strikes while the document is read (after the record
  // sets were emptied) rather than before anything is touched.
  bool whileReading = false;
};

void PrintTo(const BadDocument& c, std::ostream* os) { *os << c.name; }

const BadDocument kBadDocuments[] = {
    {"Truncated",
     ReadTestData("load_truncated.xml"),
     {"probably truncated", "<T1>", "line 25",
      "http://fees.example/harnol/TermFeesAX.asp?Center=12"}},
    {"Latin1WithoutDeclaration",
     ReadTestData("load_latin1_undeclared.xml"),
     {"not valid UTF-8", "byte offset 94"}},
    {"UnsupportedEncoding", ReadTestData("load_shift_jis.xml"), {"'shift_jis'", "not supported"}},
    {"HtmlErrorPage",
     ReadTestData("load_error_page.html"),
     {"not well-formed XML", "</body>", "<br>"}},
    {"PlainTextReply", "Database unavailable, try later\r\n", {"text before the root element"}},
    {"EmptyReply", "", {"no root element"}},
    {"TwoRoots", "<TermFees/>\n<TermFees/>", {"second root element"}},
    {"NulCharacter",
     std::string("<TermFees><T4><Effectivity>2004\0", 32) + "</Effectivity></T4></TermFees>",
     {"NUL character"}},
    {"TenThousandNestedElements", Nested(10000), {"nested more than 256 levels deep"}},
    {"MismatchedEndTag",
     "<TermFees><T4></T2></TermFees>",
     {"</T2> does not match the start tag <T4>", "line 1, column 15"}},
    {"ValueEndTagWithALongerName",
     "<TermFees><T4><RenewalOptionFee>5</RenewalOptionFeeX></T4></TermFees>",
     {"</RenewalOptionFeeX> does not match the start tag <RenewalOptionFee>"}},
    {"ValueEndTagWithAShorterName",
     "<TermFees><T4><RenewalOptionFee>5</RenewalOption></T4></TermFees>",
     {"</RenewalOption> does not match the start tag <RenewalOptionFee>"}},
    {"DoctypeWithAnUnclosedQuote",
     "<?xml version=\"1.0\"?><!DOCTYPE TermFees \"x><TermFees/>",
     {"document type declaration that is not closed"}},
    {"UnclosedComment", "<TermFees><!-- <T4/> </TermFees>", {"comment that is not closed"}},
    {"UnquotedAttribute", "<TermFees><T4 kind=4/></TermFees>", {"not quoted"}},
    {"BareLessThan",
     "<TermFees><T4><RenewalOptionFee>1 < 2</RenewalOptionFee></T4></TermFees>",
     {"must be written &lt;"}},
    {"EnormousRecordSetNumber",
     "<TermFees><T" + std::string(100000, '9') + "/></TermFees>",
     {"Subscript out of range"},
     true},
    {"AccessLevelWithTextIdentifier",
     ReadTestData("load_accesslevel_bad_id.xml"),
     {"Type mismatch", "'three'", "'Gold'"},
     true},
    {"EmptyAccessLevel", "<TermFees><ACCESSLEVEL/></TermFees>", {"ACCESSLEVEL", "empty"}, true},
    {"VeryLongTextInAShortField",
     "<TermFees><T15><BankAccountTypeID>1</BankAccountTypeID><Description>" +
         std::string(1 << 20, 'x') + "</Description></T15></TermFees>",
     {"Description", "30 characters"},
     true},
    {"VeryLongNumber",
     "<TermFees><T4><Effectivity>2004-01-01</Effectivity><RenewalOptionFee>1" +
         std::string(400000, '0') + "</RenewalOptionFee></T4></TermFees>",
     {"RenewalOptionFee"},
     true},
};

class LoadBadInputTest : public LoadingTest, public ::testing::WithParamInterface<BadDocument> {};

TEST_P(LoadBadInputTest, EndsWithAClearMessageAndTheNextLoadWorks) {
  const BadDocument& bad = GetParam();
  LoadSample();
  ASSERT_TRUE(host.messages.empty());
  host.ClearRecords();

  Load(bad.document);

  ASSERT_EQ(host.messages.size(), 1u);
  const RecordedMessage& shown = host.messages[0];
  for (const std::string& part : bad.said) {
    EXPECT_NE(shown.prompt.find(part), std::string::npos)
        << "'" << part << "' missing from: " << shown.prompt;
  }
  EXPECT_LT(shown.prompt.size(), 1500u) << "a message box must stay readable";
  EXPECT_EQ(shown.buttons, 0);
  EXPECT_EQ(shown.title, "");
  EXPECT_EQ(host.pointers, (std::vector<int>{11, 0}));
  // Neither the grid nor the bank account types are touched by a failed load.
  EXPECT_EQ(surface().grdFees.TextMatrix(1, 0), "Jan 01, 2004");
  EXPECT_EQ(surface().cboBanckAccType.ListCount(), 2);
  if (bad.whileReading) {
    EXPECT_EQ(Count(3), 0u) << "the record sets were emptied before the document was read";
  } else {
    EXPECT_EQ(Count(1), 2u) << "a document that cannot be read must not cost the schedule";
    EXPECT_EQ(surface().cboAccessLevel.ListCount(), 2);
  }

  host.ClearRecords();
  LoadSample();
  EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_EQ(Count(1), 2u);
  EXPECT_EQ(Count(15), 2u);
  EXPECT_FALSE(control->recordSets()(1).HasPending());
}

INSTANTIATE_TEST_SUITE_P(Documents, LoadBadInputTest, ::testing::ValuesIn(kBadDocuments),
                         [](const auto& info) { return std::string(info.param.name); });

using LoadFailureTest = LoadingTest;

TEST_F(LoadFailureTest, TheRecordBeingAddedWhenTheFailureStruckStaysPending) {
  Load(ReadTestData("load_undeclared_field.xml"));

  ASSERT_EQ(host.messages.size(), 1u);
  // The first record ignores its empty undeclared element; the second fails
  // on Term with its date and fee already set; the third is not read.
  ASSERT_EQ(Count(2), 2u);
  EXPECT_TRUE(control->recordSets()(2).HasPending());
  EXPECT_EQ(Field(2, 1, "ValuePlusFee"), Value(Money::FromUnits(3200000)));
  EXPECT_TRUE(Field(2, 1, "OldEffectivity").IsNull());

  Load(ReadTestData("load_accesslevel_one_child.xml"));
  // The item is added before its identifier is looked for.
  EXPECT_EQ(List(surface().cboAccessLevel), (std::vector<std::string>{"Basic", "Gold"}));
  EXPECT_EQ(surface().cboAccessLevel.ItemData(1), 0);
  EXPECT_FALSE(control->recordSets()(2).HasPending());
}

}  // namespace
}  // namespace harnolfees::testing
