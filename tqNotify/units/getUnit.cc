// Reading units: the record's home directory and the selected fields.
#include <vector>

#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"
#include "tqNotify/units/UnitConversion.h"
#include "tqNotify/units/UnitFields.h"
#include "tqNotify/units/UnitReader.h"

namespace {

constexpr uint32_t kStringCapacity = 4096;

// One read buffer per thread: enumerations read thousands of values.
std::vector<wchar_t>& readBuffer() {
  thread_local std::vector<wchar_t> buffer(kStringCapacity);
  return buffer;
}

bool readString(ITQConfig& config, const TQStringW& section, const wchar_t* key,
                TQStringW& field) {
  std::vector<wchar_t>& buffer = readBuffer();
  uint32_t size = kStringCapacity;
  buffer[0] = L'\0';
  if (config.getStringW(section, key, buffer.data(), &size, 0) != 0) return false;
  buffer[kStringCapacity - 1] = L'\0';
  field = buffer.data();
  return true;
}

void readField(ITQConfig& config, const TQStringW& section, const UnitFieldSpec& spec,
               UnitInfoW& unit) {
  if (spec.text != nullptr) {
    readString(config, section, spec.readKey, unit.*spec.text);
    return;
  }
  if (spec.zeroBeforeRead) unit.*spec.number = 0;
  config.getNumber(section, spec.readKey, &(unit.*spec.number), 0);
}

// Every selected field but the type, lowest bit first.
void readFields(ITQConfig& config, const TQStringW& section, UnitInfoW& unit, uint32_t mask) {
  for (const UnitFieldSpec& spec : kUnitFields) {
    if (spec.bit != kUnitType && (mask & spec.bit)) readField(config, section, spec, unit);
  }
}

}  // namespace

void traceForeignComputerUnit(const wchar_t* function, const TQStringW& name) {
  wchar_t process[512] = {};
  TQPorting_GetModuleFileNameW(nullptr, process, 512);
  process[511] = L'\0';
  TQUtilities_TraceErrorW(L"AGUNIT", L"%s - Computer Unit called %s in process %s", function,
                          name.c_str(), process);
}

int readUnit(ITQConfig& config, UnitInfoW& unit, uint32_t mask) {
  if (!isStorableUnitName(unit.name)) return refuseUnitName(L"GetUnitW", unit.name);
  TQStringW section = unitSectionName(unit.name);
  if (!readString(config, section, L"homedirectory", unit.homedirectory)) return 5;

  if (mask & kUnitType) {
    readString(config, section, L"unittype", unit.unittype);
    if (isForeignComputerUnit(unit)) {
      traceForeignComputerUnit(L"GetUnitW", unit.name);
      return 5;
    }
  }
  readFields(config, section, unit, mask);
  return 0;
}

void readUnitFields(ITQConfig& config, UnitInfoW& unit, uint32_t mask) {
  readFields(config, unitSectionName(unit.name), unit, mask);
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
