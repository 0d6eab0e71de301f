// The process list from a Toolhelp snapshot, image names as the system records them (the
// executable's file name).
#include "platform/process_list.h"

#include "platform/win/unique_handle.h"

#include <tlhelp32.h>

#include <algorithm>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

// Some systems record the whole path; the image name is its last part.
std::string imageName(const wchar_t* exeFile) {
  std::wstring_view name(exeFile);
  if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring_view::npos) {
    name.remove_prefix(slash + 1);
  }
  return kiv::utf::narrow(name);
}

// Calls `visit` for each process of a fresh snapshot until it answers false; the system's
// idle process (id 0) is not a process anyone can open and is left out.
template <typename Visit>
bool forEachProcess(Visit visit) {
  const win::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == 0) continue;
    if (!visit(static_cast<int>(entry.th32ProcessID), entry.szExeFile)) break;
  }
  return true;
}

}  // namespace

std::vector<ProcessEntry> listProcesses() {
  std::vector<ProcessEntry> processes;
  forEachProcess([&processes](int pid, const wchar_t* exeFile) {
    processes.push_back({pid, imageName(exeFile)});
    return true;
  });
  std::sort(processes.begin(), processes.end(),
            [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
  return processes;
}

std::string processImageName(int pid) {
  std::string name;
  forEachProcess([pid, &name](int found, const wchar_t* exeFile) {
    if (found != pid) return true;
    name = imageName(exeFile);
    return false;
  });
  return name;
}

}  // namespace kiv::platform
