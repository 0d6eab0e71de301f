// Windows has no journal (its services report through the event log): the host is never
// taken for a systemd service and writes no journal entries.
#include "tools/kiv/journal_output.h"

namespace kiv::tool {

bool startedBySystemd() { return false; }
void journalEvent(int, const std::string&, const std::string&, const std::string&, const std::string&) {}

}  // namespace kiv::tool
