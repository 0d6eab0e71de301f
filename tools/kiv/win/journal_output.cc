// Windows has no journal (its services report through the event log): the host's events
// go to standard output only.
#include "tools/kiv/journal_output.h"

namespace kiv::tool {

JournalUse journalUse() { return JournalUse::kNone; }
bool journalEvent(int, const std::string&, const std::string&, const std::string&, const std::string&) {
  return false;
}

}  // namespace kiv::tool
