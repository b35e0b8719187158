#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <tuple>

#include "driver_test_util.hpp"
#include "headless_host.hpp"
#include "support/test_http_server.hpp"

namespace harnolfees::testing {
namespace {

TEST(ScriptRun, ErrorsThatStopTheScriptGiveExitTwoAndTheLine) {
  for (const auto& [script, line, message] : std::vector<std::tuple<const char*, int, const char*>>{
           {"dump\n\n# c\nfrobnicate\ndump\n", 4, "unknown command"},
           {"cell 25 0\ndump\n", 1, "there is no grid cell (25, 0)"},
           {"cell 1 6\n", 1, "the grid has 25 rows and 6 columns"},
           {"select cboTerm 0\n", 1, "there is no item 0 in cboTerm"},
           {"date 0 someday\n", 1, "\"someday\" is not a date"},
       }) {
    ScriptRun run = RunInProcess(script);
    EXPECT_EQ(run.status, 2) << script;
    const auto errors = run.Named("error");
    ASSERT_EQ(errors.size(), 1u) << run.raw;
    EXPECT_EQ(errors[0]["line"].Int(), line) << script;
    EXPECT_NE(errors[0]["message"].text.find(message), std::string::npos)
        << errors[0]["message"].text;
    // Nothing after the failing line runs.
    EXPECT_EQ(run.events.back()["event"].text, "error") << script;
  }
}

// A refused operator action is reported with its line and the script goes on;
// what scripts do to the form is pinned by the scenarios under conformance/.
TEST(ScriptRun, ARefusedActionIsReportedAndTheScriptGoesOn) {
  ScriptRun run =
      RunInProcess("load \"\" 12 03/15/2004\ndate 1 03/15/2004\ndate 0 1500-01-01\ndump\n");
  EXPECT_EQ(run.status, 0) << run.raw;
  const auto errors = run.Named("error");
  ASSERT_EQ(errors.size(), 1u) << run.raw;
  EXPECT_EQ(errors[0]["line"].Int(), 3);
  EXPECT_NE(errors[0]["message"].text.find("outside the range of DTPicker1(0)"), std::string::npos);
  const auto dumps = run.Named("dump");
  ASSERT_EQ(dumps.size(), 1u);
  const Json& w = dumps[0]["widgets"];
  EXPECT_EQ(w["DTPicker1"][1]["Value"].text, "2004-03-15");
  EXPECT_NE(w["DTPicker1"][0]["Value"].text, "1500-01-01");
}

// The scenarios run against addresses without credentials; these must reach
// the network but never a line of the output.
TEST(ScriptRun, CredentialsOfTheAddressNeverReachTheOutput) {
  TestHttpServer server;
  server.SetDocument(kDocument);
  const std::string address = "127.0.0.1:" + std::to_string(server.Port()) + "/";
  ScriptRun run = RunInProcess("load http://ann:s3cret@" + address +
                               " 12 03/15/2004\ntab 4\nclick cmdAdd\ndate 0 2004-04-01\n"
                               "type 1 25\nclick cmdAdd\ncell 1\nanswer yes\nclick cmdDelete\n");
  EXPECT_EQ(run.status, 0) << run.raw;
  const auto posts = run.Named("post");
  const auto bodies = server.ReceivedBodies();
  ASSERT_EQ(posts.size(), 2u) << run.raw;
  ASSERT_EQ(bodies.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(posts[i]["url"].text, "http://" + address + "TermFeesAX.asp");
    EXPECT_EQ(posts[i]["body"].text, bodies[i]);
  }
  EXPECT_NE(bodies[1].find("DELETE"), std::string::npos);
  EXPECT_EQ(run.Named("get").at(0)["url"].text, "http://" + address + "TermFeesAX.asp?Center=12");
  EXPECT_EQ(run.raw.find("s3cret"), std::string::npos) << run.raw;
}

// How the host answers message boxes (a queued answer for a Yes/No box,
// otherwise No; other boxes OK) and reports focus moves is pinned by the
// msgbox and focus events of the scenarios under conformance/.
TEST(HeadlessHost, KeepsAQueuedAnswerForAQuestionAndWaitsOnDoEventsWithoutSpinning) {
  std::ostringstream out;
  driver::EventOutput events(&out);
  driver::HeadlessHost host(events);
  host.QueueAnswer(true);
  EXPECT_EQ(host.MsgBox("Saved", msgbox::kInformation, ""), msgbox::kAnswerOk);
  EXPECT_EQ(host.MsgBox("Again?", msgbox::kYesNo, ""), msgbox::kAnswerYes);
  int ran = 0;
  host.PostEvent([&] { ++ran; });
  host.DoEvents();
  EXPECT_EQ(ran, 1);
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  for (int i = 0; i < 5; ++i) host.DoEvents();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_LT(std::clock() - cpuStart, CLOCKS_PER_SEC / 20);  // slept, did not spin
}

}  // namespace
}  // namespace harnolfees::testing
