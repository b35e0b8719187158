// A document is read while it arrives. Whatever the pieces it arrives in, and
// wherever the reading has to stop and wait for more, the load must end
// exactly as the load of the same document arriving whole: the same record
// sets, lists and grid, and the same message, word for word.
#include <cstddef>
#include <string>
#include <vector>

#include "loading/loading_fixture.hpp"
#include "support/document_generator.hpp"

namespace harnolfees::testing {
namespace {

// A document that arrives byte by byte is first read on after this many
// bytes, then after as many again.
constexpr std::size_t kFirstStop = 128 * 1024;

class StreamingTest : public LoadingTest {
 protected:
  // What a load leaves to see: every record, the lists and the grid.
  std::string Shown() {
    std::string out;
    for (int set = 1; set <= 15; ++set) {
      for (const auto& record : Records(set)) {
        out += std::to_string(set) + ":";
        for (const Value& v : record) out += " [" + (v.IsNull() ? "Null" : v.ToText()) + "]";
        out += "\n";
      }
    }
    for (const ComboBox* box : {&surface().cboTerm, &surface().cboType, &surface().cboBitwise,
                                &surface().cboAPRType, &surface().cboAccessLevel}) {
      for (const std::string& item : List(*box)) out += "item: " + item + "\n";
    }
    const Grid& grid = surface().grdFees;
    for (int r = 0; r < grid.Rows(); ++r) {
      for (int c = 0; c < grid.Cols(); ++c) out += grid.TextMatrix(r, c) + "|";
      out += "\n";
    }
    return out;
  }

  // The messages and what is shown after a new control has loaded `before`
  // whole (when given), then `document` in pieces of `pieceSize` bytes (0:
  // whole).
  std::string Outcome(const std::string& document, std::size_t pieceSize,
                      const std::string& before = "") {
    SetUp();
    if (!before.empty()) Load(before);
    host.ClearRecords();
    fetcher->pieceSize = pieceSize;
    Load(document);
    std::string out;
    for (const auto& message : host.messages) out += "message: " + message.prompt + "\n";
    return out + Shown();
  }

