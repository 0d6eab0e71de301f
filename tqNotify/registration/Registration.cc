// RegisterNotifications and UnregisterNotifications: the registry entries that hook the
// Winlogon notification library and the per-user notification program into the logon
// machinery of the Windows generations that need them. Neither traces; both answer 1.
#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "platform/version.h"
#include "tqNotify/registration/CompanionPath.h"
#include "tqNotify/tqNotify.h"

namespace {

using namespace kiv::platform;

constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"KIV_usrntf";
constexpr wchar_t kNotifyKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\KIV";
constexpr wchar_t kAgentKey[] = L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent";
constexpr wchar_t kInstalledValue[] = L"WinLogonDLLInstalled";
constexpr wchar_t kUserProgram[] = L"tqusrntf.exe";
constexpr wchar_t kWinlogonLibrary[] = L"tqwlogon.dll";
constexpr uint32_t kNameCapacity = 260;

// Winlogon calls the library's export of the same name for each of these events.
constexpr const wchar_t* kEventValues[] = {L"Lock",       L"Logoff",           L"Logon",
                                           L"Shutdown",   L"StartScreenSaver", L"StartShell",
                                           L"Startup",    L"StopScreenSaver",  L"Unlock"};
constexpr const wchar_t* kFlagValues[] = {L"Asynchronous", L"Impersonate"};

// Closes a key when the scope ends.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

long setString(HKEY key, const wchar_t* name, uint32_t type, const std::wstring& text) {
  const auto size = static_cast<uint32_t>(sizeof(wchar_t) * (text.size() + 1));
  return RegSetValueExW(key, name, type, text.c_str(), size);
}

long setDword(HKEY key, const wchar_t* name, uint32_t value) {
  return RegSetValueExW(key, name, kRegDword, &value, sizeof value);
}

// The system splits a Run command line at its first space: an unquoted path with a space
// ("C:\Program Files\...") would start C:\Program.exe, if someone placed one there.
std::wstring commandLineFor(const std::wstring& programPath) {
  if (programPath.find(L' ') == std::wstring::npos) return programPath;
  return L'"' + programPath + L'"';
}

// Points the machine-wide Run key at the per-user notification program.
void writeRunValue(const std::wstring& programPath) {
  Key run;
  if (RegCreateKeyExW(kHKeyLocalMachine, kRunKey, kKeyAllAccess, run.out()) != kErrorSuccess) {
    return;
  }
  setString(run.get(), kRunValue, kRegSz, commandLineFor(programPath));
}

bool notifyKeyExists() {
  Key notify;
  return RegOpenKeyW(kHKeyLocalMachine, kNotifyKey, notify.out()) == kErrorSuccess;
}

// The values in their fixed order; a failed write ends the sequence, so "DllName" is
// present only when everything before it was written.
void writeNotifyKey(const std::wstring& libraryPath) {
  Key notify;
  if (RegCreateKeyW(kHKeyLocalMachine, kNotifyKey, notify.out()) != kErrorSuccess) return;
  for (const wchar_t* event : kEventValues) {
    if (setString(notify.get(), event, kRegSz, event) != kErrorSuccess) return;
  }
  for (const wchar_t* flag : kFlagValues) {
    if (setDword(notify.get(), flag, 1) != kErrorSuccess) return;
  }
  setString(notify.get(), L"DllName", kRegExpandSz, libraryPath);
}

// Windows 2000 uses the Winlogon library; the Run value is written only on the first
// registration, so that an administrator who removed it later is not overruled.
void registerWindows2000() {
  if (!notifyKeyExists()) {
    const std::wstring program = companionPath(kUserProgram);
    if (!program.empty()) writeRunValue(program);
  }
  const std::wstring library = companionPath(kWinlogonLibrary);
  if (!library.empty()) writeNotifyKey(library);
}

void deleteAllValues(HKEY key) {
  // Each deletion moves the remaining values up, so index 0 is always the next one.
  for (;;) {
    wchar_t name[kNameCapacity] = {};
    uint32_t length = kNameCapacity;
    if (RegEnumValueW(key, 0, name, &length) != kErrorSuccess) return;
    if (RegDeleteValueW(key, name) != kErrorSuccess) return;
  }
}

// True when the key holds neither values nor subkeys. Anything but "no more items" (a name
// longer than the buffer, a failed read) counts as something still there.
bool isEmpty(HKEY key) {
  wchar_t name[kNameCapacity] = {};
  uint32_t length = kNameCapacity;
  if (RegEnumValueW(key, 0, name, &length) != kErrorNoMoreItems) return false;
  length = kNameCapacity;
  return RegEnumKeyW(key, 0, name, &length) == kErrorNoMoreItems;
}

}  // namespace

extern "C" {

TQ_API int RegisterNotifications() {
  const uint32_t version = getVersion();
  const uint32_t major = majorVersion(version);
  if (isNineXFamily(version) || major < 5) {
    const std::wstring program = companionPath(kUserProgram);
    if (!program.empty()) writeRunValue(program);
  } else if (major == 5 && minorVersion(version) == 0) {
    registerWindows2000();
  }
  return 1;
}

TQ_API int UnregisterNotifications() {
  {
    Key run;
    if (RegCreateKeyExW(kHKeyLocalMachine, kRunKey, kKeyAllAccess, run.out()) == kErrorSuccess) {
      RegDeleteValueW(run.get(), kRunValue);
    }
  }
  {
    Key notify;
    if (RegOpenKeyW(kHKeyLocalMachine, kNotifyKey, notify.out()) != kErrorSuccess) return 1;
    deleteAllValues(notify.get());
  }
  if (RegDeleteKeyW(kHKeyLocalMachine, kNotifyKey) != kErrorSuccess) return 1;
  bool agentKeyEmpty = false;
  {
    Key agent;
    if (RegOpenKeyW(kHKeyLocalMachine, kAgentKey, agent.out()) != kErrorSuccess) return 1;
    RegDeleteValueW(agent.get(), kInstalledValue);
    agentKeyEmpty = isEmpty(agent.get());
  }
  // The agent keeps its other settings in this key: deleting it would take every value
  // with it, so it goes only when the marker was all it held.
  if (agentKeyEmpty) RegDeleteKeyW(kHKeyLocalMachine, kAgentKey);
  return 1;
}

}  // extern "C"
