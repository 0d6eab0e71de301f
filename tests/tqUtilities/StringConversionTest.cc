// Conversions between narrow and wide text (UTF-8, and the system's code page: UTF-8 on
// Linux, the ANSI code page on Windows), and the string operations whose bounds matter.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "TQString.h"

namespace {

bool codePageIsUtf8() {
#ifdef _WIN32
  return GetACP() == CP_UTF8;
#else
  return true;
#endif
}

TEST(StringConversion, ValidUtf8IncludingNonBmpRoundTrips) {
  const char* utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  TQStringW wide;
  EXPECT_TRUE(wide.assign_utf8(utf8));
  EXPECT_EQ(wide.str(), std::wstring(L"a\u00E9\u20AC\U0001F600z"));
  TQStringA back;
  if (codePageIsUtf8()) {
    EXPECT_TRUE(back.assign_unicode(wide.c_str()));
    EXPECT_EQ(back.str(), utf8);
    TQStringW viaMbcs;
    EXPECT_TRUE(viaMbcs.assign_mbcs(utf8));
    EXPECT_EQ(viaMbcs, wide);
  } else {
    // No ANSI code page holds a character beyond the BMP: that is reported, and the
    // characters around it are kept.
    EXPECT_FALSE(back.assign_unicode(wide.c_str()));
    ASSERT_GE(back.str().size(), 3u);
    EXPECT_EQ(back.str().front(), 'a');
    EXPECT_EQ(back.str().back(), 'z');
  }
  // Whatever the code page holds comes back unchanged.
  const wchar_t* accented = L"a\u00E9z";
  TQStringA narrow;
  ASSERT_TRUE(narrow.assign_unicode(accented)) << "the code page has no \u00E9";
  TQStringW again;
  EXPECT_TRUE(again.assign_mbcs(narrow.c_str()));
  EXPECT_EQ(again.str(), accented);
}

TEST(StringConversion, InvalidUtf8BecomesReplacementAndAnswersFalse) {
  struct Case {
    const char* input;
    std::wstring expected;
  };
  const Case cases[] = {
      {"a\xFFz", L"a\uFFFDz"},                  // never valid byte
      {"a\xC3", L"a\uFFFD"},                    // truncated at the end
      {"a\xE2\x82z", L"a\uFFFDz"},              // truncated sequence: one replacement
      {"\xC0\xAF", L"\uFFFD\uFFFD"},            // overlong form
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\x80x", L"\uFFFDx"},                    // stray continuation byte
  };
  for (const auto& c : cases) {
    TQStringW wide;
    EXPECT_FALSE(wide.assign_utf8(c.input)) << c.input;
    EXPECT_EQ(wide.str(), c.expected) << c.input;
  }
}

TEST(StringConversion, LengthStopsAtTheGivenCountOrTheTerminator) {
  TQStringW wide;
  EXPECT_TRUE(wide.assign_utf8("abcdef", 3));
  EXPECT_EQ(wide, L"abc");
  EXPECT_TRUE(wide.assign_utf8("ab", 10));  // a longer count never reads past the NUL
  EXPECT_EQ(wide, L"ab");
  // A count that cuts a character in half makes the rest invalid, not a crash.
  EXPECT_FALSE(wide.assign_utf8("\xC3\xA9", 1));
  EXPECT_EQ(wide, L"\uFFFD");
  EXPECT_TRUE(wide.assign_utf8(nullptr));
  EXPECT_TRUE(wide.empty());
}

TEST(StringConversion, InvalidWideTextBecomesReplacementInTheCodePage) {
  TQStringA narrow;
  const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
  EXPECT_FALSE(narrow.assign_unicode(lone));
  if (!codePageIsUtf8()) {
    // The ANSI code page's default character stands in; nothing is dropped or cut short.
    ASSERT_EQ(narrow.str().size(), 3u);
    EXPECT_EQ(narrow.str().front(), 'a');
    EXPECT_EQ(narrow.str().back(), 'b');
    return;
  }
  EXPECT_EQ(narrow.str(), "a\xEF\xBF\xBD" "b");
  if (sizeof(wchar_t) == 4) {
    const wchar_t tooLarge[] = {static_cast<wchar_t>(0x110000), 0};
    EXPECT_FALSE(narrow.assign_unicode(tooLarge));
    EXPECT_EQ(narrow.str(), "\xEF\xBF\xBD");
  }
  // A surrogate pair, as text from a 16-bit platform carries it, is one character.
  const wchar_t pair[] = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00), 0};
  EXPECT_TRUE(narrow.assign_unicode(pair));
  EXPECT_EQ(narrow.str(), "\xF0\x9F\x98\x80");
}

