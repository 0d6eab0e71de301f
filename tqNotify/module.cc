// The module's exported entry points for its host: TQInit, TQTerminate, TQGetVersionInfo
// and TQCreateInstance.
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "tqNotify/ModuleState.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/tqNotify.h"

using tqnotify::moduleState;

namespace {

// Traced with %lx, whose unsigned long is 32 bits on Windows: the low bits tell objects
// apart well enough.
unsigned long addressOf(const void* pointer) {
  return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer));
}

// The module's whole path, however long its directories: a path that does not fit fails,
// so the buffer grows until it fits or reaches the longest path a system allows.
std::vector<wchar_t> modulePath(HTQMODULE library) {
  constexpr unsigned kLongestPath = 32768;
  std::vector<wchar_t> path(tqnotify::kModuleFileNameCapacity, L'\0');
  for (;;) {
    const unsigned length = TQPorting_GetModuleFileNameW(library, path.data(), static_cast<unsigned>(path.size()));
    // A system that cuts the path instead answers the whole capacity.
    if (length > 0 && length < path.size()) return path;
    if (path.size() >= kLongestPath) break;
    path.assign(path.size() * 2, L'\0');
  }
  path.assign(1, L'\0');
  return path;
}

void initialiseState(HTQMODULE library) {
  auto& state = moduleState();
  state.libraryHandle = library;
  state.moduleFileName[0] = L'\0';
  state.debugFlag = TQFactory_GetMaxDebug();
  std::vector<wchar_t> path = modulePath(library);
  TQPorting_InitializeCriticalSection(&state.moduleLock);
  state.moduleLockCreated = true;
  // Only the file name is kept, which fits where the whole path may not.
  TQUtilities_GetRootFileNameFromPathW(path.data(), path.data(), static_cast<unsigned>(path.size()));
  if (std::wcslen(path.data()) < tqnotify::kModuleFileNameCapacity) {
    std::wcscpy(state.moduleFileName, path.data());
  }
  TQUtilities_TraceDetailW(0, L"%s: hLib: 0x%lx file: %T: version: %t", L"ITQImpl::Init",
                           addressOf(library), state.moduleFileName,
                           tqnotify::moduleVersionText());
}

}  // namespace

extern "C" {

TQ_API int TQInit(HTQMODULE library) {
  RegisterNotifications();
  TQUtilities_TraceFuncEntryW(L"ITQImpl::Init");
  if (library == nullptr) return TQUtilities_TraceFuncExitIntW(L"ITQImpl::Init", 0);
  // A second initialisation keeps the first handle and file name.
  if (moduleState().libraryHandle == nullptr) initialiseState(library);
  return TQUtilities_TraceFuncExitIntW(L"ITQImpl::Init", 1);
}

TQ_API int TQTerminate() {
  auto& state = moduleState();
  TQUtilities_TraceFuncEntryW(L"ITQImpl::Terminate");
  TQUtilities_TraceDetailW(0, L"%s: terminating %T", L"ITQImpl::Terminate", state.moduleFileName);
  state.moduleFileName[0] = L'\0';
  state.libraryHandle = nullptr;
  if (state.moduleLockCreated) {
    state.moduleLockCreated = false;
    TQPorting_DeleteCriticalSection(&state.moduleLock);
  }
  return TQUtilities_TraceFuncExitIntW(L"ITQImpl::Terminate", 1);
}

TQ_API bool TQGetVersionInfo(uint32_t* major, uint32_t* minor, uint32_t* revision,
                             uint32_t* build) {
  if (major != nullptr) *major = 12;
  if (minor != nullptr) *minor = 0;
  if (revision != nullptr) *revision = 1;
  if (build != nullptr) *build = 1378;
  return major != nullptr || minor != nullptr || revision != nullptr || build != nullptr;
}

TQ_API ITQImpl* TQCreateInstance(const char* interfaceName, int requiredVersion) {
  if (interfaceName == nullptr) return nullptr;
  if (strcasecmp(interfaceName, "ITQPlugin") != 0) {
    TQUtilities_TraceW(L"tqNotify", L"TQCreateInstance: doesn't support %hs", interfaceName);
    return nullptr;
  }
  auto* notifier = new CTQNotify();
  if (notifier->CheckVersion(requiredVersion) == 0) {
    delete notifier;
    return nullptr;
  }
  auto& state = moduleState();
  const int instances = TQFactory_IncInstCount(state.libraryHandle);
  notifier->AddRef();
  if (state.debugFlag) {
    TQUtilities_TraceDetailW(0, L"%s: %T instCount: %d", L"ITQImpl::CreateInstance",
                             state.moduleFileName, instances);
  }
  // The host holds the plug-in interface; hand out the ITQImpl at the object's start.
  return static_cast<ITQPlugin*>(notifier);
}

}  // extern "C"
