// Registry semantics: keys and values with Win32 results, sizes and case rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "support/kiv_test.h"

namespace kiv::platform {
namespace {

// Closes a key when the test leaves, whatever happened.
struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) RegCloseKey(handle);
  }
  HKEY* out() { return &handle; }
};

long setString(HKEY key, const wchar_t* name, const std::wstring& text, uint32_t type = kRegSz) {
  return RegSetValueExW(key, name, type, text.c_str(),
                        static_cast<uint32_t>(sizeof(wchar_t) * (text.size() + 1)));
}

std::wstring queryString(HKEY key, const wchar_t* name) {
  wchar_t buffer[256] = {};
  uint32_t size = sizeof buffer;
  uint32_t type = 0;
  if (RegQueryValueExW(key, name, &type, buffer, &size) != kErrorSuccess) return L"<missing>";
  return buffer;
}

TEST(Registry, CreateLevelsAndOpenWithoutRegardToCase) {
  Key created;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\Veltrana\\Orvex DLOX\\Agent",
                          created.out()),
            kErrorSuccess);
  ASSERT_EQ(setString(created.handle, L"Path", L"C:\\kiv"), kErrorSuccess);
  // Every level was created, and spelling does not matter when opening.
  Key parent;
  EXPECT_EQ(RegOpenKeyW(kHKeyLocalMachine, L"software\\VELTRANA", parent.out()), kErrorSuccess);
  Key narrow;
  ASSERT_EQ(RegOpenKeyExA(kHKeyLocalMachine, "Software\\veltrana\\orvex dlox\\AGENT", kKeyRead,
                          narrow.out()),
            kErrorSuccess);
  EXPECT_EQ(queryString(narrow.handle, L"PATH"), L"C:\\kiv");
  Key relative;
  EXPECT_EQ(RegOpenKeyW(parent.handle, L"Orvex DLOX\\Agent", relative.out()), kErrorSuccess);
  EXPECT_EQ(queryString(relative.handle, L"path"), L"C:\\kiv");

  Key missing;
  EXPECT_EQ(RegOpenKeyW(kHKeyLocalMachine, L"SOFTWARE\\Nowhere", missing.out()),
            kErrorFileNotFound);
  EXPECT_EQ(missing.handle, nullptr);
}

TEST(Registry, StringAndNumberValuesWithSizes) {
  Key key;
  ASSERT_EQ(RegCreateKeyExW(kHKeyLocalMachine, L"SOFTWARE\\Test", kKeyAllAccess, key.out()),
            kErrorSuccess);
  ASSERT_EQ(setString(key.handle, L"Shell", L"Explorer.exe"), kErrorSuccess);
  const uint32_t number = 0xDEADBEEF;
  ASSERT_EQ(RegSetValueExW(key.handle, L"Count", kRegDword, &number, sizeof number), kErrorSuccess);

  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(RegQueryValueExW(key.handle, L"Shell", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, sizeof(wchar_t) * 13);

  wchar_t small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key.handle, L"Shell", &type, small, &size), kErrorMoreData);
  EXPECT_EQ(size, sizeof(wchar_t) * 13);

  uint32_t read = 0;
  size = sizeof read;
  ASSERT_EQ(RegQueryValueExW(key.handle, L"count", &type, &read, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(read, number);

  // Narrow reads give UTF-8 with the size counting the terminating NUL.
  ASSERT_EQ(setString(key.handle, L"Name", L"Gr\u00fc\u00dfe", kRegExpandSz), kErrorSuccess);
  char narrow[32] = {};
  size = sizeof narrow;
  ASSERT_EQ(RegQueryValueExA(key.handle, "name", &type, narrow, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_STREQ(narrow, "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(size, std::strlen(narrow) + 1);
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key.handle, "Name", &type, narrow, &size), kErrorMoreData);
  EXPECT_EQ(size, 8u);

  EXPECT_EQ(RegQueryValueExW(key.handle, L"Absent", &type, nullptr, &size), kErrorFileNotFound);
  EXPECT_EQ(RegQueryValueExW(key.handle, L"Shell", &type, small, nullptr), kErrorInvalidParameter);

  // Overwriting changes type and data but keeps the first spelling of the name.
  ASSERT_EQ(RegSetValueExW(key.handle, L"SHELL", kRegDword, &number, sizeof number),
            kErrorSuccess);
  wchar_t name[16];
  uint32_t length = 16;
  ASSERT_EQ(RegEnumValueW(key.handle, 2, name, &length), kErrorSuccess);
  EXPECT_STREQ(name, L"Shell");
}

TEST(Registry, EnumerateInNameOrderThenDelete) {
  Key key;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\Enum", key.out()), kErrorSuccess);
  for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"}) {
    ASSERT_EQ(setString(key.handle, name, L"x"), kErrorSuccess);
  }
  std::vector<std::wstring> names;
  for (uint32_t index = 0;; ++index) {
    wchar_t name[16];
    uint32_t length = 16;
    const long result = RegEnumValueW(key.handle, index, name, &length);
    if (result == kErrorNoMoreItems) break;
    ASSERT_EQ(result, kErrorSuccess);
    EXPECT_EQ(length, std::wcslen(name));
    names.emplace_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));

  wchar_t tiny[3];
  uint32_t length = 3;
  EXPECT_EQ(RegEnumValueW(key.handle, 0, tiny, &length), kErrorMoreData);
  EXPECT_EQ(length, 6u);

  EXPECT_EQ(RegDeleteValueW(key.handle, L"BETA"), kErrorSuccess);
  EXPECT_EQ(RegDeleteValueW(key.handle, L"beta"), kErrorFileNotFound);
  EXPECT_EQ(queryString(key.handle, L"beta"), L"<missing>");
}

