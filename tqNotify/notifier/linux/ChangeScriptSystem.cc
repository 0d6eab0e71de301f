// The script is started directly with the words of its command line, and the variables go
// into its own environment only: no other thread of the host sees its environment change.
// The script leads a process group of its own, which signals end as a whole.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <signal.h>

#include <cerrno>
#include <cstdint>

#include "platform/utf8.h"

namespace kiv::notifier {
namespace {

// How long an ended script's group gets to exit on SIGTERM before SIGKILL.
constexpr uint32_t kGraceMs = 2000;

}  // namespace

std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand& command, std::wstring_view,
                                                             const std::wstring& addresses) {
  if (command.program.empty()) {
    errno = ENOENT;  // nothing by that name on PATH, as the shell would have said
    return nullptr;
  }
  return kiv::platform::Process::startHidden(
      command.program, command.arguments, {"KIV_EVENT=address-change", "KIV_ADDRESSES=" + kiv::utf::narrow(addresses)});
}

bool canEndScriptGroup() { return true; }

// Until the script is reaped its pid cannot be reused, so both signals reach only the script
// and what it started.
void endScriptGroup(kiv::platform::Process& script) {
  killpg(script.pid(), SIGTERM);
  kiv::platform::waitOne(script.handle(), kGraceMs);
  killpg(script.pid(), SIGKILL);
}

}  // namespace kiv::notifier
