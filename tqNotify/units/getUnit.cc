// Reading units: the record's home directory and the selected fields.
#include "tqNotify/tqNotify.h"
#include "tqNotify/units/UnitConversion.h"
#include "tqNotify/units/UnitFields.h"
#include "tqNotify/units/UnitReader.h"

UnitReader::UnitReader(ITQConfig& config, const TQStringW& name) {
  config.readSection(unitSectionName(name), section_.fill(), 0);
}

// A missing value leaves the field as it was.
bool UnitReader::readString(const wchar_t* key, TQStringW& field) {
  if (!section_) return false;
  uint32_t size = kStringCapacity;
  if (section_.get()->getStringW(key, buffer_, &size) != 0) return false;
  // A stored text may hold a NUL; the field ends there, as a C string copy would.
  field = buffer_;
  return true;
}

int UnitReader::readIdentity(UnitInfoW& unit, uint32_t mask) {
  if (!readString(L"homedirectory", unit.homedirectory)) return 5;
  if (mask & kUnitType) {
    readString(L"unittype", unit.unittype);
    if (isForeignComputerUnit(unit)) {
      traceForeignComputerUnit(L"GetUnitW", unit.name);
      return 5;
    }
  }
  return 0;
}

void UnitReader::readFields(UnitInfoW& unit, uint32_t mask) {
  for (const UnitFieldEntry& entry : kUnitFields) {
    if (entry.bit == kUnitType || !(mask & entry.bit)) continue;
    if (entry.text != nullptr) {
      readString(entry.readKey, unit.*entry.text);
      continue;
    }
    if (entry.zeroBeforeRead) unit.*entry.number = 0;
    if (section_) section_.get()->getNumber(entry.readKey, &(unit.*entry.number));
  }
}

void traceForeignComputerUnit(const wchar_t* function, const TQStringW& name) {
  wchar_t process[512] = {};
  TQPorting_GetModuleFileNameW(nullptr, process, 512);
  process[511] = L'\0';
  TQUtilities_TraceErrorW(L"AGUNIT", L"%s - Computer Unit called %s in process %s", function,
                          name.c_str(), process);
}

int readUnit(ITQConfig& config, UnitInfoW& unit, uint32_t mask) {
  if (!isStorableUnitName(unit.name)) return refuseUnitName(L"GetUnitW", unit.name);
  UnitReader reader(config, unit.name);
  if (const int result = reader.readIdentity(unit, mask); result != 0) return result;
  reader.readFields(unit, mask);
  return 0;
}

int getUnitExW(UnitInfoW* unit, uint32_t mask) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  if (!config) return 1;
  if (unit == nullptr) return 5;
  return readUnit(*config.get(), *unit, mask);
}

int getUnitExA(UnitInfoA* unit, uint32_t mask) {
  if (unit == nullptr) return getUnitExW(nullptr, mask);
  UnitInfoW wide;
  toWide(*unit, wide);
  int result = getUnitExW(&wide, mask);
  toNarrow(wide, *unit);
  return result;
}

int getUnitW(UnitInfoW* unit) { return getUnitExW(unit, 0xffff); }

int getUnitA(UnitInfoA* unit) { return getUnitExA(unit, 0xffff); }