TEST(StringOperations, CaseHandlingCoversNonAsciiLetters) {
  TQStringW text(L"stra\u00DFe \u00E9t\u00E9 \u0434\u043E\u043C abc");
  text.toupper();
  EXPECT_EQ(text.str(), std::wstring(L"STRA\u00DFE \u00C9T\u00C9 \u0414\u041E\u041C ABC"));
  EXPECT_EQ(TQStringW(L"\u00C9t\u00C9").comparei(L"\u00E9T\u00E9"), 0);
  EXPECT_LT(TQStringW(L"abc").comparei(L"ABD"), 0);
  EXPECT_GT(TQStringW(L"abcd").comparei(L"ABC"), 0);
  EXPECT_EQ(TQStringA("ITQPlugin").comparei("itqplugin"), 0);
  // Narrow text in the code page: É and é, whatever their bytes there.
  TQStringA upper, lower;
  ASSERT_TRUE(upper.assign_unicode(L"\u00C9t\u00E9"));
  ASSERT_TRUE(lower.assign_unicode(L"\u00E9T\u00C9"));
  EXPECT_EQ(upper.comparei(lower.c_str()), 0);
  EXPECT_NE(TQStringA("abc").comparei("abd"), 0);

  // Letters beyond the basic plane (Deseret), surrogate pairs where wchar_t has 16 bits.
  TQStringW deseret(L"\U00010428x\U0001F600");
  deseret.toupper();
  EXPECT_EQ(deseret.str(), std::wstring(L"\U00010400X\U0001F600"));
  EXPECT_EQ(TQStringW(L"\U00010400").comparei(L"\U00010428"), 0);
  EXPECT_NE(TQStringW(L"\U0001F600").comparei(L"\U0001F601"), 0);

  // A lone surrogate is no character: it stays as it is, also last, and two different ones
  // never compare equal.
  TQStringW lone(L"a\xD800" L"b\xD83D");
  lone.toupper();
  EXPECT_EQ(lone.str(), std::wstring(L"A\xD800" L"B\xD83D"));
  EXPECT_NE(TQStringW(L"\xD800").comparei(L"\xD801"), 0);
  EXPECT_EQ(TQStringW(L"x\xDC00").comparei(L"X\xDC00"), 0);
}

TEST(StringOperations, PositionsOutOfRangeGiveEmptyResults) {
  const TQStringW text(L"hello");
  EXPECT_EQ(text.substr(1, 3), L"ell");
  EXPECT_EQ(text.substr(2), L"llo");
  EXPECT_TRUE(text.substr(9).empty());
  EXPECT_EQ(text.left(99), L"hello");
  EXPECT_EQ(text.find(L"lo"), 3u);
  EXPECT_EQ(text.find(L"l", 3), 3u);
  EXPECT_EQ(text.find(L"x"), TQStringW::npos);
  EXPECT_EQ(text.find(L"h", 99), TQStringW::npos);
  EXPECT_EQ(text.find(nullptr), TQStringW::npos);
}

TEST(StringOperations, NullTextIsEmptyAndSeparatorIsAddedOnce) {
  TQStringW wide(nullptr);
  wide += static_cast<const wchar_t*>(nullptr);
  EXPECT_TRUE(wide.empty());
  TQStringA narrow(nullptr);
  narrow += "dir";
  narrow.add_path_separator();
  narrow.add_path_separator();
#ifdef _WIN32
  // Windows writes a backslash and takes either separator as one already there.
  EXPECT_EQ(narrow.str(), "dir\\");
  for (const wchar_t* ended : {L"C:\\data\\", L"C:\\data/"}) {
    wide = ended;
    wide.add_path_separator();
    EXPECT_EQ(wide.str(), std::wstring(ended));
  }
  wide = L"C:\\data";
  wide.add_path_separator();
  EXPECT_EQ(wide.str(), L"C:\\data\\");
  narrow = "C:\\data/";
  narrow.add_path_separator();
  EXPECT_EQ(narrow.str(), "C:\\data/");
#else
  EXPECT_EQ(narrow, "dir/");
  wide = L"/var/lib";
  wide.add_path_separator();
  wide.add_path_separator();
  EXPECT_EQ(wide, L"/var/lib/");
  wide = L"odd\\";  // a backslash is an ordinary character in a Linux file name
  wide.add_path_separator();
  EXPECT_EQ(wide, L"odd\\/");
#endif
  EXPECT_EQ(TQStringW(L"a") + L"kiv" + TQStringW(L"/x"), L"akiv/x");
}

#ifdef _WIN32
// A character whose second byte is a backslash is no separator. Runs where the ANSI code page
// is 932 (its own test entry starts the program with LC_ALL=ja_JP.UTF-8 under Wine).
TEST(StringOperations, DoubleByteCharacterEndingInABackslashByteIsNoSeparator) {
  if (GetACP() != 932) GTEST_SKIP() << "needs ANSI code page 932, not " << GetACP();
  TQStringA path("C:\\data\\\x95\x5c");  // the last character is U+8868, bytes 95 5C
  ASSERT_EQ(path.str().back(), '\\');
  path.add_path_separator();
  EXPECT_EQ(path.str(), "C:\\data\\\x95\x5c\\");
  path.add_path_separator();
  EXPECT_EQ(path.str(), "C:\\data\\\x95\x5c\\");
}
#endif

}  // namespace
