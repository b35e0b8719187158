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
    "<T15><BankAccountTypeID>1</BankAccountTypeID><Description>Checking</Description></T15>"
    "<T4><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
    "<RenewalOptionFee>30</RenewalOptionFee></T4>"
    "</Fees>";

const std::string kJoin = "   Unsuccessful attempt to ";

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
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

  Surface& S() { return ctl->surface(); }
  const ControlState& State() { return ctl->state(); }
  RecordSet& Rs(int i) { return ctl->recordSets()(i); }
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
};

// The posted form (body, header, hourglass) is in every tab scenario's post
// and received lines; the host member's plain encodings in host_members.
TEST_F(Submission, AStatementOutsideWindows1252IsRefusedBeforeAnythingIsSent) {
  Open();
  // The host member makes what Windows-1252 lacks, and broken UTF-8, "?" as
  // in a single-byte conversion.
  EXPECT_EQ(ctl->urlEncode("x\xE4\xB8\xADy\xFF"), "x%3Fy%3F");
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

// The server keys a confirmed save refreshes (the date, the APR type, the
// access level and travel flag) are in the tab05 and tab08 scenarios' dumps.
TEST_F(Submission, AConfirmedDeletionRemovesTheRecordAndClearsTheForm) {
  Open();
  // A renewal option fee of 20 March 2004, added and saved.
  S().tabFees.SetSelectedIndex(4);
  S().tabFees.Click();
  S().cmdAdd.Click();
  S().DTPicker1[0].SetValue(DateTime::FromParts(2004, 3, 20));
  S().txtField[1].SetText("45");
  S().cmdAdd.Click();
  ASSERT_EQ(Count(4), 2u);
  host.ClearRecords();

  // A refused deletion (the record and DeletePending stay) is in the replies
  // scenario.
  S().grdFees.SetRow(GridRowOf("Mar 20, 2004"));
  S().grdFees.SetCol(0);
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
  EXPECT_EQ(S().cboBanckAccType.ListIndex(), -1);
}

TEST_F(Submission, ErrorsInsideTheHandlerNeverReachTheCallerNorASubmissionInsideTheWait) {
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

  // A submission inside the wait is not sent.
  int nested = 0;
  host.onDoEvents = [&] {
    if (State().Submitting && nested++ == 0) ctl->SubmitStatement("UPDATE Y SET B = 2");
  };
  Reply(200, "", 50ms);
  ctl->SubmitStatement("UPDATE X SET A = 3");
  host.onDoEvents = nullptr;
  EXPECT_GT(nested, 0);
  EXPECT_EQ(
      server->ReceivedStatements(),
      (std::vector<std::string>{"UPDATE X SET A = 1", "UPDATE X SET A = 2", "UPDATE X SET A = 3"}));
}

TEST_F(Submission, AStalledServerCostsAlmostNoProcessorTimeWhileTheControlWaits) {
  Open();
  Reply(200, "", 2000ms);
  auto wallStart = Clock::now();
  const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double threadStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  ctl->SubmitStatement("UPDATE X SET A = 1");
  const double thread = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadStart;
  const double process = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart;
  double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  EXPECT_GE(wall, 1.9);
  // The waiting thread sleeps. No thread spins, which would cost a whole
  // core: the process's bound leaves room for the transfer's and the test
  // server's idle threads, which cost some 5 % under the sanitizers.
  EXPECT_LT(thread, 0.05 * wall) << "the waiting thread: " << thread << " s over " << wall << " s";
  EXPECT_LT(process, 0.25 * wall) << "the process: " << process << " s over " << wall << " s";
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace harnolfees::testing
