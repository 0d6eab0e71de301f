// Closing an endpoint while messages are in flight: close waits for the running callback,
// nothing is delivered after it returns, and a callback may close its own endpoint.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

using bustest::Gate;
using bustest::TestEndpoint;

TEST(BusClose, WaitsForTheRunningCallbackAndDeliversNothingAfterwards) {
  Gate entered, release;
  std::atomic<bool> callbackFinished{false};
  TestEndpoint endpoint("busClose", [&](const bustest::Received&) -> uint32_t {
    entered.open();
    release.wait();
    callbackFinished = true;
    return kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);

  uint32_t firstStatus = 1;
  std::thread sender([&] { bustest::send("busClose", "<first/>", &firstStatus); });
  entered.wait();
  // Queued behind the running callback; must be answered without being delivered.
  int queuedResult = 0;
  std::thread queued([&] {
    uint32_t status = 0;
    queuedResult = bustest::send("busClose", "<queued/>", &status);
  });

  bool finishedWhenCloseReturned = false;
  std::thread closer([&] {
    endpoint.close();
    finishedWhenCloseReturned = callbackFinished.load();
  });
  // The callback may return only once the close is under way, or the queued message would
  // rightly be delivered first. The close says that it waits for the callback (after a few
  // seconds): nothing earlier shows that it has begun.
  ASSERT_TRUE(kivtest::waitFor(
      [] { return kivtest::traced("still waiting for a callback of endpoint busClose"); }));
  release.open();
  closer.join();
  sender.join();
  queued.join();

  EXPECT_TRUE(finishedWhenCloseReturned);
  EXPECT_EQ(firstStatus, kSmTaken);
  EXPECT_EQ(endpoint.calls(), 1);
  EXPECT_EQ(queuedResult, kSmErrNoListener);
  uint32_t status = 0;
  EXPECT_EQ(bustest::send("busClose", "<late/>", &status), kSmErrNoListener);
  EXPECT_EQ(endpoint.calls(), 1);
}

struct SelfClosing {
  SMENDPOINT handle = 0;
  std::atomic<int> calls{0};
  std::atomic<int> closeResult{-1};
};

TEST(BusClose, ACallbackMayCloseItsOwnEndpoint) {
  const unsigned char options[4] = {1, 0, 0, 0};
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  SelfClosing state;
  auto callback = [](void*, void*, void*, int, SmMessage*, void* context) -> uint32_t {
    auto* self = static_cast<SelfClosing*>(context);
    self->calls++;
    self->closeResult = SmCloseEndPoint(self->handle);
    return 5;
  };
  ASSERT_EQ(SmOpenEndPointU("busSelf", 0, callback, 0, &state, &state.handle), 0);
  uint32_t status = 0;
  ASSERT_EQ(bustest::send("busSelf", "<x/>", &status), 0);
  EXPECT_EQ(status, 5u);
  EXPECT_EQ(state.closeResult.load(), 0);
  // The delivery thread finishes on its own once the callback has returned.
  EXPECT_TRUE(kivtest::waitFor([] {
    uint32_t ignored = 0;
    return bustest::send("busSelf", "<x/>", &ignored, 1000) == kSmErrNoListener;
  }));
  EXPECT_EQ(state.calls.load(), 1);
  EXPECT_EQ(SmDeinitialize(), 0);
}
