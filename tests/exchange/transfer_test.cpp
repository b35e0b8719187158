// The libcurl transfer component against local servers, well-behaved and not.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "harnolfees/host.hpp"
#include "support/fake_host.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kHeader = "Content-Type: application/x-www-form-urlencoded";

struct Fixture {
  FakeHost host;
  std::unique_ptr<Transfer> transfer;
  std::vector<int> states;
  std::vector<std::string> replies;

  explicit Fixture(NetworkTimeouts timeouts = {}) {
    transfer = MakeCurlTransfer(host, timeouts);
    transfer->onStateChanged = [this](int state) {
      states.push_back(state);
      std::string reply;
      for (std::string chunk; !(chunk = transfer->GetChunk(1024)).empty();) {
        EXPECT_LE(chunk.size(), 1024u);
        reply += chunk;
      }
      replies.push_back(reply);
    };
  }

  void Post(const std::string& url, const std::string& body) {
    transfer->Execute(url, "Post", body, kHeader);
  }

  // Yields like the control's wait; returns how long the transfer took.
  Clock::duration Wait(Clock::duration limit = 10s) {
    auto start = Clock::now();
    while (transfer->StillExecuting() && Clock::now() - start < limit) host.DoEvents();
    return Clock::now() - start;
  }
};

TEST(CurlTransfer, PostsTheBodyAndHeaderGetsAPageAndDeliversTheReplyInChunks) {
  TestHttpServer server;
  std::string longReply(3000, 'x');
  longReply += "end";
  server.QueueReply({200, "", 0ms});
  server.QueueReply({200, longReply, 0ms});
  Fixture f;
  f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=DELETE+FROM+X+WHERE+A+%3D+%27b%27");
  EXPECT_TRUE(f.transfer->StillExecuting());
  f.Wait();
  f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=SELECT+1");
  f.Wait();
  // A GET sends no body and delivers the page's.
  server.SetDocument("<Fees/>");
  f.transfer->Execute(server.BaseUrl() + "TermFeesAX.asp?Center=12", "Get", "", "");
  f.Wait();

  EXPECT_FALSE(f.transfer->StillExecuting());
  EXPECT_EQ(f.states, (std::vector<int>{12, 12, 12}));
  EXPECT_EQ(f.replies, (std::vector<std::string>{"", longReply, "<Fees/>"}));
  EXPECT_EQ(server.RequestedPaths().back(), "/TermFeesAX.asp?Center=12");
  EXPECT_EQ(server.ReceivedBodies(),
            (std::vector<std::string>{"SQL=DELETE+FROM+X+WHERE+A+%3D+%27b%27", "SQL=SELECT+1"}));
  EXPECT_EQ(server.ReceivedContentTypes(),
            (std::vector<std::string>{"application/x-www-form-urlencoded",
                                      "application/x-www-form-urlencoded"}));
  EXPECT_EQ(f.transfer->GetChunk(1024), "");
}

// A status other than 200 with a text is in the replies scenario; without one
// the reply must still not be empty, which would confirm. Windows-1252 bytes
// are converted (the replies scenario), UTF-8 is kept.
TEST(CurlTransfer, RepliesArriveAsUtf8AndAStatusOtherThan200IsNeverEmpty) {
  TestHttpServer server;
  server.QueueReply({404, "", 0ms});
  server.QueueReply({200, "Caf\xE9 \x80", 0ms});
  server.QueueReply({200, "Caf\xC3\xA9", 0ms});
  Fixture f;
  for (int i = 0; i < 3; ++i) {
    f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=x");
    f.Wait();
  }
  EXPECT_EQ(f.states, (std::vector<int>{12, 12, 12}));
  EXPECT_EQ(f.replies, (std::vector<std::string>{"HTTP 404 Not Found\r\n",
                                                 "Caf\xC3\xA9 \xE2\x82\xAC", "Caf\xC3\xA9"}));
}

