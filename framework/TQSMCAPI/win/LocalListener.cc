// Local endpoints on Windows: a named pipe per endpoint, served by the delivery thread with
// overlapped I/O.
//
// Ownership of the name is the file KIV_HOME\run\bus\NAME.lock, held open without sharing
// (a second opener is refused, and the system closes it when its holder dies), together with
// the pipe's first instance, created with FILE_FLAG_FIRST_PIPE_INSTANCE so that nobody else
// can already be serving that pipe. Wine does not enforce that flag; the lock file holds there
// too. At least one instance stays open from open() to close().
//
// Each instance serves one sender at a time: it listens, reads a request (length, then
// text), answers it, and listens again when the sender hangs up. While every instance is
// busy, another one is made, up to what one wait can cover; beyond that senders wait their
// turn (WaitNamedPipe). Instances are never disconnected while an answer may be unread: on
// close their handles are only closed, which leaves the answers already written readable.
//
// A sender silent for the idle time is disconnected. While every instance is taken, the
// one silent longest makes room after a moment: senders waiting their turn cannot be seen,
// and a flood of idle clients must not lock them out. Instances made during a flood stay
// (at most what one wait covers): a listening instance can never be closed safely, since a
// sender may connect to it at any moment before its handle is gone, and would then be told
// that nobody listens.
#include "framework/TQSMCAPI/LocalListener.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/ConnectionLimits.h"
#include "framework/TQSMCAPI/RefusalLog.h"
#include "framework/TQSMCAPI/WaitTimeout.h"
#include "framework/TQSMCAPI/win/PipeName.h"
#include "framework/TQSMCAPI/win/PipeSecurity.h"
#include "platform/home.h"
#include "platform/utf8.h"
#include "platform/win/unique_handle.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

using platform::win::UniqueHandle;
using Clock = std::chrono::steady_clock;

// One wait covers the wake event and one event per instance.
constexpr size_t kMaxInstances = MAXIMUM_WAIT_OBJECTS - 1;
constexpr DWORD kBufferBytes = 64 * 1024;
// An answer fits any pipe buffer; a sender whose pipe is full of unread answers is dropped.
constexpr DWORD kAnswerWriteMs = 5000;
// Requests are read in pieces of at most this size; one over the size limit is read away
// piece by piece, then refused.
constexpr size_t kReadChunk = 64 * 1024;
// While every instance is taken, a sender silent this long makes room for the next.
constexpr auto kMakeRoomAfter = std::chrono::seconds(1);

struct Instance {
  enum class Phase { kListening, kLength, kText, kDead };
  UniqueHandle pipe;
  UniqueHandle event;  // manual reset: the pending operation has completed
  OVERLAPPED overlapped{};
  bool pending = false;
  Phase phase = Phase::kListening;
  unsigned char length[win::kLengthBytes] = {};
  uint32_t announced = 0;  // the request's length
  size_t got = 0;          // bytes of the current part read so far
  std::string text;        // the request, or scratch space while a too large one is read away
  int pid = 0;             // the sender's process id, 0 when not known
  Clock::time_point heard;  // when the sender connected or its last bytes came
};

bool serving(const Instance& in) {
  return in.phase == Instance::Phase::kLength || in.phase == Instance::Phase::kText;
}

// Ends the operation in flight, if any, so that the instance can be reused or closed.
void settle(Instance& in) {
  if (!in.pending) return;
  CancelIo(in.pipe.get());
  DWORD bytes = 0;
  GetOverlappedResult(in.pipe.get(), &in.overlapped, &bytes, TRUE);
  in.pending = false;
}

bool oversized(const Instance& in) { return in.announced > kSmMaxMessage; }

std::unique_ptr<Instance> createInstance(const std::wstring& name, win::PipeSecurity& security,
                                         bool first) {
  auto in = std::make_unique<Instance>();
  in->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!in->event) return nullptr;
  const DWORD openMode =
      PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  // Senders on other machines never reach a local endpoint: their messages come through the
  // TCP listener, which marks them as remote.
  const DWORD pipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  in->pipe.reset(CreateNamedPipeW(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                  kBufferBytes, kBufferBytes, 0, security.attributes()));
  if (!in->pipe) return nullptr;
  return in;
}

OVERLAPPED* rearm(Instance& in) {
  ResetEvent(in.event.get());
  in.overlapped = OVERLAPPED{};
  in.overlapped.hEvent = in.event.get();
  return &in.overlapped;
}

// Starts the next read of the current request. False when the sender has gone.
bool startRead(Instance& in) {
  void* into = nullptr;
  size_t want = 0;
  if (in.phase == Instance::Phase::kLength) {
    into = in.length + in.got;
    want = win::kLengthBytes - in.got;
  } else if (oversized(in)) {
    into = in.text.data();
    want = std::min(kReadChunk, static_cast<size_t>(in.announced) - in.got);
  } else {
    // The text grows with what arrives: the announced length alone costs nothing.
    want = std::min(kReadChunk, static_cast<size_t>(in.announced) - in.got);
    in.text.resize(in.got + want);
    into = in.text.data() + in.got;
  }
  if (ReadFile(in.pipe.get(), into, static_cast<DWORD>(want), nullptr, rearm(in)) ||
      GetLastError() == ERROR_IO_PENDING) {
    in.pending = true;
    return true;
  }
  return false;
}

