// Snapshot and case-insensitive search of the running processes.
#include "CTQOSProcessEnum.h"

#include "CTQOSProcess.h"
#include "TQString.h"

namespace {

TQStringW wide(const std::string& utf8) {
  TQStringW text;
  text.assign_utf8(utf8.c_str());
  return text;
}

TQStringW baseName(const wchar_t* name) {
  const std::wstring text = name;
  const size_t separator = text.find_last_of(L"/\\");
  return TQStringW(separator == std::wstring::npos ? text.c_str() : text.c_str() + separator + 1);
}

}  // namespace

int CTQOSProcessEnum::refresh() {
  auto processes = kiv::platform::listProcesses();
  std::lock_guard lock(mutex_);
  refreshed_ = true;
  processes_ = std::move(processes);
  return processes_.empty() ? 1 : 0;  // there is always at least the caller
}

bool CTQOSProcessEnum::findProcess(const wchar_t* imageName, TQOSProcess** process) {
  if (imageName == nullptr || *imageName == 0 || process == nullptr) return false;
  bool needSnapshot = false;
  {
    std::lock_guard lock(mutex_);
    needSnapshot = !refreshed_;
  }
  if (needSnapshot) refresh();
  const TQStringW wanted = baseName(imageName);
  std::lock_guard lock(mutex_);
  for (const auto& entry : processes_) {
    if (wanted.comparei(wide(entry.imageName)) != 0) continue;
    auto watched = kiv::platform::Process::open(entry.pid);
    if (!watched) continue;  // ended since the snapshot
    // The pidfd now pins the process; make sure the pid was not reused by another program
    // between the snapshot and the open.
    if (wanted.comparei(wide(kiv::platform::processImageName(entry.pid))) != 0) continue;
    *process = new CTQOSProcess(std::move(watched));
    return true;
  }
  return false;
}
