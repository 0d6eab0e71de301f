// CreateProcessW hands the host's own environment on, so the variables are set in the
// host's environment, which Windows guards with a lock. Nothing here ends a process tree
// yet, so a script runs without a time limit.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <windows.h>

namespace kiv::notifier {

// CreateProcessW starts the command line itself, with no shell in between.
std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand&, std::wstring_view commandLine,
                                                             const std::wstring& addresses) {
  SetEnvironmentVariableW(L"KIV_EVENT", L"address-change");
  SetEnvironmentVariableW(L"KIV_ADDRESSES", addresses.c_str());
  return kiv::platform::Process::startHidden(commandLine);
}

bool canEndScriptGroup() { return false; }

void endScriptGroup(kiv::platform::Process&) {}

}  // namespace kiv::notifier
