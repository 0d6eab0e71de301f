// Creating and updating units: a new unit gets the next home directory below the units
// directory; then the selected fields are written.
#include "platform/version.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"
#include "tqNotify/units/UnitConversion.h"
#include "tqNotify/units/UnitFields.h"
#include "tqNotify/units/UnitReader.h"
#include "tqNotify/units/UnitsAccess.h"

namespace {

// The group bits become the mask of the access list a new directory inherits from the
// units directory, so they must allow everything for the users entry to be effective.
constexpr int kDirectoryMode = 0775;
constexpr uint32_t kStringCapacity = 4096;

// The 95 family's file functions take only narrow paths.
bool exists(const TQStringW& path) {
  if (kiv::platform::isNineXFamily(kiv::platform::getVersion())) {
    TQStringA narrow;
    narrow.assign_unicode(path, TQStringA::npos);
    return tq_access(narrow, 0) != -1;
  }
  return tq_waccess(path, 0) != -1;
}

void makeDirectory(const TQStringW& path) {
  if (kiv::platform::isNineXFamily(kiv::platform::getVersion())) {
    TQStringA narrow;
    narrow.assign_unicode(path, TQStringA::npos);
    tq_mkdir(narrow, kDirectoryMode);
    return;
  }
  tq_wmkdir(path, kDirectoryMode);
}

bool unitExists(ITQConfig& config, const TQStringW& section) {
  wchar_t buffer[kStringCapacity];
  uint32_t size = kStringCapacity;
  return config.getStringW(section, L"homedirectory", buffer, &size, 0) == 0;
}

// Hands out the next directory number and creates the home directory. Directories are
// created one level at a time; when one cannot be made the values are written anyway.
void createUnit(ITQConfig& config, const TQStringW& section) {
  TQStringW unitsPath = getUnitsPathW();
  if (!exists(unitsPath)) {
    makeDirectory(unitsPath);
    if (isNT5OrLater()) setUnitsDirectoryAccess(unitsPath);
  }

  int32_t stored = 0;
  config.getNumber(kUnitsSection, L"directorycounter", &stored, 0);
  // Unsigned arithmetic: the counter wraps instead of overflowing.
  uint32_t counter = static_cast<uint32_t>(stored) + 1;
  TQStringW directoryName;
  directoryName.format(L"%.8x", counter);

  TQStringW home = unitsPath;
  home.add_path_separator();
  home += directoryName;
  makeDirectory(home);

  config.setNumber(kUnitsSection, L"directorycounter", static_cast<int32_t>(counter), 0);
  config.setStringW(section, L"homedirectory", directoryName, 0);
}

void writeFields(ITQConfig& config, const TQStringW& section, const UnitInfoW& unit,
                 uint32_t mask) {
  for (const UnitFieldEntry& entry : kUnitFields) {
    if (!(mask & entry.bit)) continue;
    if (entry.text != nullptr) {
      config.setStringW(section, entry.writeKey, unit.*entry.text, 0);
    } else {
      config.setNumber(section, entry.writeKey, unit.*entry.number, 0);
    }
  }
}

}  // namespace

int addUnitW(UnitInfoW* unit, uint32_t mask) {
  if (unit == nullptr) return 5;
  if ((mask & kUnitType) && isForeignComputerUnit(*unit)) {
    traceForeignComputerUnit(L"AddUnitW", unit->name);
    return 5;
  }
  if (!isStorableUnitName(unit->name)) return refuseUnitName(L"AddUnitW", unit->name);

  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  if (!config) return 1;

  TQStringW section = unitSectionName(unit->name);
  if (!unitExists(*config.get(), section)) createUnit(*config.get(), section);
  writeFields(*config.get(), section, *unit, mask);
  return 0;
}

int addUnitA(UnitInfoA* unit, uint32_t mask) {
  if (unit == nullptr) return addUnitW(nullptr, mask);
  UnitInfoW wide;
  toWide(*unit, wide);
  return addUnitW(&wide, mask);
}