TEST(Registry, DeleteKeyRefusedWhileItHasSubkeys) {
  Key leaf;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"Software\\Winlogon\\Notify\\KIV", leaf.out()),
            kErrorSuccess);
  ASSERT_EQ(setString(leaf.handle, L"DllName", L"tqwlogon.dll"), kErrorSuccess);
  // A sibling whose name extends the key's name is not a subkey.
  Key sibling;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"Software\\Winlogon\\NotifyMore", sibling.out()),
            kErrorSuccess);

  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"software\\winlogon\\notify"), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"software\\winlogon\\notify\\kiv"), kErrorSuccess);
  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"software\\winlogon\\notify\\kiv"),
            kErrorFileNotFound);
  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"software\\winlogon\\notify"), kErrorSuccess);

  // The values went with the key, and a handle still open on it cannot write into nowhere.
  Key again;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"Software\\Winlogon\\Notify\\KIV", again.out()),
            kErrorSuccess);
  EXPECT_EQ(queryString(again.handle, L"DllName"), L"<missing>");
  ASSERT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L"Software\\Winlogon\\Notify\\KIV"), kErrorSuccess);
  EXPECT_EQ(setString(leaf.handle, L"DllName", L"x"), kErrorKeyDeleted);
  EXPECT_EQ(RegDeleteKeyW(kHKeyLocalMachine, L""), kErrorAccessDenied);
}

TEST(Registry, HandlesAndAccessAreChecked) {
  Key readOnly;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\Access", readOnly.out()), kErrorSuccess);
  RegCloseKey(readOnly.handle);
  readOnly.handle = nullptr;
  ASSERT_EQ(RegOpenKeyExA(kHKeyLocalMachine, "SOFTWARE\\Access", kKeyRead, readOnly.out()),
            kErrorSuccess);
  EXPECT_EQ(setString(readOnly.handle, L"v", L"x"), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteValueW(readOnly.handle, L"v"), kErrorAccessDenied);

  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyW(kHKeyLocalMachine, L"SOFTWARE\\Access", &closed), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(closed), kErrorSuccess);
  EXPECT_EQ(RegCloseKey(closed), kErrorInvalidHandle);
  EXPECT_EQ(setString(closed, L"v", L"x"), kErrorInvalidHandle);
  EXPECT_EQ(RegCloseKey(kHKeyLocalMachine), kErrorSuccess);  // the root is never freed
  EXPECT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"x", nullptr), kErrorInvalidParameter);
}

TEST(Registry, FailValueWritesHookFailsOnlyThatName) {
  Key key;
  ASSERT_EQ(RegCreateKeyW(kHKeyLocalMachine, L"SOFTWARE\\Run", key.out()), kErrorSuccess);
  testing::failValueWrites(L"KIV_usrntf");
  EXPECT_EQ(setString(key.handle, L"kiv_USRNTF", L"tqusrntf.exe"), kErrorRegistryIo);
  EXPECT_EQ(setString(key.handle, L"Other", L"x"), kErrorSuccess);
  EXPECT_EQ(queryString(key.handle, L"KIV_usrntf"), L"<missing>");
  testing::failValueWrites(nullptr);
  EXPECT_EQ(setString(key.handle, L"KIV_usrntf", L"tqusrntf.exe"), kErrorSuccess);
}

// Several processes writing at once: each waits its turn, and every value arrives.
TEST(Registry, ProcessesShareTheFile) {
  std::vector<std::unique_ptr<Process>> writers;
  const std::string helper = kivtest::binDir() + "/platform_helper";
  for (int p = 0; p < 4; ++p) {
    const std::string command = helper + " registry w" + std::to_string(p) + " 40";
    writers.push_back(Process::startHidden(std::wstring(command.begin(), command.end())));
    ASSERT_TRUE(writers.back());
  }
  for (auto& writer : writers) ASSERT_EQ(writer->wait(60000), kWaitObject0);
  for (int p = 0; p < 4; ++p) {
    Key key;
    const std::wstring path = L"software\\multi\\W" + std::to_wstring(p);
    ASSERT_EQ(RegOpenKeyW(kHKeyLocalMachine, path.c_str(), key.out()), kErrorSuccess);
    wchar_t name[8];
    uint32_t length = 8;
    EXPECT_EQ(RegEnumValueW(key.handle, 39, name, &length), kErrorSuccess) << p;
    length = 8;
    EXPECT_EQ(RegEnumValueW(key.handle, 40, name, &length), kErrorNoMoreItems) << p;
  }
}

}  // namespace
}  // namespace kiv::platform
