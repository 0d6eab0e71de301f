// What the address-change script gets besides its command line: the event and the current
// address list in its environment, and an optional time limit after which it is ended.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/process.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace kiv::notifier {

// Starts the checked command with KIV_EVENT=address-change and KIV_ADDRESSES (the machine's
// current addresses, space-separated) in its environment. Null when it could not start;
// the system's last error then says why.
std::unique_ptr<kiv::platform::Process> startChangeScript(const ScriptCommand& command, std::wstring_view commandLine);

// The configured limit in seconds ("ipchangescripttimeout"); 0 when there is none.
uint32_t changeScriptTimeoutSeconds();

// Waits for the started script. When it runs past `timeoutSeconds` (0: no limit), its whole
// process group is ended, first politely, then for good, and a trace names the command line.
void waitForChangeScript(kiv::platform::Process& script, uint32_t timeoutSeconds, const wchar_t* commandLine);

}  // namespace kiv::notifier
