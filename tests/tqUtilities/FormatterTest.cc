// The framework formatter in both widths: numbers with flags, width and precision, the
// string specifiers of each width, and input that must not crash it.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "TQString.h"

namespace {

template <class... Args>
std::wstring wide(const wchar_t* fmt, Args... args) {
  TQStringW text;
  text.format(fmt, args...);
  return text.str();
}

template <class... Args>
std::string narrow(const char* fmt, Args... args) {
  TQStringA text;
  text.format(fmt, args...);
  return text.str();
}

TEST(Formatter, IntegersWithFlagsWidthAndPrecision) {
  EXPECT_EQ(wide(L"%.8x", 0x2a), L"0000002a");
  EXPECT_EQ(narrow("%.8x", 0x2a), "0000002a");
  EXPECT_EQ(narrow("%d|%i|%u", -42, 7, 4000000000u), "-42|7|4000000000");
  EXPECT_EQ(narrow("%5d|%-5d|%05d|%+d|% d", 42, 42, -42, 42, 42), "   42|42   |-0042|+42| 42");
  EXPECT_EQ(narrow("%x|%X|%#x|%#X|%#o|%o", 255, 255, 255, 255, 8, 8), "ff|FF|0xff|0XFF|010|10");
  EXPECT_EQ(narrow("%#x|%.0d|%.0x|%#.0o", 0, 0, 0, 0), "0|||0");
  EXPECT_EQ(narrow("%08.3d|%-08d|", 5, 5), "     005|5       |");
  EXPECT_EQ(narrow("%*d|%-*d|%.*d", 4, 1, 3, 2, 3, 3), "   1|2  |003");
  EXPECT_EQ(narrow("%*d|", -4, 1), "1   |");  // a negative '*' width means left-justified
  EXPECT_EQ(narrow("%d|%d", INT_MIN, INT_MAX), "-2147483648|2147483647");
}

TEST(Formatter, LengthModifiersReadTheRightArgumentSize) {
  // long has 64 bits on Linux and 32 on Windows; a wrong size shifts the argument after it.
  EXPECT_EQ(narrow("%ld|%lu|%d", LONG_MIN, ULONG_MAX, 7),
            std::to_string(LONG_MIN) + "|" + std::to_string(ULONG_MAX) + "|7");
  EXPECT_EQ(narrow("%lld|%llu", LLONG_MIN, ULLONG_MAX), "-9223372036854775808|18446744073709551615");
  EXPECT_EQ(narrow("%zu|%zd", static_cast<size_t>(1) << 40, static_cast<ssize_t>(-3)), "1099511627776|-3");
  EXPECT_EQ(narrow("%hd|%hu|%hhx", 70000, 70000, 0x1ff), "4464|4464|ff");
  // Mixed sizes in one format: a wrong size would shift every later argument.
  EXPECT_EQ(wide(L"%hd %lld %d %zx", 1, 2LL, 3, static_cast<size_t>(4)), L"1 2 3 4");
  EXPECT_EQ(wide(L"%lx %d", ULONG_MAX, 5), sizeof(long) == 8 ? L"ffffffffffffffff 5" : L"ffffffff 5");
}

TEST(Formatter, StringsFollowTheWidthRulesOfEachFormat) {
  // Wide formats: %s wide, %hs narrow, %ls wide; %T always wide, %t always narrow.
  EXPECT_EQ(wide(L"%s|%hs|%ls|%T|%t", L"w\u00E9", "n\xC3\xA9", L"l", L"T", "t"), L"w\u00E9|n\u00E9|l|T|t");
  // Narrow formats: %s and %hs narrow, %ls wide; %T wide, %t narrow.
  EXPECT_EQ(narrow("%s|%hs|%ls|%T|%t", "n", "h", L"w\u00E9", L"T\U0001F600", "t"),
            "n|h|w\xC3\xA9|T\xF0\x9F\x98\x80|t");
  EXPECT_EQ(wide(L"[%5T][%-5t][%.2T][%.2t]", L"ab", "cd", L"wxyz", "wxyz"), L"[   ab][cd   ][wx][wx]");
  EXPECT_EQ(narrow("[%5s][%-4ls][%.3s]", "ab", L"cd", "abcdef"), "[   ab][cd  ][abc]");
  // A narrow precision never cuts a character in half.
  EXPECT_EQ(narrow("[%.2ls]", L"a\u00E9"), "[a]");
  // The argument of a %.Ns need not be terminated.
  const char unterminated[3] = {'x', 'y', 'z'};
  EXPECT_EQ(narrow("%.3s", unterminated), "xyz");
  EXPECT_EQ(wide(L"%.3hs", unterminated), L"xyz");
}

// Two pages, the second unreadable: text placed at the end of the first is followed by
// nothing that can be read, so any read past it faults.
class GuardedText {
 public:
  GuardedText() {
#ifdef _WIN32
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, 2 * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    if (base_ != nullptr && !VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &previous)) release();
#else
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* pages = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = pages == MAP_FAILED ? nullptr : static_cast<char*>(pages);
    if (base_ != nullptr && mprotect(base_ + page_, page_, PROT_NONE) != 0) release();
#endif
  }
  ~GuardedText() { release(); }
  bool ready() const { return base_ != nullptr; }
  // The text's bytes, ending right before the unreadable page, without a terminator.
  const char* place(std::string_view bytes) {
    char* at = base_ + page_ - bytes.size();
    std::memcpy(at, bytes.data(), bytes.size());
    return at;
  }

