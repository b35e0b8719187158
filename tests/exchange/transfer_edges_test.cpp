// Paths of the exchange that the ordinary round trips do not take: replies of
// many megabytes, a reply too large to be an error text, and a transfer
// handed to the control without its notification wired.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "harnolfees/control.hpp"
#include "support/fake_host.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const char* kDocument =
    "<Fees><HIDETravelOption/><T4><CenterID>12</CenterID><Effectivity>2004-03-01</Effectivity>"
    "<RenewalOptionFee>30</RenewalOptionFee></T4></Fees>";

// A control on tab 4 with one loaded renewal option fee, an add of a second
// one filled in and ready to be saved.
struct Tab4Add {
  TestHttpServer server;
  FakeHost host;
  std::unique_ptr<HarnolFeesCtlCenter> ctl;

  Tab4Add() {
    ctl = std::make_unique<HarnolFeesCtlCenter>(host, MakeCurlTransfer(host, {2000ms, 20000ms}),
                                                std::make_unique<FakeFetcher>(kDocument));
    ctl->LoadData(server.BaseUrl(), 12, "03/15/2004");
    Surface& s = ctl->surface();
    s.tabFees.SetSelectedIndex(4);
    s.tabFees.Click();
    s.cmdAdd.Click();
    s.txtField[1].SetText("45");
    host.ClearRecords();
  }
};

TEST(LargeReplies, TenMegabytesAreTheServersErrorTextAndBeyondSixteenATransferFailure) {
  Tab4Add f;
  const std::string body = "E" + std::string(10 * 1024 * 1024, 'x') + "E";
  f.server.QueueReply({200, body, 0ms});
  f.ctl->surface().cmdAdd.Click();
  ASSERT_EQ(f.host.messages.size(), 1u);
  const RecordedMessage& m = f.host.messages[0];
  EXPECT_EQ(m.prompt.size(), body.size() + std::string("   Unsuccessful attempt to ").size() +
                                 f.ctl->state().LastStatement.size());
  EXPECT_EQ(m.prompt.compare(0, body.size(), body), 0);
  // What a refusal leaves (the form adding, the record pending) is in the
  // replies scenario. Beyond sixteen megabytes the reply is a transfer
  // failure.
  f.host.ClearRecords();
  f.server.QueueReply({200, std::string(17 * 1024 * 1024, 'y'), 0ms});
  const auto start = Clock::now();
  f.ctl->surface().cmdAdd.Click();
  EXPECT_LT(Clock::now() - start, 15s);
  ASSERT_EQ(f.host.messages.size(), 1u);
  EXPECT_EQ(f.host.messages[0].prompt, " Error !  ");  // the box: network_failure scenario
  EXPECT_EQ(f.ctl->surface().tabFees.Tag(), "1");
  EXPECT_EQ(f.host.pointer, 0);
  // The next save, answered normally, goes through.
  f.host.ClearRecords();
  f.ctl->surface().cmdAdd.Click();
  EXPECT_TRUE(f.host.messages.empty());
  EXPECT_EQ(f.ctl->surface().tabFees.Tag(), "0");
  int records = 0;
  f.ctl->recordSets()(4).ForEachRecord([&](const std::vector<Value>&) { ++records; });
  EXPECT_EQ(records, 2);
}

// A transfer whose notification is no longer wired to the control still has
// its outcome taken up by the submission.
TEST(UnwiredTransfer, TheSubmissionWiresTheNotificationItself) {
  FakeHost host;
  auto owned = std::make_unique<FakeTransfer>();
  FakeTransfer* transfer = owned.get();
  HarnolFeesCtlCenter ctl(host, std::move(owned), std::make_unique<FakeFetcher>(kDocument));
  ctl.LoadData("http://127.0.0.1:9/", 12, "03/15/2004");
  transfer->onStateChanged = nullptr;
  host.onDoEvents = [&] {
    if (transfer->executing) transfer->Complete("  Invalid object name 'X'.");
  };
  ctl.SubmitStatement("DELETE FROM X");
  ASSERT_EQ(transfer->requests.size(), 1u);
  EXPECT_EQ(transfer->requests[0].body, "SQL=DELETE+FROM+X");
  ASSERT_EQ(host.messages.size(), 1u);
  // Handed over directly, the statement is not the workflows' LastStatement.
  EXPECT_EQ(host.messages[0].prompt,
            "  Invalid object name 'X'.   Unsuccessful attempt to " + ctl.state().LastStatement);
  EXPECT_TRUE(static_cast<bool>(transfer->onStateChanged));
}

}  // namespace
}  // namespace harnolfees::testing