  // The outcome of the document arriving whole, checked against its arrival
  // in pieces of the given sizes.
  void ExpectSameInPieces(const std::string& document, const std::vector<std::size_t>& sizes,
                          const std::string& before = "") {
    const std::string whole = Outcome(document, 0, before);
    for (std::size_t size : sizes) {
      EXPECT_EQ(Outcome(document, size, before), whole) << "pieces of " << size << " bytes";
    }
  }
};

const char* const kRecord =
    "<T1><CenterID>12</CenterID><Effectivity>2004-01-01T00:00:00</Effectivity>"
    "<MembershipFee>891.21</MembershipFee><Term>48</Term>"
    "<MembershipRoyalty>0.0722</MembershipRoyalty><MinimumRoyalty>52.18</MinimumRoyalty>"
    "<RoyaltyReserve>0.0286</RoyaltyReserve></T1>\n";

// Root children that fill the document up to about `bytes`.
std::string Filler(std::size_t bytes) {
  std::string out;
  while (out.size() + 400 < bytes) out += kRecord;
  out += "<!--" + std::string(bytes - out.size() - 7, ' ') + "-->";
  return out;
}

// Each kind of markup, and text of one- to four-byte characters, placed so
// that the reading has to stop at each of its bytes in turn.
TEST_F(StreamingTest, MarkupCutWhereTheReadingStopsReadsAsWhenWhole) {
  const std::vector<std::string> pieces = {
      "<!-- a comment, with <T2> inside -->",
      "<?fees processing instruction?>",
      "<T15><BankAccountTypeID>3</BankAccountTypeID><Description><![CDATA[Savings <&>]]>"
      "</Description></T15>",
      "<T15 note=\"a > b\" other='x/y'><BankAccountTypeID>4</BankAccountTypeID>"
      "<Description>Montr\xC3\xA9"
      "al \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9D\x84\x9E</Description></T15>",
      "<T15><BankAccountTypeID>5</BankAccountTypeID><Description>Plain &amp; simple"
      "</Description   ></T15  >",
      "<T4/>",
      "<SHOWTravelOption/>",
  };
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TermFees>\n";
  for (const std::string& piece : pieces) {
    SCOPED_TRACE(piece);
    for (std::size_t at = 0; at <= piece.size(); ++at) {
      const std::string document =
          head + Filler(kFirstStop - head.size() - at) + piece + kRecord + "</TermFees>\n";
      ASSERT_EQ(document.find(piece), kFirstStop - at);
      ExpectSameInPieces(document, {1});
      // The markup above is read, not refused.
      ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
    }
  }
}

// A document that ends early, wherever it ends, gets the message it gets when
// it arrives whole.
TEST_F(StreamingTest, ADocumentCutShortGetsTheSameMessage) {
  const std::string head = "<TermFees>";
  const std::string tail =
      "<T15 note=\"a > b\"><Description><![CDATA[x]]></Description></T15><!-- c "
      "--><?p?></TermFees>";
  const std::string full = head + Filler(kFirstStop - head.size() - 3) + tail;
  for (std::size_t cut = full.size() - tail.size() - 5; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    ExpectSameInPieces(full.substr(0, cut), {1, 7});
    ASSERT_EQ(host.messages.size(), 1u);
  }
}

// Faults of every kind, in documents large enough to be read as they
// arrive: the same message, and the same records read before a fault that is
// found once the schedule was emptied.
TEST_F(StreamingTest, FaultsGetTheSameMessageAndKeepTheSameRecords) {
  const std::string records = Filler(3 * kFirstStop);
  const std::string good = "<TermFees>" + records + "</TermFees>";
  const std::vector<std::string> documents = {
      // The tree is not sound: nothing is emptied.
      "<TermFees>" + records + "<T1></T2></TermFees>",
      "<TermFees>" + records + "</TermFees><Extra/>",
      "<TermFees>" + records + "<T1 a=b/></TermFees>",
      "<TermFees>" + records + "<!DOCTYPE x></TermFees>",
      // The tree is sound; the reading meets the fault.
      "<TermFees>" + records + "<T16/></TermFees>",
      "<TermFees>" + records + "<T1><Bogus>1</Bogus></T1></TermFees>",
      "<TermFees>" + records + "<T1><Term>twelve</Term></T1></TermFees>",
      "<TermFees>" + records + "<T4><? ?></T4></TermFees>",
      // Not UTF-8, after a fault of the tree and before one: the encoding
      // goes first either way.
      "<TermFees>" + records + "<T1></T2>\xC3(</TermFees>",
      "<TermFees>" + records + "<T1></T2>" + records + "\xC3(</TermFees>",
      "<TermFees>\xFF" + records + "<T1></T2></TermFees>",
      "<TermFees>" + records + std::string(1, '\0') + "</TermFees>",
  };
  for (const std::string& document : documents) {
    SCOPED_TRACE(document.substr(document.size() - 60));
    // A schedule shown before, for a fault to keep or empty.
    ExpectSameInPieces(document, {1, 16 * 1024, 100 * 1000 + 1}, good);
    EXPECT_EQ(host.messages.size(), 1u);
  }
  // A multi-byte character that the arrival cuts in two is no fault.
  for (std::size_t at = 0; at <= 3; ++at) {
    const std::string open = "<TermFees>", field = "<T15><Description>";
    const std::string document = open + Filler(kFirstStop - at - open.size() - field.size()) +
                                 field + "\xE6\x97\xA5</Description></T15></TermFees>";
    ASSERT_EQ(document.find("\xE6"), kFirstStop - at);
    ExpectSameInPieces(document, {1});
    EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  }
}

// The other encodings are read once the document is whole; the way they
// arrive makes no difference either.
TEST_F(StreamingTest, OtherEncodingsReadTheSameInPieces) {
  for (const char* name :
       {"load_latin1_declared.xml", "load_latin1_undeclared.xml", "load_shift_jis.xml",
        "load_center12.xml", "load_truncated.xml", "load_error_page.html"}) {
    SCOPED_TRACE(name);
    ExpectSameInPieces(ReadTestData(name), {1, 3});
  }
  std::string utf16 = "\xFF\xFE";
  for (char c :
       std::string("<TermFees><T4><RenewalOptionFee>5</RenewalOptionFee></T4></TermFees>")) {
    utf16 += c;
    utf16 += '\0';
  }
  ExpectSameInPieces(utf16, {1, 5});
  EXPECT_EQ(Count(4), 1u);
}

// A large document is read whole, in order, and the same in the pieces a
// transfer hands on, with and without its length announced. A transfer that
// fails after part of it arrived ends the load with its own message and
// leaves the schedule shown as it was; the next load works.
TEST_F(StreamingTest, ALargeDocumentReadsTheSameInTransferSizedPiecesAndAFailureKeepsIt) {
  const GeneratedDocument doc = GenerateLoadDocument(6000, 7);
  const std::string whole = Outcome(doc.xml, 0);
  for (int set = 1; set <= 15; ++set) EXPECT_EQ(Count(set), doc.records[set]) << set;
  EXPECT_EQ(static_cast<std::size_t>(surface().cboAccessLevel.ListCount()), doc.accessLevels);
  // Document order within a record set: the dates ascend.
  EXPECT_LT(Field(1, 0, "Effectivity").ToDate(), Field(1, 399, "Effectivity").ToDate());
  for (std::size_t size : {16 * 1024, 1000}) {
    for (bool announce : {true, false}) {
      SetUp();
      fetcher->pieceSize = size;
      fetcher->announce = announce;
      Load(doc.xml);
      EXPECT_TRUE(host.messages.empty());
      EXPECT_EQ(Shown(), whole) << size << " " << announce;
    }
  }

  fetcher->pieceSize = 16 * 1024;
  fetcher->announce = true;
  fetcher->failure = "The fee schedule could not be loaded from " + std::string(kBaseUrl) +
                     ": the connection was reset.";
  for (std::size_t after :
       {std::size_t{0}, std::size_t{100}, doc.xml.size() / 2, doc.xml.size() - 1, doc.xml.size()}) {
    SCOPED_TRACE(after);
    fetcher->failAfter = after;
    host.ClearRecords();
    control->LoadData(kBaseUrl, 12, "3/15/2004");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].prompt, *fetcher->failure);
    EXPECT_EQ(Shown(), whole);
  }
  fetcher->failure.reset();
  host.ClearRecords();
  control->LoadData(kBaseUrl, 12, "3/15/2004");
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(Records(1).size(), doc.records[1]);
}

// Root children that hold only text are where the reading may cut the
// document into batches: each cut must fall after the child's end tag.
TEST_F(StreamingTest, RootChildrenOfTextAloneAreCutAfterTheirEndTags) {
  std::string document = "<Fees>";
  while (document.size() < 3 * kFirstStop) document += "<Note>text of a note</Note>\n";
  document += std::string(kRecord) + "</Fees>";
  for (std::size_t size : {std::size_t{0}, std::size_t{4096}}) {
    Outcome(document, size);
    EXPECT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
    EXPECT_EQ(Count(1), 1u) << "pieces of " << size << " bytes";
  }
}

}  // namespace
}  // namespace harnolfees::testing
