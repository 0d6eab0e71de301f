// The version gates on the real version word: the probe runs under each Windows version
// Wine can report, and the registry entries that registration writes are read back through
// the registry API and through the system's "reg" tool.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "probe_runner.h"
#include "support/test_process.h"

namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kNotifyKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\KIV";
using wintest::kAgentKey;

struct Value {
  DWORD type = 0;
  std::wstring text;
  DWORD number = 0;
};

std::optional<Value> readValue(const wchar_t* path, const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  Value value;
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  const LONG result =
      RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return std::nullopt;
  if (value.type == REG_DWORD) {
    std::memcpy(&value.number, data, sizeof value.number);
  } else {
    // Strings are stored with their terminating NUL.
    EXPECT_EQ(size % sizeof(wchar_t), 0u);
    EXPECT_EQ(data[size / sizeof(wchar_t) - 1], L'\0') << name;
    value.text = data;
  }
  return value;
}

bool keyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Writes a value into the agent key, made if need be, as the agent and registration do.
bool setAgentValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY agent = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &agent,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool written =
      RegSetValueExW(agent, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(agent);
  return written;
}

// The marker that the Winlogon notification was installed.
bool markNotificationInstalled() {
  const DWORD one = 1;
  return setAgentValue(L"WinLogonDLLInstalled", REG_DWORD, &one, sizeof one);
}

void removeEverything() {
  HKEY run = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &run) == ERROR_SUCCESS) {
    RegDeleteValueW(run, L"KIV_usrntf");
    RegCloseKey(run);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kNotifyKey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentKey);
}

std::wstring companion(const wchar_t* name) { return wintest::programDirectory() + L"\\" + name; }

// Every value of the notification key, in the order and with the types and data that
// Winlogon expects of a notification package.
void expectNotificationKey() {
  for (const wchar_t* event : {L"Lock", L"Logoff", L"Logon", L"Shutdown", L"StartScreenSaver",
                               L"StartShell", L"Startup", L"StopScreenSaver", L"Unlock"}) {
    const auto value = readValue(kNotifyKey, event);
    ASSERT_TRUE(value) << event;
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ)) << event;
    EXPECT_EQ(value->text, event);
  }
  for (const wchar_t* flag : {L"Asynchronous", L"Impersonate"}) {
    const auto value = readValue(kNotifyKey, flag);
    ASSERT_TRUE(value) << flag;
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD)) << flag;
    EXPECT_EQ(value->number, 1u) << flag;
  }
  const auto dll = readValue(kNotifyKey, L"DllName");
  ASSERT_TRUE(dll);
  EXPECT_EQ(dll->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(dll->text, companion(L"tqwlogon.dll"));

  // The system's own tool sees the same entries.
  const std::string listed = wintest::regQuery(kNotifyKey);
  EXPECT_NE(listed.find("DllName"), std::string::npos) << listed;
  EXPECT_NE(listed.find("REG_EXPAND_SZ"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Asynchronous"), std::string::npos) << listed;
  EXPECT_NE(listed.find("REG_DWORD"), std::string::npos) << listed;
  EXPECT_NE(listed.find("StartScreenSaver"), std::string::npos) << listed;
}

void expectRunValue() {
  const auto run = readValue(kRunKey, L"KIV_usrntf");
  ASSERT_TRUE(run);
  EXPECT_EQ(run->type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(run->text, companion(L"tqusrntf.exe"));
  const std::string listed = wintest::regQuery(kRunKey);
  EXPECT_NE(listed.find("KIV_usrntf"), std::string::npos) << listed;
  EXPECT_NE(listed.find("tqusrntf.exe"), std::string::npos) << listed;
}

class VersionGate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kivtest::underWine()) GTEST_SKIP() << "choosing a program's version needs Wine";
    removeEverything();
  }
  void TearDown() override { removeEverything(); }
};

TEST_F(VersionGate, ProbeSeesTheVersionWineReports) {
  struct Expected {
    const wchar_t* wine;
    DWORD low;  // minor << 8 | major
    bool nineX;
  };
  for (const Expected& e : {Expected{L"win95", 0x0004, true}, Expected{L"win98", 0x0A04, true},
                            Expected{L"nt40", 0x0004, false}, Expected{L"win2k", 0x0005, false},
                            Expected{L"winxp", 0x0105, false}}) {
    const auto word = wintest::runProbe(e.wine, L"version");
    ASSERT_TRUE(word) << e.wine;
    EXPECT_EQ(*word & 0xFFFF, e.low) << e.wine;
    EXPECT_EQ((*word & 0x80000000u) != 0, e.nineX) << e.wine;
  }
}

TEST_F(VersionGate, NineXAndNT4WriteTheRunValueOnEveryCall) {
  for (const wchar_t* version : {L"win95", L"win98", L"nt40"}) {
    ASSERT_EQ(wintest::runProbe(version, L"register"), 0u) << version;
    expectRunValue();
    EXPECT_FALSE(keyExists(kNotifyKey)) << version;
    removeEverything();
  }
}

