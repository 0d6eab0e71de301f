// Porting helpers: critical sections, module file names and string checks with the
// framework's C signatures. File access is in the system's own folder (linux/, win/).
#include <cerrno>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

#include "platform/file_util.h"
#include "platform/last_error.h"
#include "platform/system_info.h"
#include "tqUtilities.h"

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(TQ_CRITICAL_SECTION::storage));
static_assert(alignof(std::recursive_mutex) <= alignof(TQ_CRITICAL_SECTION));

std::recursive_mutex* mutexIn(TQ_CRITICAL_SECTION* section) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(section->storage));
}

}  // namespace

extern "C" {

// Like the Windows critical section: the owning thread may enter again.
void TQPorting_InitializeCriticalSection(TQ_CRITICAL_SECTION* section) {
  if (section != nullptr) new (section->storage) std::recursive_mutex;
}

void TQPorting_EnterCriticalSection(TQ_CRITICAL_SECTION* section) {
  if (section != nullptr) mutexIn(section)->lock();
}

void TQPorting_LeaveCriticalSection(TQ_CRITICAL_SECTION* section) {
  if (section != nullptr) mutexIn(section)->unlock();
}

void TQPorting_DeleteCriticalSection(TQ_CRITICAL_SECTION* section) {
  if (section != nullptr) mutexIn(section)->~recursive_mutex();
}

// A path that does not fit is a failure, not a truncated path.
unsigned TQPorting_GetModuleFileNameW(HTQMODULE module, wchar_t* buffer, unsigned capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = 0;
  const std::wstring path = kiv::platform::moduleFileName(module);
  if (path.empty()) return 0;
  if (path.size() + 1 > capacity) {
    kiv::platform::setLastError(ENAMETOOLONG);
    return 0;
  }
  std::wmemcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<unsigned>(path.size());
}

int TQPorting_IsValidStringW(const wchar_t* text) { return text != nullptr && text[0] != 0 ? 1 : 0; }

}  // extern "C"
