// The Application log of Windows under the source "KIV": the service writes each plug-in
// event there (event ID = event code, insertion strings s1, s2, s3) and its own start, stop
// and failures. The texts are in the message table built into kiv.exe (kiv_messages.mc).
#pragma once

#include <windows.h>

#include <string>

namespace kiv::tool {

inline constexpr const wchar_t* kEventSource = L"KIV";

class EventLog {
 public:
  EventLog();
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // One entry with up to three insertion strings; false when the log refused it.
  bool report(WORD type, DWORD id, const std::wstring& s1, const std::wstring& s2 = L"",
              const std::wstring& s3 = L"");

 private:
  HANDLE source_;
};

// The registration that lets Event Viewer find the texts: the source's key below the
// Application log names `messageFile` (kiv.exe) as its message file. 0 or a Win32 error.
DWORD registerEventSource(const std::wstring& messageFile);
DWORD unregisterEventSource();

}  // namespace kiv::tool
