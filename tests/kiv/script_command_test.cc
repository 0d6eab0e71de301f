// `kiv script run|check`: the configured address-change script by hand, with the host's
// checks, environment and time limit, and exit codes that tell its outcomes apart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kiv/ScriptTest.h"
#include "service/SafeDirectory.h"

namespace kivtooltest {
namespace {

class KivScript : public ScriptTest {
 protected:
  void SetUp() override {
    // A script is run only from a directory that nobody but root may change.
    if (geteuid() != 0) GTEST_SKIP() << "needs root, for a directory only root can change";
    ASSERT_FALSE(safe.path().empty());
    ScriptTest::SetUp();
  }
  servicetest::SafeDirectory safe;
};

TEST_F(KivScript, RunPrintsTheOutputAndExitsWithTheScriptsCode) {
  const std::string script =
      safe.file("hook", "#!/bin/sh\necho \"event=$KIV_EVENT added=$KIV_ADDED\"\necho oops >&2\nexit 3\n");
  configure("ipchangescript", script + " --now");
  std::string out;
  EXPECT_EQ(kiv({"script", "check"}, &out), 0);
  EXPECT_EQ(out, "would run " + script + ": " + script + " --now\n");
  EXPECT_EQ(kiv({"script", "run"}, &out), 3);
  EXPECT_NE(out.find("event=manual added=\n"), std::string::npos) << out;
  EXPECT_NE(out.find("oops\n"), std::string::npos) << out;
  EXPECT_GE(kivtest::countTrace("kiv script run: ipchangescript (pid "), 3) << "two lines and the end";
  EXPECT_EQ(kivtest::countTrace(") ended: exit 3 after "), 1);
}

TEST_F(KivScript, EachWayOfNotRunningHasItsOwnCode) {
  std::string out;
  EXPECT_EQ(kiv({"script", "check"}, &out), 127);
  EXPECT_EQ(out, "not run: no \"ipchangescript\" is configured\n");
  EXPECT_EQ(kiv({"script", "run"}), 127);

  const std::string open = safe.file("open", "#!/bin/sh\ntouch " + safe.path() + "/ran\n", 0777);
  configure("ipchangescript", open);
  EXPECT_EQ(kiv({"script", "check"}, &out), 125);
  EXPECT_EQ(out, "not run: " + open + " is writable by group or others: " + open + "\n");
  EXPECT_EQ(kiv({"script", "run"}), 125);
  EXPECT_FALSE(std::filesystem::exists(safe.path() + "/ran"));

  configure("ipchangescript", "no-such-program-here");
  EXPECT_EQ(kiv({"script", "check"}, &out), 126);
  EXPECT_EQ(kiv({"script", "run"}), 126);

  configure("ipchangescript", safe.file("slow", "#!/bin/sh\nexec sleep 600\n"));
  configure("ipchangescripttimeout", "1");
  EXPECT_EQ(kiv({"script", "run"}, &out), 124);
  EXPECT_NE(out.find("ran past \"ipchangescripttimeout\""), std::string::npos) << out;
}

}  // namespace
}  // namespace kivtooltest
