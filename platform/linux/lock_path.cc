// Mutex names to lock-file paths, one directory per namespace.
#include "platform/linux/lock_path.h"

#include <systemd/sd-login.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/home.h"
#include "platform/utf8.h"

namespace kiv::platform::detail {
namespace {

constexpr std::wstring_view kGlobalPrefix = L"Global\\";
constexpr std::wstring_view kLocalPrefix = L"Local\\";

bool safeByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

// The login session of this process as a directory suffix: its number, or its id text
// when logind gives it a non-numeric one, "0" outside any session.
std::string sessionSuffix() {
  char* session = nullptr;
  if (sd_pid_get_session(0, &session) < 0 || session == nullptr) return "0";
  std::string id(session);
  std::free(session);
  if (id.empty()) return "0";
  char* end = nullptr;
  const unsigned long number = std::strtoul(id.c_str(), &end, 10);
  if (*end == '\0') return std::to_string(number);
  return lockFileName(kiv::utf::widen(id));
}

}  // namespace

std::string lockFileName(std::wstring_view name) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string bytes = kiv::utf::narrow(name);
  std::string result;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (safeByte(c) && !(i == 0 && c == '.')) {
      result += static_cast<char>(c);
    } else {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 0xF];
    }
  }
  return result;
}

std::string lockFilePath(std::wstring_view name) {
  std::string directory;
  if (name.starts_with(kGlobalPrefix)) {
    name.remove_prefix(kGlobalPrefix.size());
    directory = "run/locks/global";
  } else {
    // "Local\" names the caller's session namespace, as a bare name does.
    if (name.starts_with(kLocalPrefix)) name.remove_prefix(kLocalPrefix.size());
    directory = "run/locks/session-" + sessionSuffix();
  }
  if (name.empty()) {
    errno = EINVAL;
    return "";
  }
  const std::string path = kivSubdirectory(directory, 0700);
  if (path.empty()) return "";
  return path + "/" + lockFileName(name);
}

}  // namespace kiv::platform::detail
