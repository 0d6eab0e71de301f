// The process list from /proc: one entry per numeric directory, named after the base name
// of /proc/PID/exe, or after /proc/PID/comm when the executable cannot be read. A process
// that has ended but is not yet reaped (a zombie) is left out: it runs no more.
#include "platform/process_list.h"

#include <dirent.h>
#include <limits.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

namespace kiv::platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// A pid from a /proc entry name, or 0 for entries that are not processes.
int pidFromName(const char* name) {
  if (*name < '1' || *name > '9') return 0;
  char* end = nullptr;
  const long value = std::strtol(name, &end, 10);
  return (*end == 0 && value > 0 && value <= INT_MAX) ? static_cast<int>(value) : 0;
}

std::string executableName(int pid) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char target[PATH_MAX];
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return {};
  std::string path(target, static_cast<size_t>(length));
  // A replaced or removed executable still names the program that runs.
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string commandName(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The state letter of /proc/PID/stat, 0 when it cannot be read. The command name before it
// is in parentheses and may itself hold ") ", so the state follows the last one.
char stateLetter(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

// Whether the whole process has ended: it is gone, or its main thread is a zombie and no
// other thread of it still runs. /proc shows a main thread that returned early as a zombie
// too, so a pidfd, readable only once every thread has ended, settles that case.
bool hasEnded(int pid) {
  const char state = stateLetter(pid);
  if (state == 0) return true;
  if (state != 'Z' && state != 'X') return false;
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return true;  // reaped meanwhile, or no pidfds here: the stat state decides
  pollfd polled{pidfd, POLLIN, 0};
  const bool ended = ::poll(&polled, 1, 0) != 0;
  ::close(pidfd);
  return ended;
}

}  // namespace

std::string processImageName(int pid) {
  if (hasEnded(pid)) return {};
  std::string name = executableName(pid);
  return name.empty() ? commandName(pid) : name;
}

std::vector<ProcessEntry> listProcesses() {
  std::vector<ProcessEntry> processes;
  std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
  if (!proc) return processes;
  while (const dirent* entry = ::readdir(proc.get())) {
    const int pid = pidFromName(entry->d_name);
    if (pid == 0) continue;
    std::string name = processImageName(pid);
    if (!name.empty()) processes.push_back({pid, std::move(name)});  // empty: it has gone
  }
  std::sort(processes.begin(), processes.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return processes;
}

}  // namespace kiv::platform
