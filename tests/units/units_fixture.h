// Shared set-up of the units tests: a units directory whose parent exists, and direct
// access to the configuration store to see what the exports wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ITQConfig.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/tqNotify.h"

namespace unitstest {

class UnitsTest : public ::testing::Test {
 protected:
  void SetUp() override;

  ITQConfig& store() { return *config_.get(); }
  std::string unitsDirectory() const;
  // A string value of a unit section, or "<missing>".
  std::string value(const std::wstring& unit, const wchar_t* key);
  // A number of a section, or -1 when missing.
  int32_t number(const wchar_t* section, const wchar_t* key);
  int32_t counter() { return number(L"dlox/agent/units", L"directorycounter"); }
  // Writes a unit section straight into the store, bypassing the exports.
  void storeUnit(const std::wstring& name, const wchar_t* type, const wchar_t* home);

  TQptr<ITQConfig> config_;
};

UnitInfoW unit(const wchar_t* name, const wchar_t* type = nullptr);
// The whole path of a program built beside the test programs ("kiv", "units_helper"), in
// the form the system's command interpreter takes.
std::string program(const std::string& name);
std::string narrow(const TQStringW& text);

}  // namespace unitstest
