// The KIV_HOME root and directories below it, created on demand: the root may be traversed
// by others, the rest has the mode each caller asks for.
#include "platform/home.h"
#include "platform/home_path.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kiv::platform {
namespace {

constexpr unsigned kRootMode = 0711;

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

namespace detail {

std::string defaultHome() {
  if (geteuid() == 0) return "/var/lib/kiv";
  // XDG requires an absolute path; a relative one is ignored.
  const std::string state = fromEnvironment("XDG_STATE_HOME");
  if (!state.empty() && state[0] == '/') return state + "/kiv";
  std::string user = fromEnvironment("HOME");
  if (user.empty()) {
    if (const passwd* entry = getpwuid(geteuid())) user = entry->pw_dir;
  }
  if (user.empty()) return "";
  return user + "/.local/state/kiv";
}

}  // namespace detail

namespace {

void setError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Creates one level unless it is already a directory. A new level gets exactly `mode`:
// the umask must not take away the traversal that others are meant to have.
bool ensureDirectory(const std::string& path, unsigned mode, std::string* error) {
  if (mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) {
    chmod(path.c_str(), static_cast<mode_t>(mode));
    return true;
  }
  const int cause = errno;
  struct stat info {};
  if (cause == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  setError(error, "cannot create directory " + path + ": " +
                      (cause == EEXIST ? "exists and is not a directory" : std::strerror(cause)));
  errno = cause == EEXIST ? ENOTDIR : cause;
  return false;
}

// Creates every missing level of `relative` below `base` (which must exist).
bool ensureBelow(const std::string& base, const std::string& relative, unsigned mode,
                 std::string* error, bool mayLeaveBase = false) {
  std::string path = base;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." && !mayLeaveBase) {
      setError(error, "directory " + relative + " would leave " + base);
      errno = EINVAL;
      return false;
    }
    path += "/" + part;
    if (!ensureDirectory(path, mode, error)) return false;
  }
  return true;
}

}  // namespace

namespace detail {

std::string configuredHome() {
  std::string home = fromEnvironment("KIV_HOME");
  if (home.empty()) home = defaultHome();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home;
}

}  // namespace detail

std::string kivHome(std::string* error) {
  const std::string home = detail::configuredHome();
  if (home.empty()) {
    setError(error, "no KIV_HOME is set and the user's home directory is unknown");
    errno = ENOENT;
    return "";
  }
  // Missing parents (~/.local/state) are made private. The root itself may be traversed,
  // so that others reach the units directory below it, but not listed.
  const bool absolute = home[0] == '/';
  const size_t slash = home.rfind('/');
  const std::string parent = slash == std::string::npos ? "" : home.substr(0, slash);
  if (!parent.empty() && !ensureBelow(absolute ? "" : ".", absolute ? parent.substr(1) : parent, 0700, error, true)) {
    return "";
  }
  if (!ensureDirectory(home, kRootMode, error)) return "";
  return home;
}

std::string kivSubdirectory(const std::string& relative, unsigned mode, std::string* error) {
  const std::string home = kivHome(error);
  if (home.empty()) return "";
  if (!ensureBelow(home, relative, mode, error)) return "";
  std::string path = home;
  if (!relative.empty()) path += "/" + relative;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace kiv::platform
