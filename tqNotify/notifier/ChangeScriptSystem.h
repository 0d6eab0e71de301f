// What running the address-change script takes that differs between systems: handing it
// its environment, and ending it together with what it started.
#pragma once

#include <string>
#include <string_view>

#include "platform/process.h"

namespace kiv::notifier {

// `commandLine` made to run with KIV_EVENT=address-change and KIV_ADDRESSES=`addresses`.
std::wstring commandWithEnvironment(std::wstring_view commandLine, const std::wstring& addresses);

// Whether `exitCode` is the starter's own answer that the command could not be started (a
// shell's "not found" or "not executable"); if so the system's last error says why.
bool startRefused(int exitCode);

// Whether a script that overran its time limit can be ended with everything it started.
bool canEndScriptGroup();
// Ends the script's process group, politely first, then for good. It is not reaped here.
void endScriptGroup(kiv::platform::Process& script);

}  // namespace kiv::notifier
