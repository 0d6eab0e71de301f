// The KIV_HOME root (by default the KIV folder in the machine's ProgramData folder) and
// directories below it, created on demand; the levels this creates are private to the
// user the process runs as (with SYSTEM and the Administrators).
#include "platform/home.h"
#include "platform/home_path.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/last_error.h"
#include "platform/utf8.h"
#include "platform/win/owner_only.h"

namespace kiv::platform {
namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring environment(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

// The shell's folder for application data of all users, or %ProgramData% where the shell
// has no answer. The shell comes first: the environment is whatever the parent built (the
// Service Control Manager's, an installer's), which need not name the folder a user's
// tools see, and a service and its users must agree on the root for their bus to meet.
// The shell is asked once per process: without KIV_HOME every bus send names its pipe
// from the home, and the folder does not move under a running process.
std::wstring machineDataFolder() {
  static const std::wstring shellFolder = [] {
    wchar_t path[MAX_PATH] = {};
    const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return result == S_OK ? std::wstring(path) : std::wstring();
  }();
  if (!shellFolder.empty()) return shellFolder;
  return environment(L"ProgramData");
}

// Length of the part of `path` that names a drive, share or root and is never created:
// "C:\", "\\server\share\", "\", or nothing for a relative path.
std::size_t rootLength(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
  if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
    std::size_t at = path.find_first_of(L"\\/", 2);                   // after the server
    if (at != std::wstring::npos) at = path.find_first_of(L"\\/", at + 1);  // after the share
    return at == std::wstring::npos ? path.size() : at + 1;
  }
  return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Creates one level unless it is already a directory.
bool ensureDirectory(const std::wstring& path, unsigned mode, std::string* error) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (win::createDirectory(path, mode)) return true;
    const DWORD cause = GetLastError();
    attributes = GetFileAttributesW(path.c_str());  // made by someone else meanwhile?
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      setError(error, "cannot create directory " + kiv::utf::narrow(path) + ": " +
                          kiv::utf::narrow(errorText(static_cast<int>(cause))));
      SetLastError(cause);
      return false;
    }
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
  setError(error, "cannot create directory " + kiv::utf::narrow(path) +
                      ": exists and is not a directory");
  SetLastError(ERROR_DIRECTORY);
  return false;
}

// Creates every missing level of `relative` below `base` (which must exist), and answers
// the joined path.
bool ensureBelow(std::wstring* path, const std::wstring& relative, unsigned mode,
                 std::string* error, bool mayLeaveBase) {
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relative.size();
    const std::wstring part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == L".") continue;
    if (part == L".." && !mayLeaveBase) {
      setError(error, "directory " + kiv::utf::narrow(relative) + " would leave " +
                          kiv::utf::narrow(*path));
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (!path->empty() && !isSeparator(path->back())) *path += L'\\';
    *path += part;
    if (!ensureDirectory(*path, mode, error)) return false;
  }
  return true;
}

std::wstring defaultWideHome() {
  const std::wstring data = machineDataFolder();
  if (data.empty()) return {};
  return data + (isSeparator(data.back()) ? L"KIV" : L"\\KIV");
}

std::wstring configuredWideHome() {
  std::wstring home = environment(L"KIV_HOME");
  if (home.empty()) home = defaultWideHome();
  while (home.size() > rootLength(home) && home.size() > 1 && isSeparator(home.back())) {
    home.pop_back();
  }
  return home;
}

}  // namespace

std::string kivHome(std::string* error) {
  const std::wstring home = configuredWideHome();
  if (home.empty()) {
    setError(error, "no KIV_HOME is set and the ProgramData folder is unknown");
    SetLastError(ERROR_PATH_NOT_FOUND);
    return "";
  }
  const std::size_t root = rootLength(home);
  std::wstring built = home.substr(0, root);
  if (root == 0) built = L".";
  if (!ensureBelow(&built, home.substr(root), 0700, error, true)) return "";
  return kiv::utf::narrow(home);
}

std::string kivSubdirectory(const std::string& relative, unsigned mode, std::string* error) {
  const std::string home = kivHome(error);
  if (home.empty()) return "";
  std::wstring path = kiv::utf::widen(home);
  if (!ensureBelow(&path, kiv::utf::widen(relative), mode, error, false)) return "";
  while (path.size() > rootLength(path) && isSeparator(path.back())) path.pop_back();
  return kiv::utf::narrow(path);
}

namespace detail {

std::string configuredHome() { return kiv::utf::narrow(configuredWideHome()); }

std::string defaultHome() { return kiv::utf::narrow(defaultWideHome()); }

}  // namespace detail

}  // namespace kiv::platform
