// Reading units: the record's home directory and the selected fields.
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"
#include "tqNotify/units/UnitConversion.h"
#include "tqNotify/units/UnitFields.h"
#include "tqNotify/units/UnitReader.h"

namespace {

constexpr uint32_t kStringCapacity = 4096;

// Reads the values of one unit section through one buffer.
class SectionReader {
 public:
  SectionReader(ITQConfig& config, const TQStringW& name)
      : config_(config), section_(unitSectionName(name)) {}

  // A missing value leaves the field as it was.
  bool readString(const wchar_t* key, TQStringW& field) {
    uint32_t size = kStringCapacity;
    buffer_[0] = L'\0';
    if (config_.getStringW(section_, key, buffer_, &size, 0) != 0) return false;
    buffer_[kStringCapacity - 1] = L'\0';
    field = buffer_;
    return true;
  }

  // Every selected field but the type, lowest bit first.
  void readFields(UnitInfoW& unit, uint32_t mask) {
    for (const UnitFieldEntry& entry : kUnitFields) {
      if (entry.bit == kUnitType || !(mask & entry.bit)) continue;
      if (entry.text != nullptr) {
        readString(entry.readKey, unit.*entry.text);
        continue;
      }
      if (entry.zeroBeforeRead) unit.*entry.number = 0;
      config_.getNumber(section_, entry.readKey, &(unit.*entry.number), 0);
    }
  }

 private:
  ITQConfig& config_;
  TQStringW section_;
  wchar_t buffer_[kStringCapacity];
};

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
  SectionReader reader(config, unit.name);
  if (!reader.readString(L"homedirectory", unit.homedirectory)) return 5;

  if (mask & kUnitType) {
    reader.readString(L"unittype", unit.unittype);
    if (isForeignComputerUnit(unit)) {
      traceForeignComputerUnit(L"GetUnitW", unit.name);
      return 5;
    }
  }
  reader.readFields(unit, mask);
  return 0;
}

void readUnitFields(ITQConfig& config, UnitInfoW& unit, uint32_t mask) {
  SectionReader(config, unit.name).readFields(unit, mask);
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
