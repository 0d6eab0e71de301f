// Where an endpoint's local senders reach it: the system's local transport (a Unix socket on
// Linux, a named pipe on Windows) and the ownership of the endpoint name that comes with it.
// The endpoint's delivery thread drives it, and after open() only that thread calls it (wake()
// aside): it services what has arrived (each request to the callback, the answer back), then
// waits.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "framework/TQSMCAPI/Wire.h"

namespace kiv::bus {

class LocalListener {
 public:
  // Answers one request (null when it was malformed) from the process `senderPid` (0 when
  // not known).
  using Handle = std::function<Reply(const std::string* text, int senderPid)>;

  LocalListener();
  ~LocalListener();
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Takes the endpoint name for this process and starts listening: 0, or
  // kSmErrEndpointInUse while another open endpoint holds the name, or kSmErrTransport.
  int open(const std::string& name);

  // Blocks until a request may have arrived or wake() was called; false when waiting is no
  // longer possible. A wake is used up by the wait it ends, so one that comes after the
  // wait has returned ends the next wait at once.
  bool wait();
  // Ends a wait; callable from any thread.
  void wake();

  // Answers the requests that have arrived through `handle`, and makes ready for more.
  void serviceRequests(const Handle& handle);

  // Answers every request still waiting with `leftover`, then frees the name. The answers
  // already sent still reach their senders.
  void close(const Reply& leftover);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kiv::bus
