// The rules that decide whether the address-change script may run: how the command line's
// first word is read and resolved, and which owners and modes of the file and of the
// directories above it are trusted.
#include <gtest/gtest.h>
#include <unistd.h>

#include "service/SafeDirectory.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace {

using kiv::notifier::firstWord;
using kiv::notifier::resolveCommand;
using kiv::notifier::scriptRefusal;

class ScriptPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "the ownership rules are tested as root";
    ASSERT_FALSE(safe.path().empty());
    ASSERT_EQ(scriptRefusal(safe.file("probe", "#!/bin/sh\n")), "")
        << "the build tree must itself be trusted for these tests";
  }
  servicetest::SafeDirectory safe;
};

TEST(ScriptWordTest, FirstWordIsReadAsTheShellReadsIt) {
  EXPECT_EQ(firstWord("  /usr/bin/logger -t kiv"), "/usr/bin/logger");
  EXPECT_EQ(firstWord("'/opt/my dir/run'  x"), "/opt/my dir/run");
  EXPECT_EQ(firstWord("\"/opt/a\\\"b\" x"), "/opt/a\"b");
  EXPECT_EQ(firstWord("/opt/my\\ dir/run"), "/opt/my dir/run");
  EXPECT_EQ(firstWord("/opt/run;rm -rf /"), "/opt/run");
  EXPECT_EQ(firstWord("/opt/run>/dev/null"), "/opt/run");
  EXPECT_EQ(firstWord("/opt/a=b/run"), "/opt/a=b/run");
}

TEST(ScriptWordTest, WordsThatDependOnExpansionAreNotAccepted) {
  for (const char* line : {"$HOME/run", "\"$X\"/run", "`which run`", "/opt/r*n", "~/run", "FOO=1 /opt/run",
                           "'/opt/unterminated", "", "   "}) {
    EXPECT_EQ(firstWord(line), "") << line;
    EXPECT_NE(scriptRefusal(std::string_view(line)), "") << line;
  }
}

TEST_F(ScriptPolicyTest, NamesAreFoundOnTheSearchPathLikeTheShellFindsThem) {
  const std::string notExecutable = safe.directory("first", 0755);
  safe.file("first/tool", "#!/bin/sh\n", 0644);
  safe.directory("second", 0755);
  const std::string tool = safe.file("second/tool", "#!/bin/sh\n");
  EXPECT_EQ(resolveCommand("tool", notExecutable + ":" + safe.path() + "/second"), tool);
  EXPECT_EQ(resolveCommand("tool", notExecutable), "");
  EXPECT_EQ(resolveCommand(tool, ""), tool);
  // What the shell cannot start is left to the shell, which reports it as a failed start;
  // a missing file below a directory that others can write is still refused.
  EXPECT_EQ(scriptRefusal("no-such-command-anywhere --x"), "");
  EXPECT_EQ(scriptRefusal(safe.path() + "/first/missing"), "");
  EXPECT_EQ(scriptRefusal(safe.path() + "/no/such/directory"), "");
  const std::string open = safe.directory("open", 0777);
  EXPECT_EQ(scriptRefusal(open + "/missing"), "directory " + open + " is writable by group or others");
  EXPECT_EQ(scriptRefusal(open + "/no/such/directory"), "directory " + open + " is writable by group or others")
      << "someone else could make the missing directories";
  EXPECT_EQ(scriptRefusal("sh -c 'exit 0'"), "") << "system commands on PATH are trusted";
}

TEST_F(ScriptPolicyTest, FilesOthersCanChangeAreRefused) {
  const std::string groupWritable = safe.file("group", "#!/bin/sh\n", 0775);
  EXPECT_EQ(scriptRefusal(groupWritable + " arg"), groupWritable + " is writable by group or others");
  const std::string worldWritable = safe.file("world", "#!/bin/sh\n", 0757);
  EXPECT_EQ(scriptRefusal(worldWritable), worldWritable + " is writable by group or others");

  const std::string foreign = safe.file("foreign", "#!/bin/sh\n", 0755);
  ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  EXPECT_EQ(scriptRefusal(foreign), foreign + " is owned by user 65534, not by root");
  EXPECT_EQ(scriptRefusal("'" + safe.path() + "/probe' --quoted"), "");
}

TEST_F(ScriptPolicyTest, DirectoriesOthersCanChangeAreRefusedEvenBehindLinks) {
  const std::string open = safe.directory("open", 0777);
  const std::string inOpen = safe.file("open/run", "#!/bin/sh\n");
  EXPECT_EQ(scriptRefusal(inOpen), "directory " + open + " is writable by group or others");
  EXPECT_NE(scriptRefusal("/tmp/../" + inOpen.substr(1)), "");

  const std::string sticky = safe.directory("sticky", 01777);
  EXPECT_EQ(scriptRefusal(safe.file("sticky/run", "#!/bin/sh\n")), "directory " + sticky + " is writable by group or others");

  const std::string foreignDir = safe.directory("foreign", 0755);
  const std::string inForeign = safe.file("foreign/run", "#!/bin/sh\n");
  ASSERT_EQ(chown(foreignDir.c_str(), 65534, 65534), 0);
  EXPECT_EQ(scriptRefusal(inForeign), "directory " + foreignDir + " is owned by user 65534, not by root");

  // A trusted link to a file in an open directory, and a link in an open directory to a
  // trusted file: either way someone else can change what runs.
  const std::string linkToOpen = safe.path() + "/link-to-open";
  ASSERT_EQ(symlink(inOpen.c_str(), linkToOpen.c_str()), 0);
  EXPECT_EQ(scriptRefusal(linkToOpen), "directory " + open + " is writable by group or others");
  const std::string linkInOpen = open + "/link";
  ASSERT_EQ(symlink((safe.path() + "/probe").c_str(), linkInOpen.c_str()), 0);
  EXPECT_EQ(scriptRefusal(linkInOpen), "directory " + open + " is writable by group or others");
}

}  // namespace
