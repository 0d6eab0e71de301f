// RegisterNotifications and UnregisterNotifications over the platform registry, per Windows
// generation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/system_info.h"
#include "platform/utf8.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "support/run_program.h"
#include "support/run_self.h"
#include "tqNotify/tqNotify.h"
#include "tqUtilities.h"

using namespace kiv::platform;
namespace hooks = kiv::platform::testing;

namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kNotifyKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\KIV";
const wchar_t kAgentKey[] = L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent";

struct Value {
  uint32_t type = 0;
  uint32_t size = 0;
  std::wstring text;
  uint32_t number = 0;
};

bool keyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyW(kHKeyLocalMachine, path, &key) != kErrorSuccess) return false;
  RegCloseKey(key);
  return true;
}

std::optional<Value> readValue(const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyW(kHKeyLocalMachine, path, &key) != kErrorSuccess) return std::nullopt;
  Value value;
  wchar_t data[1024] = {};
  value.size = sizeof data;
  const long result = RegQueryValueExW(key, name, &value.type, data, &value.size);
  RegCloseKey(key);
  if (result != kErrorSuccess) return std::nullopt;
  if (value.type == kRegDword) {
    std::memcpy(&value.number, data, sizeof value.number);
  } else {
    value.text = data;
  }
  return value;
}

std::vector<std::wstring> valueNames(const wchar_t* path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyW(kHKeyLocalMachine, path, &key) != kErrorSuccess) return names;
  for (uint32_t i = 0;; ++i) {
    wchar_t name[260] = {};
    uint32_t length = 260;
    if (RegEnumValueW(key, i, name, &length) != kErrorSuccess) break;
    names.emplace_back(name);
  }
  RegCloseKey(key);
  return names;
}

void writeString(const wchar_t* path, const wchar_t* name, const std::wstring& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, path, &key), kErrorSuccess);
  ASSERT_EQ(RegSetValueExW(key, name, kRegSz, text.c_str(),
                           static_cast<uint32_t>(sizeof(wchar_t) * (text.size() + 1))),
            kErrorSuccess);
  RegCloseKey(key);
}

void deleteValue(const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyW(kHKeyLocalMachine, path, &key), kErrorSuccess);
  ASSERT_EQ(RegDeleteValueW(key, name), kErrorSuccess);
  RegCloseKey(key);
}

// The companion programs live beside the module (libtqNotify.so, tqNotify.dll), named the
// way the system names the module's own file.
std::wstring besideModule(const char* file) {
#ifdef _WIN32
  const HTQMODULE module = TQFactory_LoadExW(L"tqNotify", 1);
  std::wstring path = moduleFileName(module);
  TQFactory_Unload(module);
  path.erase(path.find_last_of(L"\\") + 1);
  return path + std::wstring(file, file + std::strlen(file));
#else
  const std::string path = kivtest::libDir() + "/" + file;
  return std::wstring(path.begin(), path.end());
#endif
}

void expectRunValue() {
  const auto run = readValue(kRunKey, L"KIV_usrntf");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->type, kRegSz);
  EXPECT_EQ(run->text, besideModule("tqusrntf.exe"));
  EXPECT_EQ(run->size, sizeof(wchar_t) * (run->text.size() + 1));
}

const std::vector<std::wstring> kEvents = {L"Lock",       L"Logoff",           L"Logon",
                                           L"Shutdown",   L"StartScreenSaver", L"StartShell",
                                           L"Startup",    L"StopScreenSaver",  L"Unlock"};

// Deletes a key and every value in it; false when the key is not there or keeps subkeys.
bool deleteKey(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyW(kHKeyLocalMachine, path, &key) != kErrorSuccess) return false;
  for (;;) {
    wchar_t name[260] = {};
    uint32_t length = 260;
    if (RegEnumValueW(key, 0, name, &length) != kErrorSuccess || RegDeleteValueW(key, name) != kErrorSuccess) break;
  }
  RegCloseKey(key);
  return RegDeleteKeyW(kHKeyLocalMachine, path) == kErrorSuccess;
}

const std::wstring kAgentChild = std::wstring(kAgentKey) + L"\\Child";
const std::wstring kNotifyChild = std::wstring(kNotifyKey) + L"\\Child";