TEST_F(VersionGate, Windows2000WritesTheNotificationKeyAndTheRunValueOnce) {
  ASSERT_EQ(wintest::runProbe(L"win2k", L"register"), 0u);
  expectRunValue();
  expectNotificationKey();

  // Later calls leave the Run value alone, even when it was removed, and rewrite the key.
  HKEY run = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &run), ERROR_SUCCESS);
  RegDeleteValueW(run, L"KIV_usrntf");
  RegCloseKey(run);
  HKEY notify = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNotifyKey, 0, KEY_ALL_ACCESS, &notify),
            ERROR_SUCCESS);
  RegDeleteValueW(notify, L"DllName");
  RegCloseKey(notify);
  ASSERT_EQ(wintest::runProbe(L"win2k", L"register"), 0u);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf"));
  expectNotificationKey();
}

TEST_F(VersionGate, NewerVersionsWriteNothingButUnregisterRemovesEverything) {
  for (const wchar_t* version : {L"winxp", L"win10"}) {
    ASSERT_EQ(wintest::runProbe(version, L"register"), 0u) << version;
    EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf")) << version;
    EXPECT_FALSE(keyExists(kNotifyKey)) << version;
  }
  ASSERT_EQ(wintest::runProbe(L"win2k", L"register"), 0u);
  ASSERT_TRUE(markNotificationInstalled());

  ASSERT_EQ(wintest::runProbe(L"winxp", L"unregister"), 0u);
  EXPECT_FALSE(readValue(kRunKey, L"KIV_usrntf"));
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_FALSE(keyExists(kAgentKey));
  EXPECT_EQ(wintest::regQuery(kNotifyKey), "");
}

// The agent key holds the agent's other settings too: unregistering takes only the marker.
TEST_F(VersionGate, UnregisterKeepsTheAgentsOtherSettings) {
  ASSERT_EQ(wintest::runProbe(L"win2k", L"register"), 0u);
  ASSERT_TRUE(markNotificationInstalled());
  const wchar_t installed[] = L"C:\\KIV";
  ASSERT_TRUE(setAgentValue(L"InstallDir", REG_SZ, installed, sizeof installed));

  ASSERT_EQ(wintest::runProbe(L"winxp", L"unregister"), 0u);
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_FALSE(readValue(kAgentKey, L"WinLogonDLLInstalled"));
  const auto kept = readValue(kAgentKey, L"InstallDir");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->text, installed);
}

// Installed below a directory with a space (as below "Program Files"), the Run value is
// the program's path in double quotes: unquoted, the system would try the text up to the
// first space as a program first. The probe and the modules run from such a copy.
TEST_F(VersionGate, RunValueIsQuotedWhenThePathHasASpace) {
  namespace fs = std::filesystem;
  wchar_t temporary[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temporary);
  const fs::path base =
      fs::path(temporary) / (L"kiv-spaced-" + std::to_wstring(GetCurrentProcessId()));
  const fs::path directory = base / L"KIV Agent" / L"bin";
  fs::create_directories(directory);
  for (const auto& entry : fs::directory_iterator(wintest::programDirectory())) {
    const std::wstring name = entry.path().filename().wstring();
    if (entry.path().extension() == L".dll" || name == L"win_version_probe.exe") {
      fs::copy_file(entry.path(), directory / name, fs::copy_options::overwrite_existing);
    }
  }
  const auto code = wintest::runProbe(L"nt40", L"register", directory.wstring());
  const auto run = readValue(kRunKey, L"KIV_usrntf");
  std::error_code ignored;
  fs::remove_all(base, ignored);
  ASSERT_EQ(code, 0u);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->text, L"\"" + directory.wstring() + L"\\tqusrntf.exe\"");
}

// The notifier watches the shell on the 9x family, on NT 4.0 and on Windows 2000 unless
// the agent marks the Winlogon notification library installed; never on later versions.
TEST_F(VersionGate, ShellWatchingFollowsTheVersionAndTheInstalledMarker) {
  for (const wchar_t* version : {L"win95", L"win98", L"nt40", L"win2k"}) {
    EXPECT_EQ(wintest::runProbe(version, L"watch-shell"), 1u) << version;
  }
  for (const wchar_t* version : {L"winxp", L"win10"}) {
    EXPECT_EQ(wintest::runProbe(version, L"watch-shell"), 0u) << version;
  }
  ASSERT_TRUE(markNotificationInstalled());
  EXPECT_EQ(wintest::runProbe(L"win2k", L"watch-shell"), 0u);
  EXPECT_EQ(wintest::runProbe(L"nt40", L"watch-shell"), 1u);
}

// Owner-only state directories where the system has security, plain ones on the 95
// family, which has none.
TEST_F(VersionGate, PrivateDirectoriesOnEveryVersion) {
  wchar_t temporary[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temporary);
  for (const wchar_t* version : {L"win95", L"nt40", L"win2k", L"win10"}) {
    const std::wstring path = std::wstring(temporary) + L"kiv-private-" + version + L"-" +
                              std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(wintest::runProbe(version, L"private-directory \"" + path + L"\""), 0u) << version;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        << version;
    RemoveDirectoryW(path.c_str());
  }
}

}  // namespace
