// Writing to the Application log and registering the "KIV" source there.
#include "tools/kiv/win/event_log.h"

#include "platform/win/unique_handle.h"

namespace kiv::tool {
namespace {

constexpr const wchar_t* kApplicationLogKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

std::wstring sourceKey() { return std::wstring(kApplicationLogKey) + L"\\" + kEventSource; }

}  // namespace

EventLog::EventLog() : source_(RegisterEventSourceW(nullptr, kEventSource)) {}

EventLog::~EventLog() {
  if (source_ != nullptr) DeregisterEventSource(source_);
}

bool EventLog::report(WORD type, DWORD id, const std::wstring& s1, const std::wstring& s2,
                      const std::wstring& s3) {
  if (source_ == nullptr) return false;
  const wchar_t* strings[] = {s1.c_str(), s2.c_str(), s3.c_str()};
  return ReportEventW(source_, type, 0, id, nullptr, 3, 0, strings, nullptr) != 0;
}

DWORD registerEventSource(const std::wstring& messageFile) {
  HKEY opened = nullptr;
  DWORD result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, sourceKey().c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (result != ERROR_SUCCESS) return result;
  platform::win::UniqueRegistryKey key(opened);
  const auto bytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
  result = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(messageFile.c_str()), bytes);
  if (result != ERROR_SUCCESS) return result;
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  return RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&types), sizeof(types));
}

DWORD unregisterEventSource() {
  const DWORD result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, sourceKey().c_str());
  return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

}  // namespace kiv::tool
