// Adding and reading units: home directories, counters, selected fields, the computer-unit
// guard and the narrow twins.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

TEST_F(UnitsTest, NewUnitsGetNumberedHomeDirectories) {
  UnitInfoW first = unit(L"CORP|alice", L"User");
  ASSERT_EQ(addUnitW(&first, 0), 0);
  EXPECT_EQ(counter(), 1);
  EXPECT_EQ(value(L"CORP|alice", L"homedirectory"), "00000001");
  EXPECT_TRUE(fs::is_directory(unitsDirectory() + "/00000001"));
  // Mask 0 writes nothing but the counter and the home directory.
  EXPECT_EQ(value(L"CORP|alice", L"unittype"), "<missing>");
  EXPECT_TRUE(first.homedirectory.empty()) << "the caller's record is not filled";

  store().setNumber(L"dlox/agent/units", L"directorycounter", 0x29, 0);
  UnitInfoW second = unit(L"dev", L"dockingDevicePalm");
  ASSERT_EQ(addUnitW(&second, kUnitType), 0);
  EXPECT_EQ(value(L"dev", L"homedirectory"), "0000002a");
  EXPECT_EQ(counter(), 0x2a);
  EXPECT_TRUE(fs::is_directory(unitsDirectory() + "/0000002a"));
}

TEST_F(UnitsTest, ExistingUnitKeepsDirectoryAndWritesOnlySelectedFields) {
  UnitInfoW record = unit(L"u", L"User");
  record.domain = L"CORP";
  record.triggable = 1;
  ASSERT_EQ(addUnitW(&record, kUnitType | kUnitDomain | kUnitTriggable), 0);

  record.domain = L"OTHER";
  record.user = L"bob";
  record.triggable = 0;
  ASSERT_EQ(addUnitW(&record, kUnitTriggable | kUnitUser), 0);
  EXPECT_EQ(counter(), 1);
  EXPECT_EQ(value(L"u", L"homedirectory"), "00000001");
  EXPECT_EQ(value(L"u", L"domain"), "CORP");
  EXPECT_EQ(value(L"u", L"user"), "bob");
  EXPECT_EQ(number(L"dlox/agent/units/u", L"triggable"), 0);
}

TEST_F(UnitsTest, AllFieldsRoundTripInBothWidths) {
  using A = UnitInfoA;
  const std::vector<TQStringA A::*> strings = {
      &A::executioncontext, &A::previousmanageraddress, &A::domain, &A::user,
      &A::previousserveraddress, &A::previousdomainuuid, &A::uri, &A::lastmsisource,
      &A::currentmanageraddress, &A::currentdomainuuid, &A::previousuri};
  UnitInfoA written;
  written.name = "böx";
  written.unittype = "computerUser";
  for (std::size_t i = 0; i < strings.size(); ++i) {
    written.*strings[i] = ("välue " + std::to_string(i)).c_str();
  }
  written.triggable = 7;
  written.referencecount = 3;
  written.localuser = 1;
  ASSERT_EQ(addUnitA(&written, 0x7fff), 0);

  UnitInfoA read;
  read.name = "böx";
  UnitInfoA other;
  read.next = &other;
  ASSERT_EQ(getUnitA(&read), 0);
  EXPECT_EQ(read.next, nullptr);
  EXPECT_EQ(read.homedirectory, "00000001");
  EXPECT_EQ(read.unittype, "computerUser");
  for (auto field : strings) EXPECT_EQ(read.*field, written.*field);
  EXPECT_EQ(read.triggable, 7);
  EXPECT_EQ(read.referencecount, 3);
  EXPECT_EQ(read.localuser, 1);
}

// A character beyond the basic plane is a surrogate pair where wchar_t has 16 bits: it
// must come back whole in values, keep units whose names differ only there apart, and fold
// as one letter when names are compared without regard to case.
TEST_F(UnitsTest, CharactersBeyondTheBasicPlaneInNamesAndValues) {
  const std::wstring phone = L"a\U0001F4F1b";
  const std::wstring ideograph = L"\U00020000";
  UnitInfoW grinning = unit(L"n-\U0001F600", L"User");
  grinning.domain = phone.c_str();
  grinning.user = ideograph.c_str();
  ASSERT_EQ(addUnitW(&grinning, kUnitType | kUnitDomain | kUnitUser), 0);
  UnitInfoW beaming = unit(L"n-\U0001F601", L"User");
  beaming.domain = L"other";
  ASSERT_EQ(addUnitW(&beaming, kUnitType | kUnitDomain), 0);

  UnitInfoW read = unit(L"n-\U0001F600");
  ASSERT_EQ(getUnitW(&read), 0);
  EXPECT_EQ(read.domain.str(), phone);
  EXPECT_EQ(read.user.str(), ideograph);
  EXPECT_EQ(read.homedirectory.str(), L"00000001");
  read = unit(L"n-\U0001F601");
  ASSERT_EQ(getUnitW(&read), 0);
  EXPECT_EQ(read.domain.str(), L"other");
  EXPECT_EQ(read.homedirectory.str(), L"00000002");

  UnitInfoW* list = nullptr;
  ASSERT_EQ(enumerateUnitsExW(&list, 0x08, 0), 0);
  std::vector<std::wstring> names;
  for (UnitInfoW* at = list; at != nullptr; at = at->next) names.push_back(at->name.str());
  freeUnitListW(list);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"n-\U0001F600", L"n-\U0001F601"}));

  // Deseret capital and small long I: one unit.
  UnitInfoW capital = unit(L"\U00010400", L"User");
  ASSERT_EQ(addUnitW(&capital, kUnitType), 0);
  UnitInfoW small = unit(L"\U00010428");
  ASSERT_EQ(getUnitW(&small), 0);
  EXPECT_EQ(small.homedirectory.str(), L"00000003");
}

