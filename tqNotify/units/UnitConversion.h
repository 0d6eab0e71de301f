// Conversion between the wide and narrow unit records. Narrow text is in the system code
// page (UTF-8); every string is converted over its whole length.
#pragma once

#include "tqNotify/units/UnitInfo.h"

// The integers are copied and the target's next link is cleared.
void toWide(const UnitInfoA& from, UnitInfoW& to);
void toNarrow(const UnitInfoW& from, UnitInfoA& to);
