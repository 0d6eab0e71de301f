// What running the address-change script takes that differs between systems: starting it
// with its environment and its output on pipes, ending it together with what it started,
// and the system log beside the trace.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace kiv::notifier {

// Names and values of the variables the script finds in its environment.
using ScriptVariables = std::vector<std::pair<std::string, std::string>>;

// Starts the checked command with `variables` in its environment and its output on pipes;
// `commandLine` is the line it was read from.
std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand& command, std::wstring_view commandLine,
                                                             const ScriptVariables& variables);

// Ends the script and everything it started, politely first where the system allows, then
// for good; what it writes meanwhile goes to `receiver`, so that it cannot block on a full
// pipe while it winds up. It is not reaped here, even when it ends in between, so that the
// last signal cannot reach a group that took its number over; the caller's wait reaps it.
void endScriptGroup(kiv::platform::Process& script, const kiv::platform::OutputReceiver& receiver);

// Writes a trace line about the script's run to the system log as well, where the host runs
// as a service that has one; `stream` is "stdout", "stderr" or "end".
void logScriptLine(int pid, const char* stream, const std::string& message);

}  // namespace kiv::notifier
