// The configuration object within one process: names without regard to case, typed
// values and buffer sizes, and the section listing protocol.
#ifdef _WIN32
#include <windows.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/config_test_util.h"
#include "tqUtilities.h"

using configtest::Config;

namespace {

constexpr const wchar_t* kUnits = L"dlox/agent/units";

TEST(ConfigValues, NamesMatchWithoutRegardToCase) {
  Config config;
  ASSERT_NE(config.get(), nullptr);
  ASSERT_EQ(config->setStringW(L"dlox/agent/units/Alice", L"uri", L"kiv://alice", 0), 0);
  EXPECT_EQ(configtest::text(config.get(), L"DLOX/Agent/UNITS/alice", L"URI"), L"kiv://alice");

  // Writing under another spelling replaces the one value instead of adding a second.
  ASSERT_EQ(config->setStringW(L"dlox/agent/units/ALICE", L"Uri", L"kiv://other", 0), 0);
  EXPECT_EQ(configtest::text(config.get(), L"dlox/agent/units/alice", L"uri"), L"kiv://other");
  int keys = 0;
  config->enumValues(L"dlox/agent/units/alice", [](void* n, const wchar_t*, const wchar_t*, int32_t) { ++*static_cast<int*>(n); }, &keys);
  EXPECT_EQ(keys, 1);

  // Letters beyond ASCII fold too.
  ASSERT_EQ(config->setNumber(L"Ärger/Öl", L"GRÜN", 3, 0), 0);
  EXPECT_EQ(configtest::number(config.get(), L"ärger/öL", L"grün"), 3);
  EXPECT_EQ(configtest::text(config.get(), L"ärger/öl", L"gruen"), std::nullopt);
}

TEST(ConfigValues, StringReadsReportSizesAndLeaveBuffersAloneOnFailure) {
  Config config;
  ASSERT_EQ(config->setStringW(L"s", L"k", L"héllo", 0), 0);

  wchar_t buffer[8];
  std::wmemset(buffer, L'#', 8);
  uint32_t size = 5;  // room for the text but not its NUL
  EXPECT_EQ(config->getStringW(L"s", L"k", buffer, &size, 0), kTQConfigMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(buffer[0], L'#');

  size = 6;
  ASSERT_EQ(config->getStringW(L"s", L"k", buffer, &size, 0), 0);
  EXPECT_EQ(size, 5u);
  EXPECT_STREQ(buffer, L"héllo");

  size = 8;
  std::wmemset(buffer, L'#', 8);
  EXPECT_EQ(config->getStringW(L"s", L"missing", buffer, &size, 0), kTQConfigNotFound);
  EXPECT_EQ(buffer[0], L'#');

  // The narrow read is in the system code page and counts its bytes: UTF-8 on Linux, the
  // ANSI code page on Windows.
#ifdef _WIN32
  char expected[8] = {};
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, L"héllo", -1, expected, sizeof expected, nullptr, nullptr), 0);
#else
  const char* expected = "h\xc3\xa9llo";
#endif
  const auto needed = static_cast<uint32_t>(std::strlen(expected) + 1);
  char narrow[8];
  size = needed - 1;
  EXPECT_EQ(config->getStringA("s", "K", narrow, &size, 0), kTQConfigMoreData);
  EXPECT_EQ(size, needed);
  size = needed;
  ASSERT_EQ(config->getStringA("S", "k", narrow, &size, 0), 0);
  EXPECT_EQ(size, needed - 1);
  EXPECT_STREQ(narrow, expected);
}

TEST(ConfigValues, NumbersAndStringsConvertAndWritesReplaceTheType) {
  Config config;
  ASSERT_EQ(config->setNumber(L"s", L"n", -42, 0), 0);
  EXPECT_EQ(configtest::text(config.get(), L"s", L"n"), L"-42");

  ASSERT_EQ(config->setStringW(L"s", L"n", L"0x1f", 0), 0);
  EXPECT_EQ(configtest::number(config.get(), L"s", L"n"), 31);

  ASSERT_EQ(config->setStringW(L"s", L"n", L"12 apples", 0), 0);
  int32_t value = 99;
  EXPECT_EQ(config->getNumber(L"s", L"n", &value, 0), kTQConfigNotFound);
  EXPECT_EQ(value, 99);

  ASSERT_EQ(config->setNumber(L"s", L"n", 2147483647, 0), 0);
  EXPECT_EQ(configtest::number(config.get(), L"s", L"n"), 2147483647);
  EXPECT_EQ(config->getNumber(L"s", L"absent", &value, 0), kTQConfigNotFound);
}

// Text that has no UTF-8 form is stored with U+FFFD in place of the bad characters:
// nothing is dropped or cut short, and the characters after it survive.
TEST(ConfigValues, UnencodableTextIsReplacedNotLost) {
  Config config;
  // A lead surrogate with no trail, then a character no wide text may hold: one beyond
  // U+10FFFF where wchar_t has 32 bits, a trail surrogate with no lead where it has 16.
  constexpr wchar_t kInvalid = sizeof(wchar_t) == 4 ? static_cast<wchar_t>(0x110000) : static_cast<wchar_t>(0xDC00);
  const wchar_t bad[] = {L'a', static_cast<wchar_t>(0xD800), L'b', kInvalid, L'c', 0};
  ASSERT_EQ(config->setStringW(L"s", L"k", bad, 0), 0);
  EXPECT_EQ(configtest::text(config.get(), L"s", L"k"), L"a\uFFFDb\uFFFDc");
  EXPECT_EQ(config->setStringW(L"s", L"k", nullptr, 0), kTQConfigNotFound);
  EXPECT_EQ(configtest::text(config.get(), L"s", L"k"), L"a\uFFFDb\uFFFDc");
}

