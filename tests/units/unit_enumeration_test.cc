// Listing units: selection by type, order of both lists, records that are not units and
// the empty store.
#include <algorithm>
#include <vector>

#include "units_fixture.h"

namespace unitstest {
namespace {

template <class Record>
std::vector<std::string> names(const Record* list) {
  std::vector<std::string> result;
  for (; list != nullptr; list = list->next) {
    if constexpr (std::is_same_v<Record, UnitInfoW>) {
      result.push_back(narrow(list->name));
    } else {
      result.push_back(list->name.str());
    }
  }
  return result;
}

using Names = std::vector<std::string>;

TEST_F(UnitsTest, EmptyUnitsSection) {
  auto* sentinel = reinterpret_cast<UnitInfoW*>(0x1);
  UnitInfoW* wide = sentinel;
  EXPECT_EQ(enumerateUnitsExW(&wide, 0x3f, 0xffff), 1);
  EXPECT_EQ(wide, sentinel) << "the wide slot is left as the caller set it";

  UnitInfoA narrowHead;
  UnitInfoA* narrowList = &narrowHead;
  EXPECT_EQ(enumerateUnitsA(&narrowList, 0x3f), 1);
  EXPECT_EQ(narrowList, nullptr);

  EXPECT_EQ(freeUnitListW(nullptr), 0);
  EXPECT_EQ(freeUnitListA(nullptr), 0);
}

TEST_F(UnitsTest, ListsAreInReverseStoreOrderInBothWidths) {
  for (const wchar_t* name : {L"a", L"b", L"c"}) {
    UnitInfoW record = unit(name, L"User");
    record.domain = L"CORP";
    ASSERT_EQ(addUnitW(&record, kUnitType | kUnitDomain), 0);
  }
  UnitInfoW* wide = nullptr;
  ASSERT_EQ(enumerateUnitsW(&wide, kUnitTypeUser), 0);
  EXPECT_EQ(names(wide), (Names{"c", "b", "a"}));
  EXPECT_EQ(narrow(wide->domain), "CORP");
  freeUnitListW(wide);

  UnitInfoA* narrowList = nullptr;
  ASSERT_EQ(enumerateUnitsExA(&narrowList, kUnitTypeUser, kUnitDomain), 0);
  EXPECT_EQ(names(narrowList), (Names{"c", "b", "a"}));
  EXPECT_EQ(narrowList->domain, "CORP");
  EXPECT_EQ(narrowList->homedirectory, "00000003");
  freeUnitListA(narrowList);
}

TEST_F(UnitsTest, TypeSelection) {
  storeUnit(L".", L"computer", L"00000001");
  storeUnit(L"pc1", L"computer", L"00000002");
  storeUnit(L"u1", L"USER", L"00000003");
  storeUnit(L"cu", L"computerUser", L"00000004");
  storeUnit(L"palm", L"dockingDevicePalm", L"00000005");
  storeUnit(L"nohome", L"User", nullptr);
  storeUnit(L"odd", L"somethingElse", L"00000006");

  struct Case {
    uint32_t types;
    Names expected;
  };
  for (const Case& c : std::vector<Case>{{0, {}},
                                         {kUnitTypeUser, {"u1"}},
                                         {kUnitTypeComputer, {"."}},
                                         {kUnitTypeDockingDevicePalm, {"palm"}},
                                         {0xffffffc0u, {}},
                                         {0x3f, {".", "cu", "palm", "u1"}}}) {
    UnitInfoW* list = nullptr;
    EXPECT_EQ(enumerateUnitsExW(&list, c.types, 0), 0) << c.types;
    Names listed = names(list);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, c.expected) << "type mask " << c.types;
    freeUnitListW(list);
  }
}

TEST_F(UnitsTest, FieldMaskZeroCarriesOnlyNameTypeAndHome) {
  UnitInfoW record = unit(L"u", L"User");
  record.domain = L"CORP";
  record.referencecount = 4;
  ASSERT_EQ(addUnitW(&record, 0x7fff), 0);

  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, 0), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(narrow(list->unittype), "User");
  EXPECT_EQ(narrow(list->homedirectory), "00000001");
  EXPECT_TRUE(list->domain.empty());
  EXPECT_EQ(list->next, nullptr);
  freeUnitListW(list);
}

}  // namespace
}  // namespace unitstest
