// A bus endpoint for tests: initialises the bus, opens the endpoint with a handler and closes
// both again when the test ends; records what every callback received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "TQSMCAPI.h"
#include "tqUtilities.h"

namespace bustest {

struct Received {
  std::string text;
  uint32_t length;
  int kind;
  int isLocal;
};

class TestEndpoint {
 public:
  using Handler = std::function<uint32_t(const Received&)>;

  explicit TestEndpoint(const char* name, Handler handler = nullptr) : handler_(std::move(handler)) {
    const unsigned char options[4] = {1, 0, 0, 0};
    SmInitialize(options, nullptr);
    openResult_ = SmOpenEndPointU(name, 0, &TestEndpoint::callback, 0, this, &handle_);
  }
  ~TestEndpoint() {
    close();
    SmDeinitialize();
  }
  TestEndpoint(const TestEndpoint&) = delete;
  TestEndpoint& operator=(const TestEndpoint&) = delete;

  int openResult() const { return openResult_; }
  SMENDPOINT handle() const { return handle_; }
  int close() {
    if (openResult_ != 0 || closed_) return 0;
    closed_ = true;
    return SmCloseEndPoint(handle_);
  }

  std::vector<Received> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  int calls() const { return calls_.load(); }

 private:
  static uint32_t callback(void* first, void*, void* third, int kind, SmMessage* message,
                           void* context) {
    auto* self = static_cast<TestEndpoint*>(context);
    Received got{std::string(message->text), message->length, kind, -1};
    SmIsLocalMessage(first, third, &got.isLocal);
    {
      std::lock_guard lock(self->mutex_);
      self->received_.push_back(got);
    }
    self->calls_.fetch_add(1);
    return self->handler_ ? self->handler_(got) : kSmTaken;
  }

  Handler handler_;
  SMENDPOINT handle_ = 0;
  int openResult_ = -1;
  bool closed_ = false;
  std::mutex mutex_;
  std::vector<Received> received_;
  std::atomic<int> calls_{0};
};

// Where the bus's TCP listener listens once the bus starts in this home ("tcp://127.0.0.1:0"
// for a free port, traced when it listens).
inline void configureTcpListener(const wchar_t* address) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->setStringW(L"dlox/common/kiv/bus", L"tcplisten", address, 0), 0);
  config->Release();
}

// Sends text to a local endpoint; the status lands in *status.
inline int send(const char* endpoint, const std::string& text, uint32_t* status,
                int timeoutMs = 20000) {
  return SmSend(endpoint, text.data(), static_cast<uint32_t>(text.size()), status, timeoutMs);
}

// A one-shot gate a callback can wait on; no sleeps.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }
  bool isOpen() {
    std::lock_guard lock(mutex_);
    return open_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

}  // namespace bustest
