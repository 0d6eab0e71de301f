// One open endpoint: its local listener (which holds the name) and the delivery thread that
// calls the callback one message at a time, for local messages and for those relayed from
// the TCP listener.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/LocalListener.h"
#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {

class TcpRelay;

// Passed as a callback's third argument; SmIsLocalMessage tells them apart.
extern const char kLocalOrigin;
extern const char kRemoteOrigin;

class Endpoint : public std::enable_shared_from_this<Endpoint> {
 public:
  // 0 and the bound endpoint, or a kSmErr code. Delivery begins with start().
  static int open(const std::string& name, SmCallback callback, void* context,
                  const std::shared_ptr<TcpRelay>& relay,
                  std::shared_ptr<Endpoint>* endpoint);
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  const std::string& name() const { return name_; }

  // Starts the delivery thread; everything written before is visible to the callbacks.
  void start();

  // Queues a message from the TCP listener; false once the endpoint is closing.
  bool enqueueRemote(uint64_t ticket, std::string text);

  // Stops delivery. Called from any other thread it returns only when no callback runs
  // any more and the name is free again. Called from a callback of this endpoint it only
  // stops delivery: that callback is the last one and the thread ends after it returns.
  void close();

 private:
  struct Remote {
    uint64_t ticket;
    std::string text;
  };

  Endpoint(std::string name, SmCallback callback, void* context);
  int bind(const std::shared_ptr<TcpRelay>& relay);
  void run();
  void serviceRemote();
  Reply deliver(const std::string* text, const char* origin, int senderPid);
  void refuseLeftovers();
  void release();
  void wake();
  void waitUntilFinished();

  const std::string name_;
  const SmCallback callback_;
  void* const context_;
  LocalListener listener_;
  std::shared_ptr<TcpRelay> relay_;
  std::thread thread_;
  std::atomic<bool> closing_{false};

  std::mutex inboxMutex_;
  std::deque<Remote> inbox_;

  std::mutex doneMutex_;
  std::condition_variable doneChanged_;
  bool done_ = false;
};

}  // namespace kiv::bus
