// `kiv config set` stores exactly the text it is given; a number only when asked to.
#include <gtest/gtest.h>

#include <string>

#include "ITQConfig.h"
#include "kiv/KivTool.h"
#include "tqUtilities.h"

namespace kivtooltest {
namespace {

// The stored value as the store keeps it: text, or a number.
struct Stored {
  std::wstring text;
  bool isNumber = false;
  std::wstring key;
};

Stored stored(const wchar_t* section, const wchar_t* key) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  EXPECT_NE(config, nullptr);
  Stored result;
  result.key = key;
  if (config == nullptr) return result;
  config->enumValues(section, [](void* context, const wchar_t* name, const wchar_t* text, int32_t number) {
    auto* found = static_cast<Stored*>(context);
    if (found->key != name) return;
    found->isNumber = text == nullptr;
    found->text = text != nullptr ? text : std::to_wstring(number);
  }, &result);
  config->Release();
  return result;
}

// What `kiv config get` printed, written back, must not change the value: a unit's home
// directory "00000001" must not become "1".
TEST(KivConfigSet, TextThatLooksLikeANumberIsKeptAsGiven) {
  std::string out;
  ASSERT_EQ(kiv({"config", "set", "configset/units/u", "homedirectory", "00000010"}, &out), 0) << out;
  ASSERT_EQ(kiv({"config", "get", "configset/units/u", "homedirectory"}, &out), 0);
  EXPECT_EQ(out, "00000010\n");
  for (const char* value : {"10", "-7", "0x10"}) {
    ASSERT_EQ(kiv({"config", "set", "configset", "k", value}, &out), 0) << out;
    ASSERT_EQ(kiv({"config", "get", "configset", "k"}, &out), 0);
    EXPECT_EQ(out, std::string(value) + "\n");
    EXPECT_FALSE(stored(L"configset", L"k").isNumber) << value;
  }
  EXPECT_EQ(kiv({"config", "set", "configset", "k", "10", "--string"}, &out), 0) << out;
  EXPECT_FALSE(stored(L"configset", L"k").isNumber);
}

TEST(KivConfigSet, NumberOnlyWhenAskedFor) {
  std::string out;
  ASSERT_EQ(kiv({"config", "set", "numbers", "n", "0x10", "--number"}, &out), 0) << out;
  EXPECT_EQ(stored(L"numbers", L"n").text, L"16");
  EXPECT_TRUE(stored(L"numbers", L"n").isNumber);
  ASSERT_EQ(kiv({"config", "set", "numbers", "n", "0xffffffff", "--number"}, &out), 0) << out;
  EXPECT_EQ(stored(L"numbers", L"n").text, L"-1");

  EXPECT_EQ(kiv({"config", "set", "numbers", "n", "00000001x", "--number"}, &out), 2);
  EXPECT_NE(out.find("VALUE"), std::string::npos) << out;
  EXPECT_EQ(kiv({"config", "set", "numbers", "n", "4294967296", "--number"}, &out), 2);
  EXPECT_EQ(kiv({"config", "set", "numbers", "n", "1", "--number", "--string"}, &out), 2);
  EXPECT_EQ(stored(L"numbers", L"n").text, L"-1");  // nothing written by the refused ones
}

}  // namespace
}  // namespace kivtooltest
