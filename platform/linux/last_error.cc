// The thread's last system error is errno.
#include "platform/last_error.h"

#include <cerrno>
#include <cstring>

#include "platform/utf8.h"

namespace kiv::platform {

int lastError() { return errno; }

void setLastError(int error) { errno = error; }

std::wstring errorText(int error) {
  const int saved = errno;
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  std::wstring result = kiv::utf::widen(text);
  errno = saved;
  return result;
}

}  // namespace kiv::platform
