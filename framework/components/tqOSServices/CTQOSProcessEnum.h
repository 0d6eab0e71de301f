// The process enumerator: a snapshot of the running processes, searched by image name.
#pragma once

#include <mutex>
#include <vector>

#include "../ComponentBase.h"
#include "TQOSServices.h"
#include "platform/process_list.h"

class CTQOSProcessEnum final : public kiv::components::Component<TQOSProcessEnum, 1> {
 public:
  static constexpr int kVersion = 1;

  CTQOSProcessEnum() : Component(kiv::components::Origin::kCreated) {}

  // Takes a new snapshot; 0 on success, 1 when the process list cannot be read.
  int refresh() override;
  // The first process of the snapshot (lowest pid) whose image name matches without regard
  // to case and that still runs that image. A name given with a directory, Windows or
  // POSIX style, is matched by its base name. Takes a snapshot first when none was taken.
  bool findProcess(const wchar_t* imageName, TQOSProcess** process) override;

 private:
  std::mutex mutex_;
  bool refreshed_ = false;
  std::vector<kiv::platform::ProcessEntry> processes_;
};
