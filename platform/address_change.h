// Address-change notification: one netlink route socket per address family, readable
// whenever that family's address list has changed since it was last re-armed.
#pragma once

#include <memory>

#include "platform/event.h"

namespace kiv::platform {

enum class AddressFamily { kIPv4, kIPv6 };

// Set-up is split into the steps a caller may want to report one by one: open, make
// non-blocking, request notification (bind), then join the family's change group.
class AddressChangeSocket {
 public:
  // Null when no socket could be opened (errno set).
  static std::unique_ptr<AddressChangeSocket> open(AddressFamily family);
  ~AddressChangeSocket();
  AddressChangeSocket(const AddressChangeSocket&) = delete;
  AddressChangeSocket& operator=(const AddressChangeSocket&) = delete;

  // Each false on failure, errno set.
  bool setNonBlocking();
  bool requestNotification();
  bool joinChangeGroup();

  // Readable while a change is pending.
  WaitHandle handle() const { return unwaitable_ ? WaitHandle{} : WaitHandle{fd_, false}; }
  // Drops every pending notification without blocking so that the next change signals
  // afresh. True when something was pending; a receive-buffer overflow counts as pending,
  // since changes were lost there.
  bool rearm();

 private:
  AddressChangeSocket(AddressFamily family, int fd) : family_(family), fd_(fd) {}
  AddressFamily family_;
  int fd_;
  bool unwaitable_ = false;  // test hook: hand out a handle every wait refuses
};

namespace testing {
// Set-up steps that a test can make fail (with EPERM) for one family; kWait hands out a
// handle that no wait accepts, so every wait on it fails.
enum class AddressChangeStep { kNone, kOpen, kNonBlocking, kRequest, kJoin, kWait };
void failAddressChangeStep(AddressFamily family, AddressChangeStep step);
#ifdef _WIN32
// Signals every open socket of the family as if its address list had changed. Wine
// completes SIO_ADDRESS_LIST_CHANGE requests but never reports FD_ADDRESS_LIST_CHANGE
// through WSAEventSelect, so the Windows tests cannot make a real change seen.
void signalAddressChange(AddressFamily family);
#endif
}  // namespace testing

}  // namespace kiv::platform
