// Shared set-up of the units tests.
#include "units_fixture.h"

#include <filesystem>

#include "support/kiv_test.h"
#include "support/test_process.h"
#include "framework/tqUtilities/path_separator.h"

namespace unitstest {

void UnitsTest::SetUp() {
  // The units directory is created one level at a time: its parent must exist.
  std::filesystem::create_directories(kivtest::home() + "/Agent");
  TQUtilities_GetConfigEx(config_.fill(), -1);
  ASSERT_TRUE(config_) << "no configuration object";
}

// As getUnitsPathA writes it: with the system's own separator.
std::string UnitsTest::unitsDirectory() const {
  using kiv::path::kSeparator;
  return kivtest::home() + kSeparator + "Agent" + kSeparator + "units";
}

std::string UnitsTest::value(const std::wstring& unit, const wchar_t* key) {
  std::wstring section = L"dlox/agent/units/" + unit;
  wchar_t buffer[4096];
  uint32_t size = 4096;
  if (store().getStringW(section.c_str(), key, buffer, &size, 0) != 0) return "<missing>";
  return narrow(TQStringW(buffer));
}

int32_t UnitsTest::number(const wchar_t* section, const wchar_t* key) {
  int32_t result = -1;
  if (store().getNumber(section, key, &result, 0) != 0) return -1;
  return result;
}

void UnitsTest::storeUnit(const std::wstring& name, const wchar_t* type, const wchar_t* home) {
  std::wstring section = L"dlox/agent/units/" + name;
  if (type) store().setStringW(section.c_str(), L"unittype", type, 0);
  if (home) store().setStringW(section.c_str(), L"homedirectory", home, 0);
}

UnitInfoW unit(const wchar_t* name, const wchar_t* type) {
  UnitInfoW record;
  record.name = name;
  if (type) record.unittype = type;
  return record;
}

std::string program(const std::string& name) {
#ifdef _WIN32
  return std::filesystem::path(kivtest::ownProgramPath()).parent_path().string() + "\\" + name + ".exe";
#else
  return kivtest::binDir() + "/" + name;
#endif
}

std::string narrow(const TQStringW& text) {
  TQStringA result;
  result.assign_unicode(text.c_str(), text.length());
  return result.str();
}

}  // namespace unitstest
