// The browser editor's sessions: message boxes that wait for the page,
// expiry, stopping, and the cookie and token rules.
#include "session.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "web_front.hpp"

namespace harnolfees::web {
namespace {

using namespace std::chrono_literals;

SessionConfig Offline() {
  SessionConfig c;
  c.feeServer = "http://127.0.0.1:9/";
  c.serverDate = "7/15/2005";
  return c;
}

TEST(WebSession, AMessageBoxWaitsForThePageAndAnIdleSessionEndsAnsweringNo) {
  SessionRegistry registry(Offline(), 2, std::chrono::seconds(60));
  auto s = registry.Create("clerk", "pw", 1);
  auto busy = registry.Create("clerk", "pw", 1);
  ASSERT_TRUE(s && busy);
  EXPECT_EQ(registry.Create("clerk", "pw", 1), nullptr) << "the limit holds";
  std::atomic<int> answer{0};
  auto ask = [&](const char* prompt) {
    return s->Post([&answer, prompt](Session& self) {
      answer = self.MsgBox(prompt, msgbox::kYesNo + msgbox::kQuestion, "Harnol");
    });
  };
  const auto floor = s->MessageFloor();
  auto ticket = ask("Delete it?");
  s->WaitSettled(ticket, floor, 10s);
  ASSERT_FALSE(ticket->done);
  ASSERT_TRUE(s->Waiting());
  EXPECT_NE(s->Snapshot()->find(R"("prompt":"Delete it?","buttons":36,"title":"Harnol")"),
            std::string::npos);
  EXPECT_FALSE(s->Answer(floor + 1, msgbox::kAnswerOk)) << "a Yes/No box has no OK";
  EXPECT_FALSE(s->Answer(floor + 2, msgbox::kAnswerYes)) << "no such box";
  ASSERT_TRUE(s->Answer(floor + 1, msgbox::kAnswerYes));
  auto mark = s->Post([](Session&) {});
  s->WaitSettled(mark, floor + 1, 10s);
  EXPECT_TRUE(ticket->done);
  EXPECT_EQ(answer, msgbox::kAnswerYes);
  EXPECT_NE(s->Snapshot()->find(R"("message":null)"), std::string::npos);

  // A box left unanswered: the session ends answering No, unless it is busy.
  ticket = ask("Save?");
  s->WaitSettled(ticket, floor + 1, 10s);
  ASSERT_TRUE(s->Waiting());
  auto busyTicket = busy->Post([](Session& self) { self.BusyChanged(true); });
  busy->WaitSettled(busyTicket, 0, 10s);
  EXPECT_EQ(registry.ExpireIdle(Session::Clock::now() + 30s), 0);
  EXPECT_EQ(registry.ExpireIdle(Session::Clock::now() + 2min), 1);
  EXPECT_EQ(answer, msgbox::kAnswerNo);
  EXPECT_EQ(registry.Find(s->id()), nullptr);
  EXPECT_EQ(registry.Find(busy->id()), busy) << "a save on its way is never cut off";
  busy->Post([](Session& self) { self.BusyChanged(false); });
}

TEST(WebFront, StoppingEndsTheLongPollsAtOnce) {
  WebOptions o;
  o.port = 0;
  o.feeServer = Offline().feeServer;
  o.serverDate = "7/15/2005";
  WebFront front(o);
  const int port = front.Bind();
  std::thread serving([&front] { front.Serve(); });
  const std::string cookie =
      std::string(kCookieName) + "=" + front.sessions().Create("clerk", "pw", 1)->id();
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(60, 0);
  EXPECT_TRUE(client.Get("/health")) << "serving";
  int status = 0;
  std::thread polling([&] {
    if (auto r = client.Get("/api/events?since=1000000", {{"Cookie", cookie}})) status = r->status;
  });
  std::this_thread::sleep_for(1s);  // the poll is in hand: it waits up to 20 s for news
  const auto stop = std::chrono::steady_clock::now();
  front.Stop();
  polling.join();
  serving.join();
  EXPECT_EQ(status, 200) << "the poll had begun and got its answer";
  EXPECT_LT(std::chrono::steady_clock::now() - stop, 10s) << "not held to its 20 s";
}

TEST(WebTokens, CookiesAndTokens) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string t = RandomToken();
    EXPECT_EQ(t.size(), 64u);
    EXPECT_EQ(t.find_first_not_of("0123456789abcdef"), std::string::npos);
    seen.insert(t);
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_TRUE(TokensEqual("abc", "abc"));
  EXPECT_FALSE(TokensEqual("abc", "abd"));
  EXPECT_FALSE(TokensEqual("abc", "abcd"));
  EXPECT_FALSE(TokensEqual("", "")) << "a missing token is never a match";

  EXPECT_EQ(CookieValue("a=1; hfsession=xyz; b=2", "hfsession"), "xyz");
  EXPECT_EQ(CookieValue("xhfsession=1;hfsession=2", "hfsession"), "2");
  EXPECT_EQ(CookieValue("a=1", "hfsession"), "");

  EXPECT_EQ(SessionCookie("xyz", false), "hfsession=xyz; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(SessionCookie("xyz", true), "hfsession=xyz; Path=/; HttpOnly; SameSite=Strict; Secure");
  EXPECT_NE(SessionCookie("", true).find("Max-Age=0"), std::string::npos);
}

}  // namespace
}  // namespace harnolfees::web