// A character beyond the basic plane is one code point but two wide characters where
// wchar_t has 16 bits: sizes count wide characters, so a buffer sized by the sizing call
// holds the text exactly, and names that differ only there stay apart.
TEST(ConfigValues, CharactersBeyondTheBasicPlaneKeepTheirSizeAndIdentity) {
  Config config;
  const std::wstring phone = L"a\U0001F4F1b\U00020000";
  ASSERT_EQ(config->setStringW(L"s", L"k", phone.c_str(), 0), 0);
  uint32_t size = 0;
  ASSERT_EQ(config->getStringW(L"s", L"k", nullptr, &size, 0), kTQConfigMoreData);
  ASSERT_EQ(size, phone.size() + 1);
  std::vector<wchar_t> exact(size + 1, L'#');
  ASSERT_EQ(config->getStringW(L"s", L"k", exact.data(), &size, 0), 0);
  EXPECT_EQ(std::wstring(exact.data()), phone);
  EXPECT_EQ(size, phone.size());
  EXPECT_EQ(exact.back(), L'#') << "written past the stated size";

  ASSERT_EQ(config->setNumber(L"n/\U0001F600", L"k\U0001F600", 1, 0), 0);
  ASSERT_EQ(config->setNumber(L"n/\U0001F601", L"k\U0001F601", 2, 0), 0);
  EXPECT_EQ(configtest::number(config.get(), L"n/\U0001F600", L"k\U0001F600"), 1);
  EXPECT_EQ(configtest::number(config.get(), L"n/\U0001F601", L"k\U0001F601"), 2);
  EXPECT_EQ(configtest::number(config.get(), L"n/\U0001F600", L"k\U0001F601"), std::nullopt);
  std::vector<std::wstring> listed = configtest::sections(config.get(), L"n");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::wstring>{L"\U0001F600", L"\U0001F601"}));
}

TEST(ConfigValues, ObjectsAreCountedAndVersioned) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, 3);
  EXPECT_EQ(config, nullptr);
  TQUtilities_GetConfigEx(&config, 2);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(config->GetLibraryHandle(), nullptr);
  EXPECT_EQ(config->prepare(0, 2), 0);
  config->AddRef();
  EXPECT_EQ(config->Release(), 1);
  EXPECT_EQ(config->Release(), 0);
}

TEST(ConfigSections, SizingFetchingAndEmptyAnswers) {
  Config config;
  uint32_t count = 7, size = 7;
  EXPECT_EQ(config->listSections(kUnits, nullptr, &count, &size, 0), 0);
  EXPECT_EQ(count, 0u);

  config->setStringW(L"dlox/agent/units/b", L"homedirectory", L"00000001", 0);
  config->setStringW(L"dlox/agent/units/a", L"homedirectory", L"00000002", 0);
  config->setStringW(L"dlox/agent/units/ccc/deeper", L"x", L"1", 0);  // "ccc" exists through its child
  config->setStringW(L"dlox/agent/units/B/again", L"x", L"1", 0);     // "b" is listed once
  config->setNumber(kUnits, L"directorycounter", 2, 0);               // a value, not a section

  ASSERT_EQ(config->listSections(kUnits, nullptr, &count, &size, 0), kTQConfigMoreData);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(size, 2u + 2u + 4u + 1u);

  std::vector<wchar_t> buffer(size, L'#');
  uint32_t small = size - 1;
  EXPECT_EQ(config->listSections(kUnits, buffer.data(), &count, &small, 0), kTQConfigMoreData);
  EXPECT_EQ(small, size);
  EXPECT_EQ(buffer[0], L'#');

  ASSERT_EQ(config->listSections(kUnits, buffer.data(), &count, &size, 0), 0);
  EXPECT_EQ(std::wstring(buffer.data(), buffer.size()), std::wstring(L"b\0a\0ccc\0\0", 9));

  EXPECT_EQ(configtest::sections(config.get(), L"DLOX/AGENT"), std::vector<std::wstring>{L"units"});
  EXPECT_EQ(configtest::sections(config.get(), L"dlox/agent/units/ccc"), std::vector<std::wstring>{L"deeper"});
  EXPECT_EQ(configtest::sections(config.get(), L""), std::vector<std::wstring>{L"dlox"});
}

// A prefix of a name is not its parent: "dlox/agent/unitsX" lies beside "units".
TEST(ConfigSections, SiblingsWithACommonPrefixStayApart) {
  Config config;
  config->setStringW(L"dlox/agent/unitsX/a", L"k", L"v", 0);
  config->setStringW(L"dlox/agent/units/b", L"k", L"v", 0);
  EXPECT_EQ(configtest::sections(config.get(), kUnits), std::vector<std::wstring>{L"b"});
  EXPECT_EQ(configtest::sections(config.get(), L"dlox/agent"), (std::vector<std::wstring>{L"unitsX", L"units"}));
}

}  // namespace
