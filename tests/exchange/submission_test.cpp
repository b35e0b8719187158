// Statement submission and the reply handling of the control, against local
// servers: what is posted, how replies are read, and what a confirmation or
// a failure does to the record sets and the entry form.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "harnolfees/control.hpp"
#include "harnolfees/encoding.hpp"
#include "support/fake_host.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* kDocument =
    "<Fees><TERM><I>12</I><I>24</I></TERM>"
    "<CTYPE><Description>Standard</Description><Description>Premium</Description></CTYPE>"
    "<BVALUE><Description>Visa</Description><Description>Amex</Description></BVALUE>"
    "<APRTYPE><Description>Fixed</Description><Description>Variable</Description></APRTYPE>"
    "<ACCESSLEVEL><D>Silver</D><I>2</I></ACCESSLEVEL>"
    "<ACCESSLEVEL><D>Gold</D><I>3</I></ACCESSLEVEL>"
    "<T15><BankAccountTypeID>1</BankAccountTypeID><Description>Checking</Description></T15>"
    "<SHOWTravelOption/>"
    "<T4><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
    "<RenewalOptionFee>30</RenewalOptionFee></T4>"
    "<T5><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity><BetaAPR>0.07</BetaAPR>"
    "<BetaAPRTypeID>1</BetaAPRTypeID></T5>"
    "</Fees>";

const std::string kJoin = "   Unsuccessful attempt to ";

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class Submission : public ::testing::Test {
 protected:
  std::unique_ptr<TestHttpServer> server = std::make_unique<TestHttpServer>();
  FakeHost host;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  // A control whose statements go to `baseUrl` (the test server by default);
  // the load document comes from a fetch that ignores the address.
  void Open(std::string baseUrl = "", NetworkTimeouts timeouts = {2000ms, 10000ms}) {
    if (baseUrl.empty()) baseUrl = server->BaseUrl();
    ctl = std::make_unique<HarnolFeesCtlCenter>(host, MakeCurlTransfer(host, timeouts),
                                                std::make_unique<FakeFetcher>(kDocument));
    ctl->LoadData(baseUrl, 12, "03/15/2004");
    host.ClearRecords();
  }
  void TearDown() override { ctl.reset(); }

  Surface& S() { return ctl->surface(); }
  const ControlState& State() { return ctl->state(); }
  RecordSet& Rs(int i) { return ctl->recordSets()(i); }
  void Tab(int tab) {
    S().tabFees.SetSelectedIndex(tab);
    S().tabFees.Click();
  }
  void Reply(int status, std::string body, std::chrono::milliseconds delay = 0ms) {
    server->QueueReply({status, std::move(body), delay});
  }
  std::size_t Count(int i) {
    std::size_t n = 0;
    Rs(i).ForEachRecord([&](const std::vector<Value>&) { ++n; });
    return n;
  }
  int GridRowOf(const std::string& dateText) {
    for (int r = 1; r < S().grdFees.Rows(); ++r) {
      if (S().grdFees.TextMatrix(r, 0) == dateText) return r;
    }
    return -1;
  }
  // Adds a renewal option fee of 20 March 2004 and presses Save.
  void SaveNewRenewalOptionFee(const std::string& amount = "45") {
    Tab(4);
    S().cmdAdd.Click();
    S().DTPicker1[0].SetValue(DateTime::FromParts(2004, 3, 20));
    S().txtField[1].SetText(amount);
    S().cmdAdd.Click();
  }
  void ExpectFailureShown(const std::string& reply) {
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.LastMessage().prompt, reply + kJoin + State().LastStatement);
    EXPECT_EQ(host.LastMessage().buttons, 16);
    EXPECT_EQ(host.LastMessage().title, "Terms Fees - ERROR");
  }
};

