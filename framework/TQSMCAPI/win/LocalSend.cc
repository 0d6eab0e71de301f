// Local sends on Windows: each send opens the endpoint's pipe, writes the request and reads
// the answer. An answer that has arrived is always returned; "nobody listening" means the
// pipe did not exist, or broke before any answer came, so no callback has taken the message.
#include "framework/TQSMCAPI/LocalSend.h"

#include <windows.h>

#include <algorithm>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/Wire.h"
#include "framework/TQSMCAPI/win/PipeName.h"
#include "platform/win/unique_handle.h"

namespace kiv::bus {
namespace {

using platform::win::UniqueHandle;

// While every instance of the pipe is busy, the sender waits for one in slices of this length.
constexpr int kBusyWaitMs = 200;

int pipeError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return kSmErrNoListener;
    default:
      return kSmErrTransport;
  }
}

// Opens the endpoint's pipe, waiting for a free instance until the deadline. 0 or a kSmErr code.
int connect(const std::wstring& name, const Deadline& deadline, UniqueHandle* pipe) {
  for (;;) {
    pipe->reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr));
    if (*pipe) return 0;
    const DWORD code = GetLastError();
    if (code != ERROR_PIPE_BUSY) return pipeError(code);
    const int remaining = deadline.remainingMs();
    if (remaining == 0) return kSmErrTimeout;
    // Whatever this answers, the next CreateFileW tells.
    WaitNamedPipeW(name.c_str(), static_cast<DWORD>(std::min(remaining, kBusyWaitMs)));
  }
}

// Moves `size` bytes to or from the pipe before the deadline. 0 or a kSmErr code.
template <typename Operation>
int transfer(HANDLE pipe, char* data, size_t size, const Deadline& deadline, Operation operation) {
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return kSmErrTransport;
  for (size_t done = 0; done < size;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    ResetEvent(event.get());
    if (!operation(pipe, data + done, static_cast<DWORD>(size - done), &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return pipeError(GetLastError());
    }
    DWORD moved = 0;
    if (WaitForSingleObject(event.get(), static_cast<DWORD>(deadline.remainingMs())) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
      return kSmErrTimeout;
    }
    if (!GetOverlappedResult(pipe, &overlapped, &moved, FALSE)) return pipeError(GetLastError());
    done += moved;
  }
  return 0;
}

int write(HANDLE pipe, std::string bytes, const Deadline& deadline) {
  return transfer(pipe, bytes.data(), bytes.size(), deadline,
                  [](HANDLE h, char* data, DWORD size, OVERLAPPED* o) {
                    return WriteFile(h, data, size, nullptr, o);
                  });
}

int read(HANDLE pipe, std::string* bytes, const Deadline& deadline) {
  return transfer(pipe, bytes->data(), bytes->size(), deadline,
                  [](HANDLE h, char* data, DWORD size, OVERLAPPED* o) {
                    return ReadFile(h, data, size, nullptr, o);
                  });
}

}  // namespace

int sendLocal(const std::string& endpoint, const std::string& text, const Deadline& deadline,
              uint32_t* status) {
  const std::wstring name = win::pipeName(endpoint);
  if (name.empty()) return kSmErrTransport;
  UniqueHandle pipe;
  int result = connect(name, deadline, &pipe);
  if (result != 0) return result;

  result = write(pipe.get(), win::lengthPrefix(static_cast<uint32_t>(text.size())) + text, deadline);
  if (result != 0) return result;
  std::string answer(encodeReply(Reply{}).size(), '\0');
  result = read(pipe.get(), &answer, deadline);
  if (result != 0) return result;
  Reply reply;
  if (!decodeReply(answer, &reply)) return kSmErrTransport;
  if (reply.error != 0) return reply.error;
  *status = reply.status;
  return 0;
}

// The process serving the pipe is the endpoint's owner. Opening the pipe costs the owner one
// empty connection, which it drops as a sender that hung up.
int localEndpointOwner(const std::string& endpoint, int* pid) {
  const std::wstring name = win::pipeName(endpoint);
  if (name.empty()) return kSmErrTransport;
  UniqueHandle pipe(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!pipe) {
    const DWORD code = GetLastError();
    // Every instance busy, or a pipe we may not open: someone has it, we cannot tell who.
    if (code == ERROR_PIPE_BUSY || code == ERROR_ACCESS_DENIED) {
      *pid = 0;
      return 0;
    }
    return pipeError(code);
  }
  ULONG server = 0;
  *pid = GetNamedPipeServerProcessId(pipe.get(), &server) ? static_cast<int>(server) : 0;
  return 0;
}

}  // namespace kiv::bus
