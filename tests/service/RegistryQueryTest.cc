// `kiv registry query` against a registry filled through the platform's own functions:
// the reg-query layout of values and direct subkeys, one value, JSON, and missing keys.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "support/kiv_test.h"

namespace {

using namespace kiv::platform;

void setText(HKEY key, const wchar_t* name, uint32_t type, const std::wstring& text) {
  ASSERT_EQ(RegSetValueExW(key, name, type, text.c_str(), static_cast<uint32_t>((text.size() + 1) * sizeof(wchar_t))),
            kErrorSuccess);
}

HKEY create(const wchar_t* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(kHKeyLocalMachine, path, kKeyAllAccess, &key), kErrorSuccess);
  return key;
}

class RegistryQueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY winlogon = create(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
    setText(winlogon, L"Shell", kRegSz, L"explorer.exe");
    setText(winlogon, L"", kRegSz, L"default");
    setText(winlogon, L"Userinit", kRegExpandSz, L"%SystemRoot%\\userinit.exe");
    setText(winlogon, L"Banner", kRegSz, L"two\nlines");
    const uint32_t number = 0x2a;
    ASSERT_EQ(RegSetValueExW(winlogon, L"Notify", kRegDword, &number, sizeof number), kErrorSuccess);
    RegCloseKey(winlogon);
    // Direct subkeys only, in name order; a sibling whose name extends this one is none.
    RegCloseKey(create(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\tqNotify"));
    RegCloseKey(create(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\GPExtensions"));
    RegCloseKey(create(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinlogonX"));
  }

  static int query(const std::string& arguments, std::string* output) {
    return kivtest::run(kivtest::binDir() + "/kiv registry query " + arguments + " 2>&1", output);
  }
};

TEST_F(RegistryQueryTest, ListsValuesWithTypesThenDirectSubkeysAsRegQueryDoes) {
  std::string output;
  ASSERT_EQ(query("'hklm\\software\\microsoft\\windows nt\\currentversion\\WINLOGON'", &output), 0) << output;
  const std::string key = "HKEY_LOCAL_MACHINE\\software\\microsoft\\windows nt\\currentversion\\WINLOGON";
  EXPECT_EQ(output, "\n" + key + "\n"
                    "    (Default)    REG_SZ    default\n"
                    "    Banner    REG_SZ    \"two\\nlines\"\n"
                    "    Notify    REG_DWORD    0x2a\n"
                    "    Shell    REG_SZ    explorer.exe\n"
                    "    Userinit    REG_EXPAND_SZ    %SystemRoot%\\userinit.exe\n"
                    "\n" + key + "\\GPExtensions\n" + key + "\\Notify\n");

  ASSERT_EQ(query("HKEY_LOCAL_MACHINE", &output), 0) << output;
  EXPECT_EQ(output, "\nHKEY_LOCAL_MACHINE\nHKEY_LOCAL_MACHINE\\SOFTWARE\n");
}

TEST_F(RegistryQueryTest, OneValueAndJson) {
  const std::string key = "'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon'";
  std::string output;
  ASSERT_EQ(query(key + " notify", &output), 0) << output;
  EXPECT_EQ(output, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\n"
                    "    Notify    REG_DWORD    0x2a\n\n");

  ASSERT_EQ(query(key + " Banner --json", &output), 0) << output;
  EXPECT_EQ(output, "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Winlogon\","
                    "\"values\":[{\"name\":\"Banner\",\"type\":\"REG_SZ\",\"data\":\"two\\nlines\"}]}\n");

  ASSERT_EQ(query("'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify' --json", &output), 0);
  EXPECT_EQ(output, "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Winlogon"
                    "\\\\Notify\",\"values\":[],\"subkeys\":[\"tqNotify\"]}\n");
}

TEST_F(RegistryQueryTest, MissingKeysAndValuesFailAndOtherRootsAreUsageErrors) {
  std::string output;
  EXPECT_EQ(query("'HKLM\\SOFTWARE\\Nothing'", &output), 1);
  EXPECT_EQ(output, "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(query("'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon' Nothing", &output), 1);
  EXPECT_EQ(query("'HKCU\\SOFTWARE'", &output), 2);
  EXPECT_EQ(query("'HKLMX\\SOFTWARE'", &output), 2);
}

}  // namespace
