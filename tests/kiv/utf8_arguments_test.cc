// Arguments that become wide text must be valid UTF-8: a conversion that replaced the bad
// bytes would merge different names ("bad\xff" and "bad\xfe") into one unit or value.
#include <gtest/gtest.h>

#include <string>

#include "kiv/KivTool.h"

namespace kivtooltest {
namespace {

// A shell word holding `prefix` and one byte given in octal.
std::string withByte(const std::string& prefix, const char* octal) {
  return "\"$(printf '" + prefix + "\\" + octal + "')\"";
}

TEST(KivUtf8Arguments, UnitNamesAndValuesMustBeValidUtf8) {
  std::string out;
  EXPECT_EQ(kiv("units add " + withByte("bad", "377"), &out), 2) << out;
  EXPECT_NE(out.find("NAME"), std::string::npos) << out;
  EXPECT_NE(out.find("UTF-8"), std::string::npos) << out;
  EXPECT_EQ(kiv("units add " + withByte("bad", "376"), &out), 2) << out;
  EXPECT_EQ(kiv("units get " + withByte("bad", "377"), &out), 2) << out;
  EXPECT_EQ(kiv("units add good --type " + withByte("User", "300"), &out), 2) << out;
  EXPECT_NE(out.find("--type"), std::string::npos) << out;
  EXPECT_EQ(kiv("units add good --set domain=" + withByte("CORP", "355\\240\\200"), &out), 2) << out;
  EXPECT_NE(out.find("--set domain"), std::string::npos) << out;
  // Nothing was written under the name the bad bytes would have become.
  EXPECT_EQ(kiv("units get 'bad\xef\xbf\xbd'", &out), 5) << out;
  EXPECT_EQ(kiv("units get good", &out), 5) << out;

  // Valid multi-byte names are taken, and stay apart.
  EXPECT_EQ(kiv("units add 'caf\xc3\xa9'", &out), 0) << out;
  EXPECT_EQ(kiv("units add 'cafe'", &out), 0) << out;
  EXPECT_EQ(kiv("units get 'caf\xc3\xa9' --json", &out), 0) << out;
  EXPECT_NE(out.find("\"name\":\"caf\xc3\xa9\""), std::string::npos) << out;
}

TEST(KivUtf8Arguments, ConfigurationNamesAndValuesMustBeValidUtf8) {
  std::string out;
  EXPECT_EQ(kiv("config set " + withByte("utf8", "377") + " k v", &out), 2) << out;
  EXPECT_NE(out.find("SECTION"), std::string::npos) << out;
  EXPECT_EQ(kiv("config set utf8 " + withByte("k", "377") + " v", &out), 2) << out;
  EXPECT_NE(out.find("KEY"), std::string::npos) << out;
  EXPECT_EQ(kiv("config set utf8 k " + withByte("v", "377"), &out), 2) << out;
  EXPECT_NE(out.find("VALUE"), std::string::npos) << out;
  EXPECT_EQ(kiv("config get utf8 " + withByte("k", "376"), &out), 2) << out;
  EXPECT_EQ(kiv("config list " + withByte("utf8", "376"), &out), 2) << out;
  EXPECT_EQ(kiv("config list utf8", &out), 0) << out;
  EXPECT_EQ(out, "") << "nothing was written";
}

}  // namespace
}  // namespace kivtooltest
