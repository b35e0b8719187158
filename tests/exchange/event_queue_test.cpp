// The event queue that hosts without a message loop run from DoEvents.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "harnolfees/host.hpp"

namespace harnolfees {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(EventQueue, RunsPendingEventsInOrderLaterPostsNextAndKeepsTheRestWhenOneFails) {
  EventQueue queue;
  std::vector<int> ran;
  queue.Post([&] { ran.push_back(1); });
  queue.Post([&] {
    ran.push_back(2);
    queue.Post([&] { ran.push_back(3); });
  });
  EXPECT_FALSE(queue.Empty());
  EXPECT_EQ(queue.RunPending(0ms), 2);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(queue.RunPending(0ms), 1);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(queue.Empty());

  // A failing event keeps the rest queued.
  queue.Post([] { throw std::runtime_error("boom"); });
  queue.Post([&] { ran.push_back(4); });
  EXPECT_THROW(queue.RunPending(0ms), std::runtime_error);
  EXPECT_EQ(ran.size(), 3u);
  EXPECT_EQ(queue.RunPending(0ms), 1);
  EXPECT_EQ(ran.back(), 4);
}

TEST(EventQueue, WaitsForAnEventWithoutSpinningAndWakesWhenOneArrives) {
  EventQueue queue;
  auto start = Clock::now();
  EXPECT_EQ(queue.RunPending(30ms), 0);
  EXPECT_GE(Clock::now() - start, 25ms);

  bool ran = false;
  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    queue.Post([&] { ran = true; });
  });
  start = Clock::now();
  EXPECT_EQ(queue.RunPending(5s), 1);
  auto waited = Clock::now() - start;
  poster.join();
  EXPECT_TRUE(ran);
  EXPECT_LT(waited, 2s);
}

TEST(EventQueue, ManyThreadsPostingLoseNothing) {
  EventQueue queue;
  int ran = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) queue.Post([&] { ++ran; });
    });
  }
  for (auto& t : threads) t.join();
  while (queue.RunPending(0ms) > 0) {
  }
  EXPECT_EQ(ran, 2000);
}

}  // namespace
}  // namespace harnolfees
