// Each field of a unit is written and read under its own selection bit and no other, in
// single records and in lists; unit names are one unit whatever their letter case.
#include <algorithm>
#include <string>
#include <vector>

#include "units_fixture.h"

namespace unitstest {
namespace {

struct Field {
  uint32_t bit;
  const wchar_t* key;
  TQStringW UnitInfoW::*text;
  int32_t UnitInfoW::*number;
};

const std::vector<Field> kFields = {
    {kUnitType, L"unittype", &UnitInfoW::unittype, nullptr},
    {kUnitExecutionContext, L"executioncontext", &UnitInfoW::executioncontext, nullptr},
    {kUnitTriggable, L"triggable", nullptr, &UnitInfoW::triggable},
    {kUnitPreviousManagerAddress, L"previousmanageraddress", &UnitInfoW::previousmanageraddress, nullptr},
    {kUnitReferenceCount, L"referencecount", nullptr, &UnitInfoW::referencecount},
    {kUnitDomain, L"domain", &UnitInfoW::domain, nullptr},
    {kUnitUser, L"user", &UnitInfoW::user, nullptr},
    {kUnitLocalUser, L"localuser", nullptr, &UnitInfoW::localuser},
    {kUnitUri, L"uri", &UnitInfoW::uri, nullptr},
    {kUnitPreviousServerAddress, L"previousserveraddress", &UnitInfoW::previousserveraddress, nullptr},
    {kUnitPreviousDomainUuid, L"previousdomainuuid", &UnitInfoW::previousdomainuuid, nullptr},
    {kUnitLastMsiSource, L"lastmsisource", &UnitInfoW::lastmsisource, nullptr},
    {kUnitCurrentManagerAddress, L"currentmanageraddress", &UnitInfoW::currentmanageraddress, nullptr},
    {kUnitCurrentDomainUuid, L"currentdomainuuid", &UnitInfoW::currentdomainuuid, nullptr},
    {kUnitPreviousUri, L"previousuri", &UnitInfoW::previousuri, nullptr},
};

std::string keyOf(const Field& field) { return narrow(TQStringW(field.key)); }

// A value of its own for every field; numbers are 100 plus the field's place.
std::string textFor(const Field& field) { return "v-" + keyOf(field); }
int32_t numberFor(const Field& field) { return 100 + static_cast<int32_t>(&field - kFields.data()); }

// Every field filled with its own value ("User" as the type, so no guard applies).
UnitInfoW filled(const std::wstring& name) {
  UnitInfoW record;
  record.name = name.c_str();
  for (const Field& field : kFields) {
    if (field.text) {
      record.*field.text = TQStringW().format(L"%hs", textFor(field).c_str());
    } else {
      record.*field.number = numberFor(field);
    }
  }
  record.unittype = L"User";
  return record;
}

// Every field set to a value no read would give.
UnitInfoW sentinel(const std::wstring& name) {
  UnitInfoW record;
  record.name = name.c_str();
  for (const Field& field : kFields) {
    if (field.text) {
      record.*field.text = L"unset";
    } else {
      record.*field.number = -7;
    }
  }
  return record;
}

std::string expectedText(const Field& field) { return field.bit == kUnitType ? "User" : textFor(field); }

TEST_F(UnitsTest, EachFieldIsWrittenUnderItsOwnBitOnly) {
  for (const Field& written : kFields) {
    SCOPED_TRACE(keyOf(written));
    const std::wstring name = L"w-" + std::wstring(written.key);
    UnitInfoW record = filled(name);
    ASSERT_EQ(addUnitW(&record, written.bit), 0);
    const std::wstring section = L"dlox/agent/units/" + name;
    for (const Field& field : kFields) {
      const bool wanted = &field == &written;
      if (field.text) {
        EXPECT_EQ(value(name, field.key), wanted ? expectedText(field) : "<missing>") << keyOf(field);
      } else {
        EXPECT_EQ(number(section.c_str(), field.key), wanted ? numberFor(field) : -1) << keyOf(field);
      }
    }
  }
}

TEST_F(UnitsTest, EachFieldIsReadUnderItsOwnBitOnly) {
  UnitInfoW stored = filled(L"r");
  ASSERT_EQ(addUnitW(&stored, 0x7fff), 0);
  const std::string home = value(L"r", L"homedirectory");
  for (const Field& read : kFields) {
    SCOPED_TRACE(keyOf(read));
    UnitInfoW record = sentinel(L"r");
    ASSERT_EQ(getUnitExW(&record, read.bit), 0);
    EXPECT_EQ(narrow(record.homedirectory), home) << "read whatever the mask";
    for (const Field& field : kFields) {
      const bool wanted = &field == &read;
      if (field.text) {
        EXPECT_EQ(narrow(record.*field.text), wanted ? expectedText(field) : "unset") << keyOf(field);
      } else {
        EXPECT_EQ(record.*field.number, wanted ? numberFor(field) : -7) << keyOf(field);
      }
    }
  }
}

// Selected fields in every record of a list, whatever the selection; name, type and home
// always.
TEST_F(UnitsTest, ListsCarryTheSelectedFieldsOnly) {
  for (const wchar_t* name : {L"l-a", L"l-b"}) {
    UnitInfoW record = filled(name);
    ASSERT_EQ(addUnitW(&record, 0x7fff), 0);
  }
  for (const uint32_t mask : {uint32_t{kUnitDomain | kUnitReferenceCount},
                              uint32_t{kUnitExecutionContext | kUnitLocalUser | kUnitPreviousUri},
                              uint32_t{kUnitUri | kUnitTriggable | 0x10000}}) {
    SCOPED_TRACE(mask);
    UnitInfoW* list = nullptr;
    ASSERT_EQ(enumerateUnitsExW(&list, kUnitTypeUser, mask), 0);
    int records = 0;
    for (const UnitInfoW* record = list; record != nullptr; record = record->next) {
      if (!record->name.str().starts_with(L"l-")) continue;  // units of other tests
      ++records;
      EXPECT_EQ(narrow(record->unittype), "User");
      EXPECT_FALSE(record->homedirectory.empty());
      for (const Field& field : kFields) {
        if (field.bit == kUnitType) continue;
        const bool wanted = (mask & field.bit) != 0;
        if (field.text) {
          EXPECT_EQ(narrow(record->*field.text), wanted ? textFor(field) : "") << keyOf(field);
        } else if (wanted) {
          EXPECT_EQ(record->*field.number, numberFor(field)) << keyOf(field);
        }
      }
    }
    freeUnitListW(list);
    EXPECT_EQ(records, 2);

    UnitInfoA* narrowList = nullptr;
    ASSERT_EQ(enumerateUnitsExA(&narrowList, kUnitTypeUser, mask), 0);
    while (narrowList != nullptr && narrowList->name.str() != "l-b") {
      UnitInfoA* other = narrowList;
      narrowList = narrowList->next;
      other->next = nullptr;
      freeUnitListA(other);
    }
    ASSERT_NE(narrowList, nullptr);
    EXPECT_EQ(narrowList->domain.str(), (mask & kUnitDomain) ? "v-domain" : "");
    EXPECT_EQ(narrowList->uri.str(), (mask & kUnitUri) ? "v-uri" : "");
    EXPECT_EQ(narrowList->previousuri.str(), (mask & kUnitPreviousUri) ? "v-previousuri" : "");
    freeUnitListA(narrowList);
  }
}

TEST_F(UnitsTest, NamesDifferingOnlyInCaseAreOneUnit) {
  const int32_t before = std::max(counter(), 0);
  UnitInfoW first = unit(L"CASE|Alice", L"User");
  first.domain = L"CORP";
  ASSERT_EQ(addUnitW(&first, kUnitType | kUnitDomain), 0);
  UnitInfoW second = unit(L"case|ALICE", L"User");
  second.user = L"alice";
  ASSERT_EQ(addUnitW(&second, kUnitUser), 0);
  EXPECT_EQ(counter(), before + 1) << "no second home directory";

  UnitInfoW read = unit(L"Case|alice");
  ASSERT_EQ(getUnitW(&read), 0);
  EXPECT_EQ(narrow(read.homedirectory), value(L"CASE|Alice", L"homedirectory"));
  EXPECT_EQ(narrow(read.domain), "CORP");
  EXPECT_EQ(narrow(read.user), "alice");

  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsW(&list, kUnitTypeUser), 0);
  int listed = 0;
  for (const UnitInfoW* record = list; record != nullptr; record = record->next)
    listed += record->name.comparei(L"case|alice") == 0;
  freeUnitListW(list);
  EXPECT_EQ(listed, 1);
}

}  // namespace
}  // namespace unitstest
