// A process found by the process enumerator, watched through its pidfd.
#pragma once

#include <memory>

#include "../ComponentBase.h"
#include "TQOSServices.h"
#include "platform/process.h"

class CTQOSProcess final : public kiv::components::Component<TQOSProcess, 1> {
 public:
  explicit CTQOSProcess(std::unique_ptr<kiv::platform::Process> process)
      : Component(kiv::components::Origin::kHandedOut), process_(std::move(process)) {}

  // Signalled once the process has ended; valid as long as the object lives.
  kiv::platform::WaitHandle handle() override { return process_->handle(); }

 private:
  std::unique_ptr<kiv::platform::Process> process_;
};
