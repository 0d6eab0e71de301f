// The plug-in object's frame: construction with its version gates, reference counting,
// the version check, the plug-in entries that need no notifier state, and reporting.
#include "tqNotify/notifier/CTQNotify.h"

#include <cstdint>

#include "platform/registry.h"
#include "platform/version.h"
#include "tqNotify/ModuleState.h"
#include "tqNotify/notifier/SessionFill.h"

using tqnotify::moduleState;

namespace {

// Traced with %lx, whose unsigned long is 32 bits on Windows: the low bits tell objects
// apart well enough.
unsigned long addressOf(const void* pointer) {
  return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(pointer));
}

// On Windows 2000 the Winlogon notification library, once installed, reports logons, so
// the shell need not be watched.
bool winLogonLibraryInstalled() {
  namespace reg = kiv::platform;
  reg::HKEY key = nullptr;
  if (reg::RegOpenKeyW(reg::kHKeyLocalMachine, L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent", &key) !=
      reg::kErrorSuccess) {
    return false;
  }
  uint32_t size = 0;
  const bool present = reg::RegQueryValueExW(key, L"WinLogonDLLInstalled", nullptr, nullptr,
                                             &size) == reg::kErrorSuccess;
  reg::RegCloseKey(key);
  return present;
}

}  // namespace

CTQNotify::CTQNotify() {
  namespace p = kiv::platform;
  const uint32_t version = p::getVersion();
  const uint32_t major = p::majorVersion(version);
  const uint32_t minor = p::minorVersion(version);
  if (p::isNineXFamily(version) || major <= 4) {
    watchShell = 1;
  } else if (major == 5 && minor == 0) {
    if (winLogonLibraryInstalled()) watchShell = 0;
  } else {
    watchShell = 0;
    tqnotify::fillSessionTable(sessionUsers);
  }
  suspended = 0;
  endpoint = 0;
  hostSink = nullptr;
}

CTQNotify::~CTQNotify() {
  // A host that releases the object without shutting it down would leave the endpoint and
  // the threads running on a freed object; end them first.
  if (endpoint != 0) {
    SmCloseEndPoint(endpoint);
    endpoint = 0;
    SmDeinitialize();
  }
  if (stopEvent) {
    stopEvent->set();
    if (ipMonitor) ipMonitor->wait();
    if (shellWatcher) shellWatcher->wait();
  }
  xmlParser.Release();
  sessionUsers.clear();
  watcherLock.Release();
  shellWatcher.Release();
  ipMonitor.Release();
}

void CTQNotify::AddRef() {
  int32_t count;
  {
    tqnotify::ModuleLockGuard guard;
    count = ++refCount;
  }
  auto& state = moduleState();
  if (state.debugFlag) {
    TQUtilities_TraceDetailW(0, L"%s: %T: ptr: 0x%lx refCount: %d", L"ITQImpl::AddRef",
                             state.moduleFileName, addressOf(this), count);
  }
}

int CTQNotify::Release() {
  int32_t count;
  {
    tqnotify::ModuleLockGuard guard;
    count = --refCount;
  }
  auto& state = moduleState();
  if (state.debugFlag) {
    TQUtilities_TraceDetailW(0, L"%s: %T ptr: 0x%lx refCount: %d", L"ITQImpl::Release",
                             state.moduleFileName, addressOf(this), count);
  }
  if (count == 0) {
    if (state.debugFlag) {
      TQUtilities_TraceDetailW(0, L"%s: %T: deleting instance ptr: 0x%lx", L"ITQImpl::Release",
                               state.moduleFileName, addressOf(this));
    }
    delete this;
    TQFactory_DecInstCount(state.libraryHandle);
  }
  return count;
}

int CTQNotify::CheckVersion(int required) {
  if (required == interfaceVersion) return 1;
  TQStringW message;
  message.format(L"CheckVersion: caller requires interface version %d but only version %d is "
                 L"supported",
                 required, interfaceVersion);
  TQFactory_DisplayError(moduleState().moduleFileName, message.c_str());
  return 0;
}

HTQMODULE CTQNotify::GetLibraryHandle() { return moduleState().libraryHandle; }

bool CTQNotify::Initialize2(PluginInitInfo info) { return Initialize(std::move(info)); }

int CTQNotify::Reserved1() { return 0; }
int CTQNotify::Reserved2() { return 0; }
int CTQNotify::Reserved3(void*) { return 0; }
int CTQNotify::Reserved4(void*) { return 0; }
int CTQNotify::Reserved5(void*) { return 0; }
int CTQNotify::Reserved6(void*) { return 0; }

int CTQNotify::ShutdownA(const char*, int value) { return ShutdownW(TQStringW(), value); }
int CTQNotify::Shutdown() { return ShutdownW(TQStringW(), 0); }

bool CTQNotify::HandleRequestA(const TQStringA& input, TQStringA& output) {
  TQStringW wideInput;
  TQStringW wideOutput;
  wideInput.assign_mbcs(input.c_str());
  if (HandleRequestW(wideInput, wideOutput)) output.assign_unicode(wideOutput.c_str());
  return true;
}

bool CTQNotify::HandleRequestW(const TQStringW&, TQStringW&) { return false; }

int CTQNotify::GetNameA(TQStringA& name) {
  name = "tqNotify";
  return 0;
}

int CTQNotify::GetNameW(TQStringW& name) {
  name = L"tqNotify";
  return 0;
}

int CTQNotify::GetDescriptionA(TQStringA& description) {
  description = "Notification generator plugin";
  return 0;
}

int CTQNotify::GetDescriptionW(TQStringW& description) {
  description = L"Notification generator plugin";
  return 0;
}

void CTQNotify::report(int code, const TQStringW& s1, const TQStringW& s2, const TQStringW& s3) {
  if (hostSink != nullptr) hostSink->OnEventW(code, static_cast<void*>(this), s1, s2, s3);
}
