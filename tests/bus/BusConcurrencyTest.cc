// Many senders at once: every one is answered, and the callback never runs twice at a time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

TEST(BusConcurrency, ManySendersOnSeveralThreadsAreAllAnswered) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 200;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  bustest::TestEndpoint endpoint("busMany", [&](const bustest::Received& got) -> uint32_t {
    if (inside.fetch_add(1) != 0) overlapped = true;
    // The status echoes the message so each sender can check it got its own answer.
    const uint32_t status = static_cast<uint32_t>(std::stoul(got.text.substr(3)));
    inside.fetch_sub(1);
    return status;
  });
  ASSERT_EQ(endpoint.openResult(), 0);

  std::atomic<int> wrong{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([t, &wrong] {
      for (int i = 0; i < kPerThread; ++i) {
        const uint32_t expected = static_cast<uint32_t>(t * 100000 + i);
        uint32_t status = 0;
        if (bustest::send("busMany", "<n>" + std::to_string(expected), &status) != 0 ||
            status != expected) {
          wrong++;
        }
      }
    });
  }
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(endpoint.calls(), kThreads * kPerThread);
  EXPECT_FALSE(overlapped.load());
}

TEST(BusConcurrency, CloseDuringABurstLeavesNoCallbackRunning) {
  std::atomic<bool> closed{false};
  std::atomic<int> afterClose{0};
  bustest::TestEndpoint endpoint("busBurst", [&](const bustest::Received&) -> uint32_t {
    if (closed.load()) afterClose++;
    return kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&stop] {
      while (!stop.load()) {
        uint32_t status = 0;
        if (bustest::send("busBurst", "<x/>", &status, 2000) == kSmErrNoListener) return;
      }
    });
  }
  ASSERT_TRUE(kivtest::waitFor([&] { return endpoint.calls() > 50; }));
  endpoint.close();
  closed = true;
  stop = true;
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(afterClose.load(), 0);
}
