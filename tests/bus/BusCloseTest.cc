// Closing an endpoint while messages are in flight: close waits for the running callback,
// nothing is delivered after it returns, a callback may close its own endpoint, and a close
// right after a remote message is never lost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
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

// The endpoint's thread clears its wake signal after it has handled the remote messages
// that raised it; a close that comes meanwhile raises the same signal, and must not be
// cleared away with theirs, or the thread waits for ever and the close with it.
TEST(BusClose, ACloseWhileARemoteMessageIsHandledIsNeverLost) {
  bustest::configureTcpListener(L"tcp://127.0.0.1:0");
  // Keeps the bus, and with it the TCP listener, up until the end.
  TestEndpoint keeper("busCloseKeeper");
  ASSERT_EQ(keeper.openResult(), 0);
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_FALSE(address.empty());

  Gate entered;
  TestEndpoint endpoint("busCloseRemote", [&](const bustest::Received& got) -> uint32_t {
    if (got.text != "<first/>") return kSmTaken;
    entered.open();
    // Returns once the close has begun: from then on a remote message is turned away at
    // once, without waiting for this thread.
    kivtest::waitFor([&] {
      uint32_t ignored = 0;
      return SmSendTo(address.c_str(), "busCloseRemote", "<probe/>", 8, &ignored, 100) == kSmErrNoListener;
    });
    return kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);

  int sent = -1;
  uint32_t status = 0;
  std::thread sender([&] { sent = SmSendTo(address.c_str(), "busCloseRemote", "<first/>", 8, &status, 20000); });
  entered.wait();
  std::promise<void> closed;
  std::future<void> done = closed.get_future();
  std::thread closer([&] {
    endpoint.close();
    closed.set_value();
  });
  const bool inTime = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!inTime) {
    // A sender's connection wakes the lost thread, so that the test can end.
    uint32_t ignored = 0;
    bustest::send("busCloseRemote", "<wake/>", &ignored, 1000);
  }
  closer.join();
  sender.join();
  EXPECT_TRUE(inTime) << "the close was lost";
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(status, kSmTaken);
}