TEST_F(Submission, PostsTheEncodedStatementWithTheFormHeaderAndWaitsUnderTheHourglass) {
  Open();
  bool sawWait = false;
  host.onDoEvents = [&] {
    if (State().Submitting && host.pointer == 11) sawWait = true;
  };
  Reply(200, "", 50ms);
  ctl->SubmitStatement("DELETE FROM X WHERE A = 'b'");
  host.onDoEvents = nullptr;

  EXPECT_EQ(server->ReceivedBodies(),
            std::vector<std::string>{"SQL=DELETE+FROM+X+WHERE+A+%3D+%27b%27"});
  EXPECT_EQ(server->ReceivedContentTypes(),
            std::vector<std::string>{"application/x-www-form-urlencoded"});
  EXPECT_EQ(server->RequestedPaths(), std::vector<std::string>{"/TermFeesAX.asp"});
  EXPECT_TRUE(sawWait);
  EXPECT_FALSE(State().Submitting);
  ASSERT_GE(host.pointers.size(), 2u);
  EXPECT_EQ(host.pointers.front(), 11);
  EXPECT_EQ(host.pointer, 0);
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(Submission, UrlEncodeOfTheHostMember) {
  Open();
  EXPECT_EQ(ctl->urlEncode("a b'=\r\n~50%\xC3\xA9-_.*"), "a+b%27%3D%0D%0A%7E50%25%E9-_.*");
  EXPECT_EQ(ctl->urlEncode(""), "");
  // What Windows-1252 lacks, and broken UTF-8, become "?" as in a
  // single-byte conversion.
  EXPECT_EQ(ctl->urlEncode("x\xE4\xB8\xADy\xFF"), "x%3Fy%3F");
}

TEST_F(Submission, AStatementOutsideWindows1252IsRefusedBeforeAnythingIsSent) {
  Open();
  ctl->SubmitStatement("UPDATE X SET Name = '\xE4\xB8\xAD'");
  EXPECT_TRUE(server->ReceivedBodies().empty());
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.LastMessage().buttons, 64);
  EXPECT_EQ(host.LastMessage().title, "Centers");
  EXPECT_NE(host.LastMessage().prompt.find("Windows-1252"), std::string::npos);
  EXPECT_TRUE(host.pointers.empty());
  EXPECT_FALSE(State().Submitting);
  EXPECT_EQ(Count(4), 1u);
  EXPECT_FALSE(Rs(4).HasPending());
}

TEST_F(Submission, ConfirmedSavesRefreshTheServerKeysOfTheRecord) {
  Open();
  // Tab 5: OldType follows the saved APR type.
  Tab(5);
  S().cmdAdd.Click();
  S().DTPicker1[0].SetValue(DateTime::FromParts(2004, 3, 20));
  S().txtField[1].SetText("7.5");
  S().cboAPRType.SetListIndex(1);
  S().cmdAdd.Click();
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  Rs(5).Find("Effectivity='3/20/2004'", true);
  ASSERT_TRUE(Rs(5).HasCurrentRecord());
  EXPECT_EQ(Rs(5).GetValue("OldEffectivity").ToText(), "3/20/2004");
  EXPECT_EQ(Rs(5).GetValue("BetaAPRTypeID").ToText(), "2");
  EXPECT_EQ(Rs(5).GetValue("OldType").ToText(), "2");
  EXPECT_FALSE(Rs(5).HasPending());

  // Tab 8: the access level and travel bit of a confirmed fee become its key,
  // so that editing it at once addresses the row the server holds.
  Tab(8);
  S().cmdAdd.Click();
  S().DTPicker1[0].SetValue(DateTime::FromParts(2004, 3, 20));
  S().cboAccessLevel.SetText("Gold");
  S().chkTravel.SetValue(1);
  S().txtField[2].SetText("99");
  S().txtField[3].SetText("60");
  S().cmdAdd.Click();
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  ASSERT_EQ(Count(8), 1u);
  Rs(8).MoveFirst();
  EXPECT_EQ(Rs(8).GetValue("OldMemberAccessLevelID"), Value(std::int16_t{3}));
  EXPECT_EQ(Rs(8).GetValue("OldTravelMembership"), Value(std::int16_t{1}));

  S().grdFees.SetRow(1);
  S().cmdEdit.Click();
  S().txtField[2].SetText("105");
  S().cmdAdd.Click();
  ASSERT_TRUE(host.messages.empty()) << host.LastMessage().prompt;
  EXPECT_NE(
      State().LastStatement.find("WHERE  EffectivityDate = '3/20/2004' AND CenterID = 12 AND "
                                 "isnull(TravelMembership,0) = 1 AND MemberAccessLevelID = 3"),
      std::string::npos)
      << State().LastStatement;
}

