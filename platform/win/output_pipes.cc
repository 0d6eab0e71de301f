// Output pipes of a started process: one named pipe per stream, our end overlapped so that
// a wait covers the process and both reads at once.
#include "platform/win/output_pipes.h"

#include <ntsecapi.h>

#include <atomic>
#include <cwchar>
#include <iterator>
#include <string>

#include "platform/win/owner_only.h"

namespace kiv::platform {
namespace {

// What is read from each pipe once the process has ended: a process it started that keeps
// writing must not keep the host reading for ever.
constexpr std::size_t kDrainReads = 16;

// A name nobody can guess before the pipe exists, so that no other process can create it
// first or connect in the moment between creation and the host's own connect; empty with
// the last error set when the system has no random bytes to give.
std::wstring uniquePipeName() {
  static std::atomic<unsigned> counter{0};
  unsigned long long secret[2] = {};
  if (!RtlGenRandom(secret, sizeof secret)) {
    SetLastError(ERROR_GEN_FAILURE);
    return {};
  }
  wchar_t text[40] = {};
  std::swprintf(text, std::size(text), L"%016llx%016llx", secret[0], secret[1]);
  return L"\\\\.\\pipe\\kiv-script-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter.fetch_add(1)) + L"-" + text;
}

OutputStream streamOf(std::size_t index) {
  return index == 0 ? OutputStream::kStandardOutput : OutputStream::kStandardError;
}

}  // namespace

std::unique_ptr<OutputPipes> OutputPipes::open() {
  auto pipes = std::make_unique<OutputPipes>();
  pipes->job.reset(CreateJobObjectW(nullptr, nullptr));
  if (!pipes->job) return nullptr;
  // Only the host's own user (and the system and the administrators) may open the pipes.
  const auto security = win::ownerOnlySecurity();
  if (!security) return nullptr;
  SECURITY_ATTRIBUTES ownerOnly{sizeof ownerOnly, security.get(), FALSE};
  for (auto& stream : pipes->streams) {
    const std::wstring name = uniquePipeName();
    if (name.empty()) return nullptr;
    stream.read.reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0, &ownerOnly));
    if (!stream.read) return nullptr;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    stream.write.reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr));
    stream.done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stream.write || !stream.done) return nullptr;
    stream.overlapped.hEvent = stream.done.get();
  }
  return pipes;
}

// A read still under way writes into this object; it is cancelled and seen to its end
// before the buffers go.
OutputPipes::~OutputPipes() {
  for (auto& stream : streams) {
    if (!stream.pending) continue;
    CancelIoEx(stream.read.get(), &stream.overlapped);
    DWORD got = 0;
    GetOverlappedResult(stream.read.get(), &stream.overlapped, &got, TRUE);
  }
}

void OutputPipes::closeChildEnds() {
  for (auto& stream : streams) stream.write.reset();
}

void OutputPipes::issue(Stream& stream) {
  if (stream.pending || stream.closed) return;
  ResetEvent(stream.done.get());
  if (ReadFile(stream.read.get(), stream.buffer.data(), static_cast<DWORD>(stream.buffer.size()), nullptr,
               &stream.overlapped) ||
      GetLastError() == ERROR_IO_PENDING) {
    stream.pending = true;  // a read that completed at once has signalled its event too
    return;
  }
  stream.closed = true;
}

bool OutputPipes::collect(Stream& stream, OutputStream which, const OutputReceiver& receiver) {
  if (!stream.pending) return false;
  DWORD got = 0;
  if (!GetOverlappedResult(stream.read.get(), &stream.overlapped, &got, FALSE)) {
    if (GetLastError() == ERROR_IO_INCOMPLETE) return false;
    stream.pending = false;
    stream.closed = true;  // the writers have all gone
    return false;
  }
  stream.pending = false;
  if (got > 0 && receiver) receiver(which, std::string_view(stream.buffer.data(), got));
  issue(stream);
  return true;
}

uint32_t OutputPipes::readUntilEnd(HANDLE process, uint32_t timeoutMs, const OutputReceiver& receiver) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    HANDLE waits[3] = {process};
    std::size_t indexOf[3] = {0};
    DWORD count = 1;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      issue(streams[i]);
      if (streams[i].pending) {
        indexOf[count] = i;
        waits[count++] = streams[i].done.get();
      }
    }
    DWORD wait = INFINITE;
    if (timeoutMs != kInfinite) {
      const ULONGLONG now = GetTickCount64();
      wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    }
    const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, wait);
    if (woken == WAIT_TIMEOUT) return kWaitTimeout;
    if (woken >= WAIT_OBJECT_0 + count) return kWaitFailed;
    if (woken == WAIT_OBJECT_0) {
      for (std::size_t i = 0; i < streams.size(); ++i) {
        for (std::size_t reads = 0; reads < kDrainReads && collect(streams[i], streamOf(i), receiver); ++reads) {
        }
      }
      return kWaitObject0;
    }
    const std::size_t index = indexOf[woken - WAIT_OBJECT_0];
    collect(streams[index], streamOf(index), receiver);
  }
}

}  // namespace kiv::platform
