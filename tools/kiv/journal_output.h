// Events of the plug-in host as journal entries with structured fields (KIV_CODE, KIV_S1,
// KIV_S2, KIV_S3), written when the host runs as a systemd service.
#pragma once

#include <string>

namespace kiv::tool {

// Whether the host was started by systemd as a service (systemd gives every service an
// invocation id); only then is there a journal that wants the fields.
bool startedBySystemd();

// One entry; `line` is its message, the same text as the line on standard output.
void journalEvent(int code, const std::string& s1, const std::string& s2, const std::string& s3,
                  const std::string& line);

}  // namespace kiv::tool
