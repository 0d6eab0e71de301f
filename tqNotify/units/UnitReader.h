// Reading one unit from an already obtained configuration object, so that a series of
// reads (an enumeration) can share one object and its consistent view of the store.
#pragma once

#include <cstdint>

#include "ITQConfig.h"
#include "tqNotify/units/UnitInfo.h"

// As getUnitExW after the configuration object was obtained: 0 found, 5 no such unit, a
// refused name, or a "computer" unit not named ".".
int readUnit(ITQConfig& config, UnitInfoW& unit, uint32_t mask);

// Reads the selected fields other than the type and the home directory, for a record
// that readUnit has just filled from the same consistent view of the store.
void readUnitFields(ITQConfig& config, UnitInfoW& unit, uint32_t mask);

// Writes the refusal of a "computer" unit not named "." (function names the caller).
void traceForeignComputerUnit(const wchar_t* function, const TQStringW& name);
