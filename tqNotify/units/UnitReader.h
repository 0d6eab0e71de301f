// Reading one unit: its whole section is read from the configuration store at once, then
// the record's fields are filled from that one consistent set of values.
#pragma once

#include <cstdint>

#include "ITQConfig.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/units/UnitInfo.h"

class UnitReader {
 public:
  // Reads the section of the unit called `name` (a storable name).
  UnitReader(ITQConfig& config, const TQStringW& name);

  // The home directory and, when the mask has the type bit, the type with the refusal
  // of a "computer" unit not named ".": 0 found, 5 no such unit or refused.
  int readIdentity(UnitInfoW& unit, uint32_t mask);
  // The selected fields other than the type, lowest bit first. A missing string leaves
  // its field as it was; a missing reference count reads as 0.
  void readFields(UnitInfoW& unit, uint32_t mask);

 private:
  bool readString(const wchar_t* key, TQStringW& field);

  TQptr<ITQConfigSection> section_;
  // Values longer than this (NUL included) are not read, as a fixed buffer of this size
  // would not hold them.
  static constexpr uint32_t kStringCapacity = 4096;
  wchar_t buffer_[kStringCapacity];
};

// As getUnitExW after the configuration object was obtained: 0 found, 5 no such unit, a
// refused name, or a "computer" unit not named ".".
int readUnit(ITQConfig& config, UnitInfoW& unit, uint32_t mask);

// Writes the refusal of a "computer" unit not named "." (function names the caller).
void traceForeignComputerUnit(const wchar_t* function, const TQStringW& name);
