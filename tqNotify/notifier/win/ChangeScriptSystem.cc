// The script gets an environment block of its own, the host's with the variables put over
// it: the host's environment, which every thread shares, stays as it is. The script runs in
// a job object of its own, which ends as a whole, children included.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <windows.h>

#include "platform/utf8.h"

namespace kiv::notifier {

// CreateProcessW starts the command line itself, with no shell in between.
std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand&, std::wstring_view commandLine,
                                                             const ScriptVariables& variables) {
  std::vector<std::wstring> environment;
  for (const auto& [name, value] : variables) environment.push_back(kiv::utf::widen(name + "=" + value));
  return kiv::platform::Process::startReading(commandLine, environment);
}

// The exit code a script ended at its time limit leaves, as the system gives it for a
// process ended from outside. The job ends at once, so nothing is left to read meanwhile.
void endScriptGroup(kiv::platform::Process& script, const kiv::platform::OutputReceiver&) {
  script.endTree(ERROR_TIMEOUT);
}

// The host's events go to the event log; the script's lines stay in the trace.
void logScriptLine(int, const char*, const std::string&) {}

}  // namespace kiv::notifier