 private:
  void release() {
#ifdef _WIN32
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
#else
    if (base_ != nullptr) munmap(base_, 2 * page_);
#endif
    base_ = nullptr;
  }
  std::size_t page_ = 0;
  char* base_ = nullptr;
};

TEST(Formatter, NarrowArgumentWithAPrecisionIsNotReadBeyondItsLastCharacter) {
  GuardedText guarded;
  ASSERT_TRUE(guarded.ready());
  EXPECT_EQ(wide(L"[%.1hs]", guarded.place("\xC3\xA9")), L"[\u00E9]");
  EXPECT_EQ(wide(L"[%.1t]", guarded.place("\xE2\x82\xAC")), L"[\u20AC]");
  // The precision counts output units: a character beyond the BMP takes two where wchar_t
  // has 16 bits, and one that does not fit whole is left out whole.
  const int emojiUnits = sizeof(wchar_t) == 2 ? 2 : 1;
  EXPECT_EQ(wide(L"[%.*hs]", 1 + emojiUnits, guarded.place("a\xF0\x9F\x98\x80")), L"[a\U0001F600]");
  EXPECT_EQ(wide(L"[%.*hs]", emojiUnits, guarded.place("a\xF0\x9F\x98\x80")), L"[a]");
  EXPECT_EQ(wide(L"[%.1hs]", guarded.place("z")), L"[z]");
}

TEST(Formatter, NullStringsCharactersPointersAndPercent) {
  EXPECT_EQ(wide(L"%s|%hs|%T|%t", static_cast<wchar_t*>(nullptr), static_cast<char*>(nullptr),
                 static_cast<wchar_t*>(nullptr), static_cast<char*>(nullptr)),
            L"(null)|(null)|(null)|(null)");
  EXPECT_EQ(narrow("%s|%ls", static_cast<char*>(nullptr), static_cast<wchar_t*>(nullptr)), "(null)|(null)");
  EXPECT_EQ(wide(L"%c%c%3c", L'\u00E9', L'x', L'y'), L"\u00E9x  y");
  EXPECT_EQ(narrow("%c|%lc|%-3c|", 'a', L'\u00E9', 'b'), "a|\xC3\xA9|b  |");
  EXPECT_EQ(narrow("%p", reinterpret_cast<void*>(0x1234)), "0x1234");
  EXPECT_EQ(narrow("100%% %d%%", 5), "100% 5%");
  EXPECT_EQ(narrow("%.2f|%5.1f|%e", 3.14159, 2.25, 1.0), "3.14|  2.2|1.000000e+00");
}

TEST(Formatter, UnknownOrBrokenSpecifiersAreCopiedThrough) {
  EXPECT_EQ(narrow("a%qb %d", 7), "a%qb 7");
  EXPECT_EQ(wide(L"%y%d", 3), L"%y3");
  EXPECT_EQ(narrow("end%"), "end%");
  EXPECT_EQ(narrow("end%-08"), "end%-08");
  EXPECT_EQ(wide(L"x%l"), L"x%l");
  // %n is consumed but never written through.
  int target = 99;
  EXPECT_EQ(narrow("ab%nc%d", &target, 1), "abc1");
  EXPECT_EQ(target, 99);
  // An absurd width is clamped instead of exhausting memory.
  EXPECT_LE(narrow("%999999999999d", 1).size(), 2u << 20);
  TQStringW empty;
  empty.format(nullptr);
  EXPECT_TRUE(empty.empty());
}

}  // namespace
