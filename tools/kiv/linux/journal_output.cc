// Journal entries for host events through sd-journal: every field is sent as it is, and
// sd-journal carries values with newlines or other bytes in its binary-safe form.
#include "tools/kiv/journal_output.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdlib>

namespace kiv::tool {

bool startedBySystemd() {
  const char* id = std::getenv("INVOCATION_ID");
  return id != nullptr && *id != '\0';
}

void journalEvent(int code, const std::string& s1, const std::string& s2, const std::string& s3,
                  const std::string& line) {
  // A journal that is gone must not stop the events on standard output: the result is
  // not looked at.
  sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%d", LOG_INFO, "KIV_CODE=%d", code,
                  "KIV_S1=%s", s1.c_str(), "KIV_S2=%s", s2.c_str(), "KIV_S3=%s", s3.c_str(), nullptr);
}

}  // namespace kiv::tool
