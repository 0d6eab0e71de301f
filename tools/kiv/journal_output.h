// Events of the plug-in host as journal entries with structured fields (KIV_CODE, KIV_S1,
// KIV_S2, KIV_S3), written when the host runs under systemd.
#pragma once

#include <string>

namespace kiv::tool {

// Where the host's events go.
enum class JournalUse {
  kNone,     // standard output only: no journal wants them
  kBeside,   // a systemd service whose standard output goes elsewhere: both
  kInstead,  // standard output is the journal's own stream: the structured entry only, or
             // every event would be in the journal twice
};

// Decided from the environment systemd gives its services: INVOCATION_ID marks a service,
// JOURNAL_STREAM names the device and inode of the journal's stream on standard output.
JournalUse journalUse();

// One entry; `line` is its message, the same text as the line on standard output. False
// when the journal did not take it.
bool journalEvent(int code, const std::string& s1, const std::string& s2, const std::string& s3,
                  const std::string& line);

}  // namespace kiv::tool
