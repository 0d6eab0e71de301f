// Small services: the install directory, file names, a millisecond counter and sleeping.
#include <chrono>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

#include "framework/tqUtilities/code_page.h"
#include "platform/home.h"
#include "platform/utf8.h"
#include "tqUtilities.h"

extern "C" {

int TQUtilities_GetInstallDirA(char* buffer, unsigned capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = '\0';
  std::string error;
  const std::string utf8Home = kiv::platform::kivHome(&error);
  std::string home;  // in the system code page, as narrow callers read it
  kiv::codepage::toNarrow(kiv::utf::widen(utf8Home), home);
  if (home.empty()) {
    TQUtilities_TraceErrorW(nullptr, L"%s: %hs", L"TQUtilities_GetInstallDirA", error.c_str());
    return 0;
  }
  if (home.size() + 1 > capacity) {
    TQUtilities_TraceErrorW(nullptr, L"%s: %hs does not fit in %u bytes", L"TQUtilities_GetInstallDirA",
                            home.c_str(), capacity);
    return 0;
  }
  // An installed agent has its "Agent" folder, in which the units directory is made on
  // first use (one level only); a fresh KIV_HOME gets it here. Others pass through it to
  // the units directory, nothing more.
  kiv::platform::kivSubdirectory("Agent", 0711);
  std::memcpy(buffer, home.c_str(), home.size() + 1);
  return 1;
}

// The text after the last separator; both separators count, as paths may come from
// configuration written elsewhere.
int TQUtilities_GetRootFileNameFromPathW(const wchar_t* source, wchar_t* destination, unsigned capacity) {
  if (source == nullptr || destination == nullptr || capacity == 0) return 0;
  const wchar_t* name = source;
  for (const wchar_t* p = source; *p != 0; ++p) {
    if (*p == L'/' || *p == L'\\') name = p + 1;
  }
  const std::size_t length = std::wcslen(name);
  if (length + 1 > capacity) return 0;
  std::wmemmove(destination, name, length + 1);  // source and destination may overlap
  return 1;
}

uint32_t TQUtilities_GetTickCount() {
  const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void TQUtilities_Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // extern "C"
