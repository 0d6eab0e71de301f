// Interfaces of the tqOSServices components: threads, mutexes and locks, terminal-services
// sessions and their users, and running processes.
#pragma once

#include <cstdint>

#include "ITQImpl.h"
#include "platform/event.h"

// Mutex objects (named: system-wide; unnamed: in-process) and lock objects share this shape.
// A mutex whose owning thread ended without unlocking it is abandoned: the next thread to
// lock it holds it. lock answers 0 then as always; tryLock answers
// kiv::platform::kWaitAbandoned instead of 0, for a caller that wants to know.
struct ITQOSLock : ITQImpl {
  virtual int lock() = 0;  // 0 when held, abandoned or not
  virtual int unlock() = 0;
  // Like lock, but gives up after timeoutMs (kiv::platform::kInfinite waits for ever);
  // 0 (or kWaitAbandoned) when held, kiv::platform::kWaitTimeout otherwise.
  virtual int tryLock(uint32_t timeoutMs) = 0;
};

// Whether an answer of lock or tryLock means the lock is now held.
inline bool lockObtained(int answer) {
  return answer == 0 || answer == static_cast<int>(kiv::platform::kWaitAbandoned);
}

struct ITQOSThread : ITQImpl {
  // Returns only after the thread function has returned.
  virtual int wait() = 0;
};

// The thread function gets the thread object as its first argument and the caller's
// argument as its second.
using TQThreadFunction = int (*)(void* first, void* argument);

struct TQOSThreadControl : ITQImpl {
  virtual bool startThread(TQThreadFunction function, int flags, void* argument,
                           ITQOSThread** thread) = 0;
  virtual bool createMutex(const wchar_t* name, int value, ITQOSLock** mutex) = 0;
  virtual bool createLock(ITQOSLock** lock) = 0;
};

struct TQOSSessionUser : ITQImpl {
  virtual const wchar_t* userName() = 0;
  virtual const wchar_t* domainName() = 0;
  virtual const wchar_t* accountName() = 0;  // domain, backslash, user
  virtual const wchar_t* uri() = 0;
};

struct TQOSTerminalServices : ITQImpl {
  // 1: one session namespace only; anything else: sessions share a global namespace.
  virtual int query() = 0;
  // 0 when a user is logged on in that session.
  virtual int querySessionUser(uint32_t session, TQOSSessionUser** user) = 0;
};

// Connection states as terminal services number them.
enum TQSessionState : int {
  kTQSessionActive = 0,
  kTQSessionConnected = 1,
  kTQSessionConnectQuery = 2,
  kTQSessionShadow = 3,
  kTQSessionDisconnected = 4,
  kTQSessionIdle = 5,
  kTQSessionListen = 6,
  kTQSessionReset = 7,
  kTQSessionDown = 8,
  kTQSessionInit = 9,
};

struct TQOSTSEnum : ITQImpl {
  virtual uint32_t count() = 0;
  virtual int getSession(uint32_t index, uint32_t* session, int reserved, int* state) = 0;
};

struct TQOSProcess : ITQImpl {
  // Signalled when the process has ended.
  virtual kiv::platform::WaitHandle handle() = 0;
};

struct TQOSProcessEnum : ITQImpl {
  virtual int refresh() = 0;
  // Finds a running process by image name (the executable's base name), without regard
  // to case.
  virtual bool findProcess(const wchar_t* imageName, TQOSProcess** process) = 0;
};
