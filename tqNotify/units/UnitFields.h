// How each selectable field of a unit record is stored: its selection bit, its
// configuration keys and where it sits in the wide record.
#pragma once

#include <array>
#include <cstdint>

#include "tqNotify/units/UnitInfo.h"

struct UnitFieldEntry {
  uint32_t bit;
  const wchar_t* writeKey;
  const wchar_t* readKey;  // differs only for the URI, written as "uri" and read as "URI"
  TQStringW UnitInfoW::*text;  // null for the integers
  int32_t UnitInfoW::*number;  // null for the strings
  bool zeroBeforeRead;         // a missing value then reads as 0
};

// In the order the selection bits are walked: lowest bit first.
extern const std::array<UnitFieldEntry, 15> kUnitFields;

// The configuration section that holds the units, and the one of a single unit.
inline constexpr const wchar_t* kUnitsSection = L"dlox/agent/units";
TQStringW unitSectionName(const TQStringW& name);

// A name can be one section below the units section only when it is not empty and holds
// neither the section separator "/" nor a NUL character.
bool isStorableUnitName(const TQStringW& name);

// Writes the error trace for a refused name and answers 5.
int refuseUnitName(const wchar_t* function, const TQStringW& name);

// True when the record claims type "computer" under a name other than ".".
bool isForeignComputerUnit(const UnitInfoW& unit);