// Writes the answer to the request just read. False when the sender cannot take it.
bool writeAnswer(Instance& in, const Reply& reply) {
  const std::string bytes = encodeReply(reply);
  OVERLAPPED* overlapped = rearm(in);
  DWORD written = 0;
  if (!WriteFile(in.pipe.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                 overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(in.event.get(), kAnswerWriteMs) != WAIT_OBJECT_0) {
      CancelIo(in.pipe.get());
      GetOverlappedResult(in.pipe.get(), overlapped, &written, TRUE);
      return false;
    }
  }
  return GetOverlappedResult(in.pipe.get(), overlapped, &written, TRUE) &&
         written == bytes.size();
}

// The sender has gone (or broke the protocol): the instance listens for the next one. Its
// buffer goes too: instances stay for the process's life, and each would otherwise keep the
// room of the largest request it ever read.
void hangUp(Instance& in) {
  DisconnectNamedPipe(in.pipe.get());
  in.phase = Instance::Phase::kListening;
  in.got = 0;
  std::string().swap(in.text);
  in.pid = 0;
}

// Takes in `bytes` that the completed read brought. True when the request is complete.
bool received(Instance& in, DWORD bytes) {
  in.got += bytes;
  if (in.phase == Instance::Phase::kLength) {
    if (in.got < win::kLengthBytes) return false;
    in.announced = win::readLength(in.length);
    in.phase = Instance::Phase::kText;
    in.got = 0;
    if (oversized(in)) {
      in.text.assign(kReadChunk, '\0');
    } else {
      in.text.clear();
    }
  }
  return in.got == in.announced;
}

int clientPid(const Instance& in) {
  ULONG pid = 0;
  return GetNamedPipeClientProcessId(in.pipe.get(), &pid) ? static_cast<int>(pid) : 0;
}

// Takes the endpoint's lock file: 0, kSmErrEndpointInUse or kSmErrTransport.
int lockName(const std::string& name, UniqueHandle* lock) {
  std::string error;
  const std::string directory = platform::kivSubdirectory("run/bus", 0700, &error);
  if (directory.empty()) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: %hs", error.c_str());
    return kSmErrTransport;
  }
  const std::wstring path = utf::widen(directory + "\\" + name + ".lock");
  lock->reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (*lock) return 0;
  const DWORD code = GetLastError();
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) return kSmErrEndpointInUse;
  TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: cannot use %s (error %u)", path.c_str(),
                          static_cast<unsigned>(code));
  return kSmErrTransport;
}

}  // namespace

struct LocalListener::State {
  std::string name;
  UniqueHandle lock;  // released last, after every instance is closed
  std::wstring pipeName;
  std::unique_ptr<win::PipeSecurity> security;
  UniqueHandle wake;
  std::vector<std::unique_ptr<Instance>> instances;
  ConnectionLimits limits;
  size_t maxInstances = kMaxInstances;
  RefusalLog refusals{""};

  void advance(Instance& in, const Handle& handle);
  void connected(Instance& in);
  bool full() const;
  Clock::time_point silenceLimit(const Instance& in, bool whenFull) const;
  Clock::time_point nextDeadline() const;
  void sweep(const Handle& handle, Clock::time_point now);
};

bool LocalListener::State::full() const {
  if (instances.size() < maxInstances) return false;
  for (const auto& in : instances) {
    if (in->phase == Instance::Phase::kListening) return false;
  }
  return true;
}

Clock::time_point LocalListener::State::silenceLimit(const Instance& in, bool whenFull) const {
  return in.heard + (whenFull ? std::chrono::duration_cast<Clock::duration>(kMakeRoomAfter)
                              : std::chrono::duration_cast<Clock::duration>(limits.localIdle));
}

Clock::time_point LocalListener::State::nextDeadline() const {
  Clock::time_point next = refusals.due();
  const bool isFull = full();
  for (const auto& in : instances) {
    if (serving(*in)) next = std::min(next, silenceLimit(*in, isFull));
  }
  return next;
}

// Disconnects the senders silent as of `now`, one at a time while every instance is taken.
// One whose bytes have come meanwhile is not silent: its read is taken in the next round.
void LocalListener::State::sweep(const Handle& handle, Clock::time_point now) {
  bool isFull = full();
  for (size_t i = 0; i < instances.size(); ++i) {
    Instance& in = *instances[i];
    if (!serving(in) || silenceLimit(in, isFull) > now) continue;
    if (in.pending && HasOverlappedIoCompleted(&in.overlapped)) continue;
    if (isFull) refusals.note("pipe clients", "to make room beyond the cap", now);
    isFull = false;
    settle(in);
    hangUp(in);
    advance(in, handle);
  }
  refusals.flush(now);
}