TEST_F(Submission, AConfirmedDeletionRemovesTheRecordAndClearsTheForm) {
  Open();
  SaveNewRenewalOptionFee();
  ASSERT_EQ(Count(4), 2u);

  // Refused first: the record, the form and DeletePending stay.
  int row = GridRowOf("Mar 20, 2004");
  ASSERT_GT(row, 0);
  S().grdFees.SetRow(row);
  S().grdFees.SetCol(0);
  host.QueueAnswer(msgbox::kAnswerYes);
  Reply(200, "The DELETE statement conflicted with the REFERENCE constraint");
  S().cmdDelete.Click();
  ExpectFailureShown("The DELETE statement conflicted with the REFERENCE constraint");
  EXPECT_NE(State().LastStatement.find("DELETE FROM RENEWALOPTIONFEE"), std::string::npos);
  EXPECT_TRUE(State().DeletePending);
  EXPECT_EQ(Count(4), 2u);
  EXPECT_EQ(State().RefusedPendingTab, 0);

  // Confirmed.
  host.ClearRecords();
  host.QueueAnswer(msgbox::kAnswerYes);
  host.onMsgBox = [&](const RecordedMessage&) {
    S().cboTerm.SetListIndex(0);
    S().cboBanckAccType.SetListIndex(0);
  };
  S().cmdDelete.Click();
  host.onMsgBox = nullptr;
  EXPECT_EQ(host.messages.size(), 1u);  // the question only
  EXPECT_FALSE(State().DeletePending);
  EXPECT_EQ(Count(4), 1u);
  EXPECT_EQ(GridRowOf("Mar 20, 2004"), -1);
  ASSERT_EQ(host.outcomes.size(), 1u);
  EXPECT_EQ(host.outcomes[0].kind, ExchangeOutcome::Kind::Deleted);
  EXPECT_EQ(host.outcomes[0].effectiveDate, "Mar 20, 2004");
  for (int i = 1; i <= 7; ++i) EXPECT_EQ(S().txtField[i].Text(), "") << i;
  EXPECT_EQ(S().cboTerm.ListIndex(), -1);
  EXPECT_EQ(S().cboType.ListIndex(), -1);
  EXPECT_EQ(S().cboAPRType.ListIndex(), -1);
  EXPECT_EQ(S().cboBitwise.ListIndex(), -1);
  EXPECT_EQ(S().cboBanckAccType.ListIndex(), -1);
}

TEST_F(Submission, ErrorsInsideTheHandlerNeverReachTheCaller) {
  Open();
  host.onMsgBox = [](const RecordedMessage&) { throw std::runtime_error("host failure"); };
  Reply(200, "refused");
  EXPECT_NO_THROW(ctl->SubmitStatement("UPDATE X SET A = 1"));
  EXPECT_FALSE(State().Submitting);
  EXPECT_EQ(host.messages.size(), 1u);

  // A failing event of the host during the wait neither ends the wait early
  // nor escapes.
  host.onMsgBox = nullptr;
  host.ClearRecords();
  bool thrown = false;
  host.onDoEvents = [&] {
    if (!thrown) {
      thrown = true;
      throw std::runtime_error("another event failed");
    }
  };
  Reply(200, "refused again", 30ms);
  EXPECT_NO_THROW(ctl->SubmitStatement("UPDATE X SET A = 2"));
  host.onDoEvents = nullptr;
  EXPECT_TRUE(thrown);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.LastMessage().prompt, "refused again" + kJoin + State().LastStatement);
}

TEST_F(Submission, ASubmissionInsideTheWaitIsNotSent) {
  Open();
  int nested = 0;
  host.onDoEvents = [&] {
    if (State().Submitting && nested++ == 0) ctl->SubmitStatement("UPDATE Y SET B = 2");
  };
  Reply(200, "", 50ms);
  ctl->SubmitStatement("UPDATE X SET A = 1");
  host.onDoEvents = nullptr;
  EXPECT_GT(nested, 0);
  EXPECT_EQ(server->ReceivedStatements(), std::vector<std::string>{"UPDATE X SET A = 1"});
}

TEST_F(Submission, AStalledServerCostsAlmostNoProcessorTimeWhileTheControlWaits) {
  Open();
  Reply(200, "", 2000ms);
  auto wallStart = Clock::now();
  double cpuStart = ProcessCpuSeconds();
  ctl->SubmitStatement("UPDATE X SET A = 1");
  double cpu = ProcessCpuSeconds() - cpuStart;
  double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  EXPECT_GE(wall, 1.9);
  EXPECT_LT(cpu, 0.05 * wall) << "cpu " << cpu << " s over " << wall << " s";
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace harnolfees::testing
