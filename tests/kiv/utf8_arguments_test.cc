// Arguments that become wide text must be valid text: a conversion that replaced the bad
// bytes or units would merge different names ("bad\xff" and "bad\xfe") into one unit or value.
#include <gtest/gtest.h>

#include <string>

#include "kiv/KivTool.h"

namespace kivtooltest {
namespace {

// `prefix` and then something that is no valid text where the program takes its arguments
// from: bytes that UTF-8 never uses on Linux; on Windows, where arguments arrive as UTF-16,
// a lone surrogate (written as run_program.h explains). Each variant is a different one.
std::string notText(const std::string& prefix, int variant) {
#ifdef _WIN32
  static const char* const kUnits[] = {"\xed\xa0\x80", "\xed\xb0\x80", "\xed\xaf\xbf", "\xed\xbf\xbf"};
#else
  static const char* const kUnits[] = {"\xff", "\xfe", "\xc0", "\xed\xa0\x80"};
#endif
  return prefix + kUnits[variant];
}

TEST(KivUtf8Arguments, UnitNamesAndValuesMustBeValidUtf8) {
  std::string out;
  EXPECT_EQ(kiv({"units", "add", notText("bad", 0)}, &out), 2) << out;
  EXPECT_NE(out.find("NAME"), std::string::npos) << out;
  EXPECT_NE(out.find("UTF-8"), std::string::npos) << out;
  EXPECT_EQ(kiv({"units", "add", notText("bad", 1)}, &out), 2) << out;
  EXPECT_EQ(kiv({"units", "get", notText("bad", 0)}, &out), 2) << out;
  EXPECT_EQ(kiv({"units", "add", "good", "--type", notText("User", 2)}, &out), 2) << out;
  EXPECT_NE(out.find("--type"), std::string::npos) << out;
  EXPECT_EQ(kiv({"units", "add", "good", "--set", "domain=" + notText("CORP", 3)}, &out), 2) << out;
  EXPECT_NE(out.find("--set domain"), std::string::npos) << out;
  // Nothing was written under the name the bad bytes would have become.
  EXPECT_EQ(kiv({"units", "get", "bad\xef\xbf\xbd"}, &out), 5) << out;
  EXPECT_EQ(kiv({"units", "get", "good"}, &out), 5) << out;

  // Valid multi-byte names are taken, and stay apart.
  EXPECT_EQ(kiv({"units", "add", "caf\xc3\xa9"}, &out), 0) << out;
  EXPECT_EQ(kiv({"units", "add", "cafe"}, &out), 0) << out;
  EXPECT_EQ(kiv({"units", "get", "caf\xc3\xa9", "--json"}, &out), 0) << out;
  EXPECT_NE(out.find("\"name\":\"caf\xc3\xa9\""), std::string::npos) << out;
}

TEST(KivUtf8Arguments, ConfigurationNamesAndValuesMustBeValidUtf8) {
  std::string out;
  EXPECT_EQ(kiv({"config", "set", notText("utf8", 0), "k", "v"}, &out), 2) << out;
  EXPECT_NE(out.find("SECTION"), std::string::npos) << out;
  EXPECT_EQ(kiv({"config", "set", "utf8", notText("k", 0), "v"}, &out), 2) << out;
  EXPECT_NE(out.find("KEY"), std::string::npos) << out;
  EXPECT_EQ(kiv({"config", "set", "utf8", "k", notText("v", 0)}, &out), 2) << out;
  EXPECT_NE(out.find("VALUE"), std::string::npos) << out;
  EXPECT_EQ(kiv({"config", "get", "utf8", notText("k", 1)}, &out), 2) << out;
  EXPECT_EQ(kiv({"config", "list", notText("utf8", 1)}, &out), 2) << out;
  EXPECT_EQ(kiv({"config", "list", "utf8"}, &out), 0) << out;
  EXPECT_EQ(out, "") << "nothing was written";
}

}  // namespace
}  // namespace kivtooltest
