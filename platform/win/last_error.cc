// The thread's last system error is GetLastError's (socket errors share it), described
// by the system's message table.
#include "platform/last_error.h"

#include <windows.h>

namespace kiv::platform {

int lastError() { return static_cast<int>(GetLastError()); }

void setLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

std::wstring errorText(int error) {
  const DWORD saved = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring result;
  if (length > 0 && text != nullptr) result.assign(text, length);
  if (text != nullptr) LocalFree(text);
  // The message table ends its texts with a line break, which no caller wants.
  while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' ')) {
    result.pop_back();
  }
  if (result.empty()) result = L"error " + std::to_wstring(static_cast<unsigned>(error));
  SetLastError(saved);
  return result;
}

}  // namespace kiv::platform
