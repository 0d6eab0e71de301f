// Size-based rotation shared by every process that writes the trace file, on Windows. The
// file is opened for appending with every kind of sharing, deletion and renaming included,
// so that whichever process finds it full can rotate it while the others still write; a
// process whose open file is no longer the one under the name reopens it.
#include "framework/tqUtilities/trace_file_sink.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/last_error.h"
#include "platform/utf8.h"

namespace kiv::trace {
namespace {

HANDLE openShared(const std::string& path, DWORD access, DWORD disposition) {
  return CreateFileW(utf::widen(path).c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Held while one process rotates: the lock file's whole range, locked exclusively.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : file_(openShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS)) {
    if (file_ != INVALID_HANDLE_VALUE) {
      OVERLAPPED at{};
      locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &at) != 0;
    }
  }
  ~FileLock() {
    if (locked_) {
      OVERLAPPED at{};
      UnlockFileEx(file_, 0, MAXDWORD, MAXDWORD, &at);
    }
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  HANDLE file_;
  bool locked_ = false;
};

struct Identity {
  DWORD volume = 0;
  DWORD high = 0;
  DWORD low = 0;
  bool operator==(const Identity&) const = default;
};

bool identityOf(HANDLE file, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return false;
  *identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

void writeAll(HANDLE file, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return;  // the line is lost
    data += written;
    size -= written;
  }
}

}  // namespace

TraceFileSink::~TraceFileSink() {
  if (fd_ >= 0) _close(fd_);
}

bool TraceFileSink::open(std::string* error) {
  std::lock_guard lock(mutex_);
  reopen();
  if (fd_ < 0 && error != nullptr) {
    *error = path_ + ": " + utf::narrow(platform::errorText(static_cast<int>(GetLastError())));
  }
  return fd_ >= 0;
}

// The descriptor wraps a handle opened for appending only, so every write lands at the end
// of the file whoever else writes it.
void TraceFileSink::reopen() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
  HANDLE file = openShared(path_, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return;
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
  if (fd_ < 0) CloseHandle(file);
  forgetSize();
}

bool TraceFileSink::currentSize(std::size_t* size) const {
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(handleOf(fd_), &length)) return false;
  *size = static_cast<std::size_t>(length.QuadPart);
  return true;
}

void TraceFileSink::writeLine(const char* data, std::size_t size) { writeAll(handleOf(fd_), data, size); }

void TraceFileSink::rotateShared() {
  FileLock lock(path_ + ".lock");
  Identity mine, named;
  HANDLE current = openShared(path_, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
  const bool renamed = current != INVALID_HANDLE_VALUE && identityOf(handleOf(fd_), &mine) &&
                       identityOf(current, &named) && !(mine == named);
  if (current != INVALID_HANDLE_VALUE) CloseHandle(current);
  if (renamed) {
    reopen();  // another process has rotated already
    return;
  }
  rotateLocked();
  reopen();
}

void TraceFileSink::rotateLocked() {
  auto name = [this](int index) {
    return utf::widen(index == 0 ? path_ : path_ + "." + std::to_string(index));
  };
  if (backups_ <= 0) {
    DeleteFileW(name(0).c_str());
    return;
  }
  DeleteFileW(name(backups_).c_str());
  for (int index = backups_ - 1; index >= 0; --index) {
    MoveFileExW(name(index).c_str(), name(index + 1).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

}  // namespace kiv::trace
