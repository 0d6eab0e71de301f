// The store shared with other processes: what they write is seen by the next read here,
// except inside a snapshot, and the kiv config commands work on the same values.
#include <gtest/gtest.h>

#include "config/config_test_util.h"

using configtest::Config;
using configtest::kiv;

namespace {

TEST(ConfigProcesses, ValuesWrittenElsewhereAreSeenByTheNextRead) {
  Config config;
  ASSERT_EQ(config->setStringW(L"dlox/common", L"configdata_location", L"/first", 0), 0);
  ASSERT_EQ(configtest::text(config.get(), L"dlox/common", L"configdata_location"), L"/first");
  EXPECT_EQ(configtest::text(config.get(), L"dlox/common", L"added"), std::nullopt);  // now remembered as missing

  ASSERT_EQ(kiv("config set DLOX/COMMON CONFIGDATA_LOCATION /second"), 0);
  ASSERT_EQ(kiv("config set dlox/common added 5 --number"), 0);
  EXPECT_EQ(configtest::text(config.get(), L"dlox/common", L"configdata_location"), L"/second");
  EXPECT_EQ(configtest::number(config.get(), L"dlox/common", L"added"), 5);
}

TEST(ConfigProcesses, SnapshotKeepsOneViewUntilItEnds) {
  Config config;
  config->setStringW(L"dlox/agent/units/a", L"unittype", L"User", 0);
  config->setStringW(L"dlox/agent/units/b", L"unittype", L"User", 0);

  ASSERT_EQ(config->beginSnapshot(), 0);
  ASSERT_EQ(kiv("config set dlox/agent/units/a unittype computerUser"), 0);
  ASSERT_EQ(kiv("config set dlox/agent/units/c unittype User"), 0);
  // Another object of this thread shares the snapshot, as the units code relies on.
  Config other;
  EXPECT_EQ(configtest::text(other.get(), L"dlox/agent/units/a", L"unittype"), L"User");
  EXPECT_EQ(configtest::text(other.get(), L"dlox/agent/units/c", L"unittype"), std::nullopt);
  EXPECT_EQ(configtest::sections(config.get(), L"dlox/agent/units"), (std::vector<std::wstring>{L"a", L"b"}));

  // A write of our own ends the old view: it and everything committed before it show.
  ASSERT_EQ(config->setStringW(L"dlox/agent/units/b", L"unittype", L"computer", 0), 0);
  EXPECT_EQ(configtest::text(config.get(), L"dlox/agent/units/b", L"unittype"), L"computer");
  EXPECT_EQ(configtest::text(config.get(), L"dlox/agent/units/a", L"unittype"), L"computerUser");
  ASSERT_EQ(config->endSnapshot(), 0);

  EXPECT_EQ(configtest::text(config.get(), L"dlox/agent/units/c", L"unittype"), L"User");
  EXPECT_NE(config->endSnapshot(), 0);  // no snapshot left to end
}

TEST(ConfigCommand, SetGetAndList) {
  std::string out;
  EXPECT_EQ(kiv("config set dlox/common/kiv/general ipchangescript \"/bin/echo changed\""), 0);
  EXPECT_EQ(kiv("config set dlox/common/kiv/general mask 0xff --number"), 0);
  EXPECT_EQ(kiv("config set dlox/common/kiv/general code 0042 --string"), 0);
  EXPECT_EQ(kiv("config set dlox/common/kiv/general/child k v"), 0);

  EXPECT_EQ(kiv("config get Dlox/Common/Kiv/General IPCHANGESCRIPT", &out), 0);
  EXPECT_EQ(out, "/bin/echo changed\n");

  Config config;
  EXPECT_EQ(configtest::number(config.get(), L"dlox/common/kiv/general", L"mask"), 255);
  wchar_t buffer[16];
  uint32_t size = 16;
  ASSERT_EQ(config->getStringW(L"dlox/common/kiv/general", L"code", buffer, &size, 0), 0);
  EXPECT_STREQ(buffer, L"0042");  // kept as typed, not turned into 42

  EXPECT_EQ(kiv("config list dlox/common/kiv/general", &out), 0);
  EXPECT_EQ(out, "code = 0042\nipchangescript = /bin/echo changed\nmask = 255\nchild/\n");

  EXPECT_EQ(kiv("config get dlox/common/kiv/general nothing", &out), 1);
  EXPECT_NE(out.find("nothing"), std::string::npos);
  EXPECT_EQ(kiv("config set onlysection", &out), 2);
  EXPECT_EQ(kiv("config frobnicate", &out), 2);
}

}  // namespace
