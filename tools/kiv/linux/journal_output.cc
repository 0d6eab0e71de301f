// Journal entries for host events through sd-journal: every field is sent as it is, and
// sd-journal carries values with newlines or other bytes in its binary-safe form.
#include "tools/kiv/journal_output.h"

#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace kiv::tool {
namespace {

// JOURNAL_STREAM is "DEVICE:INODE" in decimal, of the stream systemd connected to the
// service's standard output or error; either may have been redirected since.
bool standardOutputIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  uintmax_t device = 0;
  uintmax_t inode = 0;
  int consumed = 0;
  if (std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &consumed) != 2 ||
      stream[consumed] != '\0') {
    return false;
  }
  struct stat info {};
  return ::fstat(STDOUT_FILENO, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace

JournalUse journalUse() {
  if (standardOutputIsJournal()) return JournalUse::kInstead;
  const char* id = std::getenv("INVOCATION_ID");
  return id != nullptr && *id != '\0' ? JournalUse::kBeside : JournalUse::kNone;
}

bool journalEvent(int code, const std::string& s1, const std::string& s2, const std::string& s3,
                  const std::string& line) {
  return sd_journal_send("MESSAGE=%s", line.c_str(), "PRIORITY=%d", LOG_INFO, "KIV_CODE=%d", code,
                         "KIV_S1=%s", s1.c_str(), "KIV_S2=%s", s2.c_str(), "KIV_S3=%s", s3.c_str(),
                         nullptr) >= 0;
}

}  // namespace kiv::tool