class Registration : public ::testing::Test {
 protected:
  // Every test starts from a registry without the keys these tests write, since all tests
  // of the program share one registry (on Windows, every program of the run), and leaves
  // none of them behind.
  void SetUp() override { removeKeys(); }
  void TearDown() override {
    hooks::failValueWrites(nullptr);
    hooks::setWindowsVersion(nullptr);
    removeKeys();
  }
  static void removeKeys() {
    for (const wchar_t* key : {kNotifyChild.c_str(), kNotifyKey, kAgentChild.c_str(), kAgentKey, kRunKey}) {
      deleteKey(key);
      ASSERT_FALSE(keyExists(key));
    }
  }
};

}  // namespace

TEST_F(Registration, OlderSystemsRewriteTheRunValueOnEveryCall) {
  for (const char* version : {"95", "98", "ME", "4.0"}) {
    SCOPED_TRACE(version);
    hooks::setWindowsVersion(version);
    EXPECT_EQ(RegisterNotifications(), 1);
    expectRunValue();
    deleteValue(kRunKey, L"KIV_usrntf");
    EXPECT_EQ(RegisterNotifications(), 1);
    expectRunValue();
    EXPECT_FALSE(keyExists(kNotifyKey));
  }
}

TEST_F(Registration, Windows2000WritesTheNotificationKeyAndTheRunValueOnlyAtFirst) {
  hooks::setWindowsVersion("5.0");
  EXPECT_EQ(RegisterNotifications(), 1);
  expectRunValue();

  std::vector<std::wstring> expectedNames = kEvents;
  expectedNames.insert(expectedNames.end(), {L"Asynchronous", L"Impersonate", L"DllName"});
  std::vector<std::wstring> names = valueNames(kNotifyKey);
  std::sort(names.begin(), names.end());
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(names, expectedNames);
  for (const auto& event : kEvents) {
    const auto value = readValue(kNotifyKey, event.c_str());
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, kRegSz);
    EXPECT_EQ(value->text, event);
    EXPECT_EQ(value->size, sizeof(wchar_t) * (event.size() + 1));
  }
  for (const wchar_t* flag : {L"Asynchronous", L"Impersonate"}) {
    const auto value = readValue(kNotifyKey, flag);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, kRegDword);
    EXPECT_EQ(value->number, 1u);
  }
  const auto dll = readValue(kNotifyKey, L"DllName");
  ASSERT_TRUE(dll.has_value());
  EXPECT_EQ(dll->type, kRegExpandSz);
  EXPECT_EQ(dll->text, besideModule("tqwlogon.dll"));

  // Later calls leave a removed Run value removed but rewrite the notification key.
  deleteValue(kRunKey, L"KIV_usrntf");
  deleteValue(kNotifyKey, L"Logon");
  EXPECT_EQ(RegisterNotifications(), 1);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf").has_value());
  EXPECT_TRUE(readValue(kNotifyKey, L"Logon").has_value());
}

TEST_F(Registration, Windows2000StopsAtTheFirstFailedWrite) {
  hooks::setWindowsVersion("5.0");
  hooks::failValueWrites(L"StartShell");
  EXPECT_EQ(RegisterNotifications(), 1);
  const std::vector<std::wstring> written = valueNames(kNotifyKey);
  for (const wchar_t* before : {L"Lock", L"Logoff", L"Logon", L"Shutdown", L"StartScreenSaver"}) {
    EXPECT_NE(std::find(written.begin(), written.end(), before), written.end()) << before;
  }
  for (const wchar_t* after : {L"StartShell", L"Startup", L"Unlock", L"Impersonate", L"DllName"}) {
    EXPECT_EQ(std::find(written.begin(), written.end(), after), written.end()) << after;
  }
}

TEST_F(Registration, NewerSystemsWriteNothing) {
  for (const char* version : {"5.1", "5.2", "6.0", "10.0"}) {
    hooks::setWindowsVersion(version);
    EXPECT_EQ(RegisterNotifications(), 1);
    EXPECT_FALSE(keyExists(kRunKey)) << version;
    EXPECT_FALSE(keyExists(kNotifyKey)) << version;
  }
}

TEST_F(Registration, UnregisterWithoutNotificationKeyOnlyRemovesTheRunValue) {
  hooks::setWindowsVersion("4.0");
  RegisterNotifications();
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  hooks::setWindowsVersion("10.0");  // removal is the same on every system
  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf").has_value());
  EXPECT_TRUE(readValue(kAgentKey, L"WinLogonDLLInstalled").has_value());
}

TEST_F(Registration, UnregisterRemovesEverythingAndTheEmptyAgentKey) {
  hooks::setWindowsVersion("5.0");
  RegisterNotifications();
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  hooks::setWindowsVersion("5.1");
  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf").has_value());
  EXPECT_TRUE(keyExists(kRunKey));
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_FALSE(keyExists(kAgentKey));
}

