// The process id: Windows processes do not fork, so it never changes.
#include "framework/tqUtilities/process_id.h"

#include <windows.h>

namespace kiv {

long processId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace kiv
