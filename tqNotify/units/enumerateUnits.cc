// Listing units by type: a linked list allocated here and given back here to be freed.
#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"
#include "tqNotify/units/UnitConversion.h"
#include "tqNotify/units/UnitFields.h"
#include "tqNotify/units/UnitReader.h"

namespace {

struct TypeBit {
  uint32_t bit;
  const wchar_t* name;
};

// Compared in this order; the first equal name selects the unit.
constexpr std::array<TypeBit, 6> kTypeBits = {{
    {kUnitTypeDockingDeviceWindows, L"dockingDeviceWindows"},
    {kUnitTypeDockingDevicePalm, L"dockingDevicePalm"},
    {kUnitTypeDockingDeviceNokia, L"dockingDeviceNokia"},
    {kUnitTypeUser, L"User"},
    {kUnitTypeComputerUser, L"computerUser"},
    {kUnitTypeComputer, L"computer"},
}};

bool typeSelected(const TQStringW& unittype, uint32_t typeMask) {
  for (const TypeBit& type : kTypeBits) {
    if ((typeMask & type.bit) && unittype.comparei(type.name) == 0) return true;
  }
  return false;
}

// Keeps the whole enumeration on one consistent view of the store.
class Snapshot {
 public:
  explicit Snapshot(ITQConfig& config) : config_(config) { config_.beginSnapshot(); }
  ~Snapshot() { config_.endSnapshot(); }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

 private:
  ITQConfig& config_;
};

// The names of the sections below the units section, in store order; false when they
// could not be listed or there are none.
bool listUnitSections(ITQConfig& config, std::vector<std::wstring>* names) {
  uint32_t count = 0;
  uint32_t size = 0;
  int sizing = config.listSections(kUnitsSection, nullptr, &count, &size, 0);
  if (!(sizing == kTQConfigMoreData || (sizing == 0 && count != 0))) return false;

  // One spare character so that the walk below always finds a final empty name.
  std::vector<wchar_t> buffer(static_cast<std::size_t>(size) + 2, L'\0');
  uint32_t filled = size;
  if (config.listSections(kUnitsSection, buffer.data(), &count, &filled, 0) != 0) return false;

  const wchar_t* end = buffer.data() + size;
  for (const wchar_t* entry = buffer.data(); entry < end && *entry != L'\0';) {
    std::wstring name(entry);
    entry += name.size() + 1;
    names->push_back(std::move(name));
  }
  return true;
}

void freeWide(UnitInfoW* head) {
  while (head != nullptr) delete std::exchange(head, head->next);
}

}  // namespace

int enumerateUnitsExW(UnitInfoW** list, uint32_t typeMask, uint32_t fieldMask) {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), -1);
  if (!config) return 1;
  ITQConfig& store = *config.get();
  Snapshot snapshot(store);

  std::vector<std::wstring> names;
  if (!listUnitSections(store, &names)) return 1;

  UnitInfoW* head = nullptr;
  try {
    for (const std::wstring& name : names) {
      UnitInfoW scratch;
      scratch.name = name.c_str();
      // One read of the unit's section serves its type and the selected fields.
      UnitReader reader(store, scratch.name);
      if (reader.readIdentity(scratch, kUnitType) != 0) continue;
      if (!typeSelected(scratch.unittype, typeMask)) continue;
      reader.readFields(scratch, fieldMask);
      // The scratch record is not used again: its fields move into the list record.
      auto* record = new UnitInfoW(std::move(scratch));
      record->next = head;
      head = record;
    }
  } catch (...) {
    freeWide(head);
    throw;
  }
  if (list != nullptr) {
    *list = head;
  } else {
    freeWide(head);
  }
  return 0;
}

int enumerateUnitsExA(UnitInfoA** list, uint32_t typeMask, uint32_t fieldMask) {
  UnitInfoW* wide = nullptr;
  int result = enumerateUnitsExW(&wide, typeMask, fieldMask);
  std::unique_ptr<UnitInfoW, decltype(&freeWide)> wideList(wide, &freeWide);

  UnitInfoA* head = nullptr;
  UnitInfoA** tail = &head;
  try {
    for (const UnitInfoW* record = wide; record != nullptr; record = record->next) {
      *tail = new UnitInfoA;
      toNarrow(*record, **tail);
      tail = &(*tail)->next;
    }
  } catch (...) {
    freeUnitListA(head);
    throw;
  }
  if (list != nullptr) {
    *list = head;
  } else {
    freeUnitListA(head);
  }
  return result;
}

int enumerateUnitsW(UnitInfoW** list, uint32_t typeMask) {
  return enumerateUnitsExW(list, typeMask, 0xffff);
}

int enumerateUnitsA(UnitInfoA** list, uint32_t typeMask) {
  return enumerateUnitsExA(list, typeMask, 0xffff);
}

int freeUnitListW(UnitInfoW* list) {
  freeWide(list);
  return 0;
}

int freeUnitListA(UnitInfoA* list) {
  while (list != nullptr) delete std::exchange(list, list->next);
  return 0;
}