TEST_F(Registration, UnregisterLeavesAnAgentKeyWithSubkeys) {
  hooks::setWindowsVersion("5.0");
  RegisterNotifications();
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  writeString(kAgentKey, L"Other", L"kept");
  writeString(kAgentChild.c_str(), L"x", L"y");
  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_TRUE(keyExists(kAgentKey));
  EXPECT_FALSE(readValue(kAgentKey, L"WinLogonDLLInstalled").has_value());
  EXPECT_TRUE(readValue(kAgentKey, L"Other").has_value());
}

// The agent key holds the agent's other settings too: only the marker goes, and the key
// stays while anything is left in it.
TEST_F(Registration, UnregisterKeepsTheAgentKeyWhileItHoldsOtherValues) {
  hooks::setWindowsVersion("5.0");
  RegisterNotifications();
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  writeString(kAgentKey, L"InstallDir", L"C:\\KIV");
  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_FALSE(readValue(kAgentKey, L"WinLogonDLLInstalled").has_value());
  const auto kept = readValue(kAgentKey, L"InstallDir");
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->text, L"C:\\KIV");
}

#ifndef _WIN32
// Installed in a directory whose name has a space, the Run value holds the program's path in
// double quotes; unquoted, the system would first try to start the text up to the space.
// The module is loaded from there the way a host loads it, in a process of its own.
TEST_F(Registration, RunValueIsQuotedWhenThePathHasASpace) {
  const std::string directory = kivtest::home() + "/KIV Agent/bin";
  std::filesystem::create_directories(directory);
  std::filesystem::copy_file(kivtest::libDir() + "/libtqNotify.so", directory + "/libtqNotify.so",
                             std::filesystem::copy_options::overwrite_existing);
  {
    kivtest::ChildEnvironment environment({{"KIV_MODULE_PATH", directory}, {"KIV_WINDOWS_VERSION", "4.0"}});
    std::string output;
    ASSERT_EQ(kivtest::runProgram({kivtest::binDir() + "/kiv", "units", "path"}, &output), 0) << output;
  }
  std::filesystem::remove_all(kivtest::home() + "/KIV Agent");
  const auto run = readValue(kRunKey, L"KIV_usrntf");
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->text, L"\"" + kiv::utf::widen(directory) + L"/tqusrntf.exe\"");
  EXPECT_EQ(run->size, sizeof(wchar_t) * (run->text.size() + 1));
}
#endif

TEST_F(Registration, Windows2000IgnoresTheInstalledMarker) {
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  hooks::setWindowsVersion("5.0");
  EXPECT_EQ(RegisterNotifications(), 1);
  expectRunValue();
  const auto dll = readValue(kNotifyKey, L"DllName");
  ASSERT_TRUE(dll.has_value());
  EXPECT_EQ(dll->text, besideModule("tqwlogon.dll"));
  EXPECT_TRUE(readValue(kAgentKey, L"WinLogonDLLInstalled").has_value()) << "the marker is not ours to change";
}

TEST_F(Registration, NotificationKeyInOtherLetterCaseIsTheSameKey) {
  const wchar_t* shouted = L"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINLOGON\\NOTIFY\\kiv";
  writeString(shouted, L"Lock", L"old");
  hooks::setWindowsVersion("5.0");
  EXPECT_EQ(RegisterNotifications(), 1);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf").has_value()) << "the key existed: not a first registration";
  EXPECT_EQ(readValue(shouted, L"Lock")->text, L"Lock") << "rewritten in the existing key";
  EXPECT_TRUE(readValue(shouted, L"DllName").has_value());

  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(keyExists(shouted));
  EXPECT_FALSE(keyExists(kNotifyKey));
}

TEST_F(Registration, UnregisterStopsWhenTheNotificationKeyCannotBeDeleted) {
  hooks::setWindowsVersion("5.0");
  RegisterNotifications();
  writeString(kAgentKey, L"WinLogonDLLInstalled", L"1");
  writeString(kNotifyChild.c_str(), L"x", L"y");  // a key with subkeys is not deleted
  EXPECT_EQ(UnregisterNotifications(), 1);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf").has_value());
  EXPECT_TRUE(keyExists(kNotifyKey));
  EXPECT_TRUE(valueNames(kNotifyKey).empty()) << "its values are gone all the same";
  EXPECT_TRUE(readValue(kAgentKey, L"WinLogonDLLInstalled").has_value()) << "nothing after the failed deletion";
}
