// CreateProcessW hands the host's own environment on, so the variables are set in the
// host's environment, which Windows guards with a lock. The script runs in a job object of
// its own, which ends as a whole, children included.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <windows.h>

#include "platform/utf8.h"

namespace kiv::notifier {

// CreateProcessW starts the command line itself, with no shell in between.
std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand&, std::wstring_view commandLine,
                                                             const ScriptVariables& variables) {
  for (const auto& [name, value] : variables) {
    SetEnvironmentVariableW(kiv::utf::widen(name).c_str(), kiv::utf::widen(value).c_str());
  }
  return kiv::platform::Process::startReading(commandLine);
}

bool canEndScriptGroup() { return true; }

// The exit code a script ended at its time limit leaves, as the system gives it for a
// process ended from outside.
void endScriptGroup(kiv::platform::Process& script) { script.endTree(ERROR_TIMEOUT); }

// The host's events go to the event log; the script's lines stay in the trace.
void logScriptLine(int, const char*, const std::string&) {}

}  // namespace kiv::notifier