TEST_F(UnitsTest, MissingValuesOnRead) {
  storeUnit(L"bare", L"User", L"00000009");
  UnitInfoW record = unit(L"bare");
  record.referencecount = 42;
  record.executioncontext = L"kept";
  ASSERT_EQ(getUnitExW(&record, kUnitReferenceCount | kUnitExecutionContext), 0);
  EXPECT_EQ(record.referencecount, 0) << "a missing reference count reads 0";
  EXPECT_EQ(narrow(record.executioncontext), "kept") << "a missing string is left alone";
  EXPECT_EQ(narrow(record.homedirectory), "00000009");

  UnitInfoW unknown = unit(L"nobody");
  unknown.domain = L"untouched";
  EXPECT_EQ(getUnitW(&unknown), 5);
  EXPECT_EQ(narrow(unknown.domain), "untouched");
  EXPECT_TRUE(unknown.homedirectory.empty());
}

TEST_F(UnitsTest, ComputerTypeOnlyForTheComputerUnit) {
  UnitInfoW computer = unit(L".", L"COMPUTER");
  EXPECT_EQ(addUnitW(&computer, kUnitType), 0);

  UnitInfoW impostor = unit(L"pc1", L"computer");
  EXPECT_EQ(addUnitW(&impostor, kUnitType | kUnitDomain), 5);
  EXPECT_EQ(value(L"pc1", L"homedirectory"), "<missing>");
  EXPECT_EQ(counter(), 1) << "only the computer unit was created";
  EXPECT_EQ(kivtest::countTrace("AddUnitW - Computer Unit called pc1 in process"), 1);

  // The guard applies only when the type is written.
  EXPECT_EQ(addUnitW(&impostor, kUnitDomain), 0);

  storeUnit(L"pc2", L"computer", L"00000077");
  UnitInfoW read = unit(L"pc2");
  EXPECT_EQ(getUnitExW(&read, kUnitType | kUnitDomain), 5);
  EXPECT_EQ(narrow(read.homedirectory), "00000077");
  EXPECT_EQ(narrow(read.unittype), "computer");
  EXPECT_EQ(kivtest::countTrace("GetUnitW - Computer Unit called pc2 in process"), 1);
}

TEST_F(UnitsTest, NamesThatCannotBeASectionAreRefused) {
  for (const wchar_t* bad : {L"", L"a/b", L"/"}) {
    UnitInfoW record = unit(bad, L"User");
    EXPECT_EQ(addUnitW(&record, kUnitType), 5) << narrow(record.name);
    EXPECT_EQ(getUnitW(&record), 5) << narrow(record.name);
  }
  UnitInfoA emptyA;
  EXPECT_EQ(addUnitA(&emptyA, 0), 5);

  // Nothing reached the store: no counter, no values in the units section itself.
  EXPECT_EQ(counter(), -1);
  wchar_t buffer[4096];
  uint32_t size = 4096;
  EXPECT_NE(store().getStringW(L"dlox/agent/units", L"homedirectory", buffer, &size, 0), 0);
  EXPECT_NE(store().getStringW(L"dlox/agent/units", L"unittype", buffer, &size, 0), 0);
  EXPECT_EQ(kivtest::countTrace("refused unit name"), 7);
}

TEST_F(UnitsTest, MissingParentOfUnitsDirectory) {
  std::string base = kivtest::home() + "/absent/base";
  store().setStringW(L"dlox/common", L"configdata_location",
                     TQStringW().format(L"%hs", base.c_str()), 0);
  UnitInfoW record = unit(L"u", L"User");
  EXPECT_EQ(addUnitW(&record, kUnitType), 0);
  EXPECT_FALSE(fs::exists(base + "/Agent"));
  EXPECT_EQ(counter(), 1);
  EXPECT_EQ(value(L"u", L"homedirectory"), "00000001");
  EXPECT_EQ(value(L"u", L"unittype"), "User");
}

}  // namespace
}  // namespace unitstest
