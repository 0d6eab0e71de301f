// What running the address-change script takes that differs between systems: starting it
// with its environment, and ending it together with what it started.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/process.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace kiv::notifier {

// Starts the checked command with KIV_EVENT=address-change and KIV_ADDRESSES=`addresses`
// in its environment; `commandLine` is the line it was read from.
std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand& command, std::wstring_view commandLine,
                                                             const std::wstring& addresses);

// Whether a script that overran its time limit can be ended with everything it started.
bool canEndScriptGroup();
// Ends the script's process group, politely first, then for good. It is not reaped here.
void endScriptGroup(kiv::platform::Process& script);

}  // namespace kiv::notifier
