// The rules that decide whether the address-change script may run: how the command line is
// split into words and its program found, what needs a shell and is refused, and which
// owners and modes of the program and of the directories above it are trusted.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "service/SafeDirectory.h"
#include "platform/command_line.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace {

using kiv::platform::findProgram;
using kiv::platform::splitCommandLine;

std::string scriptRefusal(const std::string& commandLine) {
  return kiv::notifier::checkScriptCommand(commandLine).refusal;
}

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

using Words = std::vector<std::string>;

TEST(ScriptWordsTest, WordsAreReadWithTheShellsQuotingAndNothingExpanded) {
  EXPECT_EQ(splitCommandLine("  /usr/bin/logger -t kiv ").words, (Words{"/usr/bin/logger", "-t", "kiv"}));
  EXPECT_EQ(splitCommandLine("'/opt/my dir/run'  'a $b' \"x\\\"y\" '' z\\ w").words,
            (Words{"/opt/my dir/run", "a $b", "x\"y", "", "z w"}));
  EXPECT_EQ(splitCommandLine("/opt/a=b/run x#y a~b \\; \"a;b|c\"").words,
            (Words{"/opt/a=b/run", "x#y", "a~b", ";", "a;b|c"}));
  EXPECT_EQ(splitCommandLine("/opt/run \"it's\" 'say \"hi\"'").words, (Words{"/opt/run", "it's", "say \"hi\""}));
}

// Every one of these means something only to a shell; several would run a file that the
// check of the first word never sees.
TEST(ScriptWordsTest, LinesThatNeedAShellAreRefusedWithTheReason) {
  const std::pair<const char*, const char*> lines[] = {
      {". /d/evil.sh", "the shell's own '.'"},        {"exec /d/evil.sh", "the shell's own 'exec'"},
      {"eval /d/evil.sh", "the shell's own 'eval'"},  {"{ /d/evil.sh; }", "the operator ';'"},
      {"{ /d/evil.sh }", "the shell's own '{'"},      {"# note\n/d/evil.sh", "a newline"},
      {"# note", "a comment"},                        {"/opt/run; rm -rf /", "the operator ';'"},
      {"/opt/run && x", "the operator '&'"},          {"/opt/run | x", "the operator '|'"},
      {"(/opt/run)", "the operator '('"},             {"/opt/run >/dev/null", "a redirection"},
      {"/opt/run 2</x", "a redirection"},             {"$HOME/run", "an expansion ('$')"},
      {"/opt/run \"$X\"", "an expansion ('$')"},     {"`which run`", "an expansion ('`')"},
      {"/opt/r*n", "a file name pattern ('*')"},      {"/opt/run x?", "a file name pattern ('?')"},
      {"~/run", "a home directory ('~')"},            {"FOO=1 /opt/run", "a variable assignment"},
      {"if /opt/run", "the shell's own 'if'"},        {"'/opt/unterminated", "an unclosed quote"},
      {"/opt/run \\\nx", "a newline"},
  };
  for (const auto& [line, why] : lines) {
    const auto split = splitCommandLine(line);
    EXPECT_EQ(split.needsShell, why) << line;
    EXPECT_TRUE(split.words.empty()) << line;
    EXPECT_EQ(scriptRefusal(line), std::string("it needs a shell for ") + why + "; put the command in a script file") << line;
  }
  for (const char* blank : {"", "   "}) EXPECT_EQ(scriptRefusal(blank), "it names no program");
}

TEST_F(ScriptPolicyTest, NamesAreFoundOnTheSearchPathLikeTheShellFindsThem) {
  const std::string notExecutable = safe.directory("first", 0755);
  safe.file("first/tool", "#!/bin/sh\n", 0644);
  safe.directory("second", 0755);
  const std::string tool = safe.file("second/tool", "#!/bin/sh\n");
  EXPECT_EQ(findProgram("tool", notExecutable + ":" + safe.path() + "/second"), tool);
  EXPECT_EQ(findProgram("tool", notExecutable), "");
  EXPECT_EQ(findProgram(tool, ""), tool);
  const auto found = kiv::notifier::checkScriptCommand("sh -c 'exit 0'");
  EXPECT_EQ(found.arguments, (Words{"sh", "-c", "exit 0"}));
  // The bare name is started as the file PATH gives, not as whatever "sh" the current
  // directory might hold.
  EXPECT_TRUE(found.program.starts_with("/") && found.program.ends_with("/sh")) << found.program;
  // What cannot start fails at the start, which traces why; a missing file below a
  // directory that others can write is still refused.
  EXPECT_EQ(scriptRefusal("no-such-command-anywhere --x"), "");
  EXPECT_EQ(scriptRefusal(safe.path() + "/first/missing"), "");
  EXPECT_EQ(scriptRefusal(safe.path() + "/no/such/directory"), "");
  const std::string open = safe.directory("open", 0777);
  EXPECT_EQ(scriptRefusal(open + "/missing"), "directory " + open + " is writable by group or others");
  EXPECT_EQ(scriptRefusal(open + "/no/such/directory"), "directory " + open + " is writable by group or others")
      << "someone else could make the missing directories";
  EXPECT_EQ(scriptRefusal("sh -c 'exit 0'"), "") << "system commands on PATH are trusted";
  // A program found on PATH is checked like one named with its path.
  const std::string openTool = safe.file("open/tool", "#!/bin/sh\n");
  const std::string path = kiv::platform::programSearchPath();
  setenv("PATH", open.c_str(), 1);
  const std::string refusal = scriptRefusal("tool --x");
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(refusal, "directory " + open + " is writable by group or others") << openTool;
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