// Runs the instance until it waits for an operation that has not completed yet, or until it
// has answered one request (so that one busy sender cannot hold up the others).
void LocalListener::State::advance(Instance& in, const Handle& handle) {
  for (;;) {
    if (in.phase == Instance::Phase::kDead) return;
    if (in.pending) {
      DWORD bytes = 0;
      if (!GetOverlappedResult(in.pipe.get(), &in.overlapped, &bytes, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE) return;
        in.pending = false;
        hangUp(in);
        continue;
      }
      in.pending = false;
      in.heard = Clock::now();
      if (in.phase == Instance::Phase::kListening) {
        connected(in);
      } else if (received(in, bytes)) {
        const Reply reply = oversized(in) ? Reply{kSmErrTooLarge, 0} : handle(&in.text, in.pid);
        in.phase = Instance::Phase::kLength;
        in.got = 0;
        in.text.clear();
        if (!writeAnswer(in, reply)) {
          hangUp(in);
          continue;
        }
        if (startRead(in)) return;
        hangUp(in);
        continue;
      }
    }
    if (in.phase == Instance::Phase::kListening) {
      if (ConnectNamedPipe(in.pipe.get(), rearm(in)) || GetLastError() == ERROR_IO_PENDING) {
        in.pending = true;
      } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
        in.heard = Clock::now();
        connected(in);  // the sender came before we listened
      } else if (GetLastError() == ERROR_NO_DATA) {
        hangUp(in);  // ... and has gone already
      } else {
        // The handle still holds the name; it only serves nobody any more.
        TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: cannot listen (error %u)",
                                name.c_str(), static_cast<unsigned>(GetLastError()));
        in.phase = Instance::Phase::kDead;
      }
      continue;
    }
    if (!in.pending && !startRead(in)) hangUp(in);
  }
}

// A sender has the instance now. Another instance listens from here on, before the request
// is read and handed to the callback, so that the next sender is not turned away meanwhile.
void LocalListener::State::connected(Instance& in) {
  in.phase = Instance::Phase::kLength;
  in.got = 0;
  // Asked once: the sender stays the same until it hangs up.
  in.pid = clientPid(in);
  for (const auto& other : instances) {
    if (other->phase == Instance::Phase::kListening) return;
  }
  if (instances.size() >= maxInstances) return;
  std::unique_ptr<Instance> more = createInstance(pipeName, *security, false);
  if (more == nullptr) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: no further pipe instance (error %u)",
                            name.c_str(), static_cast<unsigned>(GetLastError()));
    return;
  }
  instances.push_back(std::move(more));
}

LocalListener::LocalListener() : state_(std::make_unique<State>()) {}

LocalListener::~LocalListener() = default;

int LocalListener::open(const std::string& name) {
  State& s = *state_;
  s.name = name;
  s.limits = configuredLimits();
  s.maxInstances = std::max<size_t>(1, std::min(kMaxInstances, s.limits.localMax));
  s.refusals = RefusalLog("endpoint " + name);
  const int locked = lockName(name, &s.lock);
  if (locked != 0) return locked;
  s.pipeName = win::pipeName(name);
  std::string error;
  s.security = win::PipeSecurity::build(&error);
  s.wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (s.pipeName.empty() || s.security == nullptr || !s.wake) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: %hs: %hs", name.c_str(),
                            s.pipeName.empty() ? "no state root" : error.c_str());
    return kSmErrTransport;
  }
  std::unique_ptr<Instance> first = createInstance(s.pipeName, *s.security, true);
  if (first == nullptr) {
    const DWORD code = GetLastError();
    // The name exists: another process (or another endpoint of this one) has it open.
    if (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY) return kSmErrEndpointInUse;
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"SmOpenEndPointU: cannot create the pipe of %hs (error %u)",
                            name.c_str(), static_cast<unsigned>(code));
    return kSmErrTransport;
  }
  s.instances.push_back(std::move(first));
  return 0;
}

bool LocalListener::wait() {
  State& s = *state_;
  std::vector<HANDLE> handles{s.wake.get()};
  for (const auto& in : s.instances) {
    if (in->pending) handles.push_back(in->event.get());
  }
  const int timeoutMs = waitTimeoutMs(s.nextDeadline());
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  if (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                             timeout) == WAIT_FAILED) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"endpoint %hs: wait failed (error %u)", s.name.c_str(),
                            static_cast<unsigned>(GetLastError()));
    return false;
  }
  return true;
}

void LocalListener::wake() { SetEvent(state_->wake.get()); }

void LocalListener::serviceRequests(const Handle& handle) {
  State& s = *state_;
  // Taken before the callbacks run: a sender whose request came while they ran is not silent.
  const Clock::time_point now = Clock::now();
  // Instances made meanwhile join the round: they start listening at once.
  for (size_t i = 0; i < s.instances.size(); ++i) s.advance(*s.instances[i], handle);
  s.sweep(handle, now);
}

// A request that has not been read in full gets no answer: its sender sees the pipe break
// with nothing to read and learns that nobody took it, which is what `leftover` says.
void LocalListener::close(const Reply& /*leftover*/) {
  State& s = *state_;
  for (auto& in : s.instances) settle(*in);
  s.instances.clear();
  s.lock.reset();
}

}  // namespace kiv::bus