// A refused connection: the network_failure scenario.
TEST(CurlTransfer, NetworkFailuresEndInState11) {
  // The server resets the connection after reading the request.
  {
    FaultyServer server(FaultMode::Reset);
    Fixture f;
    f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=x");
    EXPECT_LT(f.Wait(), 5s);
    EXPECT_EQ(f.states, (std::vector<int>{11}));
    EXPECT_EQ(server.Accepted(), 1);
  }
  // The server accepts and never answers: the total time-out ends it.
  {
    FaultyServer server(FaultMode::Silent);
    Fixture f(NetworkTimeouts{1000ms, 300ms});
    f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=x");
    auto took = f.Wait();
    EXPECT_EQ(f.states, (std::vector<int>{11}));
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3s);
  }
  // An operation the component does not offer.
  {
    Fixture f;
    f.transfer->Execute("http://127.0.0.1:1/", "Put", "", "");
    f.Wait();
    EXPECT_EQ(f.states, (std::vector<int>{11}));
  }
}

TEST(CurlTransfer, ASlowlyDribbledReplyArrivesWhole) {
  FaultyServer server(FaultMode::Dribble, "   ", 2ms);
  Fixture f;
  f.Post(server.BaseUrl() + "TermFeesAX.asp", "SQL=x");
  f.Wait();
  EXPECT_EQ(f.states, (std::vector<int>{12}));
  EXPECT_EQ(f.replies, (std::vector<std::string>{"   "}));
}

TEST(CurlTransfer, CancelOrANewExecuteEndsATransferPromptlyAndNothingOfItArrivesLater) {
  TestHttpServer good;
  FaultyServer silent(FaultMode::Silent);
  Fixture f;
  f.Post(silent.BaseUrl() + "TermFeesAX.asp", "SQL=stalled");
  std::this_thread::sleep_for(50ms);
  auto start = Clock::now();
  f.transfer->Cancel();
  EXPECT_FALSE(f.transfer->StillExecuting());
  // The worker is free again at once: the next transfer does not wait for
  // the abandoned one.
  f.Post(good.BaseUrl() + "TermFeesAX.asp", "SQL=next");
  f.Wait();
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(f.states, (std::vector<int>{12}));
  EXPECT_EQ(good.ReceivedBodies(), (std::vector<std::string>{"SQL=next"}));

  // A notification already queued when Cancel comes is dropped.
  f.Post(good.BaseUrl() + "TermFeesAX.asp", "SQL=stale");
  for (auto deadline = Clock::now() + 5s; f.host.events.Empty() && Clock::now() < deadline;) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_FALSE(f.host.events.Empty());
  f.transfer->Cancel();
  f.host.events.RunPending(0ms);
  EXPECT_EQ(f.states, (std::vector<int>{12}));

  // Execute while running abandons the first transfer.
  f.Post(silent.BaseUrl() + "TermFeesAX.asp", "SQL=first");
  f.Post(good.BaseUrl() + "TermFeesAX.asp", "SQL=second");
  EXPECT_LT(f.Wait(), 1s);
  EXPECT_EQ(f.states, (std::vector<int>{12, 12}));
  EXPECT_EQ(good.ReceivedBodies(),
            (std::vector<std::string>{"SQL=next", "SQL=stale", "SQL=second"}));
}

TEST(CurlTransfer, DestructionDuringATransferIsPromptAndLeavesNoNotification) {
  FaultyServer silent(FaultMode::Silent);
  FakeHost host;
  bool notified = false;
  auto start = Clock::now();
  {
    auto transfer = MakeCurlTransfer(host);
    transfer->onStateChanged = [&](int) { notified = true; };
    transfer->Execute(silent.BaseUrl() + "TermFeesAX.asp", "Post", "SQL=x", kHeader);
    std::this_thread::sleep_for(30ms);
  }
  EXPECT_LT(Clock::now() - start, 1s);
  host.events.RunPending(0ms);
  EXPECT_FALSE(notified);
}

}  // namespace
}  // namespace harnolfees::testing
