// What the address-change script gets besides its command line: the event and the current
// address list in its environment, and an optional time limit after which it is ended.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "TQString.h"
#include "platform/process.h"

namespace kiv::notifier {

// The command line that runs `commandLine` with KIV_EVENT=address-change and
// KIV_ADDRESSES (the addresses, space-separated) in its environment.
std::wstring withChangeEnvironment(std::wstring_view commandLine, const std::list<TQStringW>& addresses);
// The same with the machine's current address list.
std::wstring withChangeEnvironment(std::wstring_view commandLine);

// The configured limit in seconds ("ipchangescripttimeout"); 0 when there is none.
uint32_t changeScriptTimeoutSeconds();

// Waits for the started script. When it runs past `timeoutSeconds` (0: no limit), its whole
// process group is ended, first politely, then for good, and a trace names the command line.
void waitForChangeScript(kiv::platform::Process& script, uint32_t timeoutSeconds, const wchar_t* commandLine);

}  // namespace kiv::notifier
