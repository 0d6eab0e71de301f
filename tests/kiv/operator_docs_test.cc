// What operators read and type beside the program itself: kiv(1) names every setting the
// code reads, and the bash completion goes on after an option's value.
#include <gtest/gtest.h>

#include <string>

#include "support/kiv_test.h"
#include "support/run_self.h"

namespace kivtooltest {
namespace {

TEST(OperatorDocs, ManualPageNamesEverySettingTheCodeReads) {
  const std::string page = kivtest::readFile(std::string(KIV_SOURCE_DIR) + "/dist/man/kiv.1.in");
  ASSERT_FALSE(page.empty());
  // Configuration values, then the environment.
  for (const char* setting :
       {"configdata_location", "ipchangescript", "ipchangescripttimeout", "tcplisten", "dlox/common/kiv/bus",
        "KIV_HOME", "KIV_MODULE_PATH", "KIV_TRACE_LEVEL", "KIV_TRACE_STDERR", "KIV_DEBUG", "KIV_WINDOWS_VERSION",
        "KIV_COMPUTER_NAME", "KIV_UTMP", "INVOCATION_ID", "XDG_STATE_HOME"}) {
    EXPECT_NE(page.find(setting), std::string::npos) << setting;
  }
}

#ifndef _WIN32
// The words bash completion offers for a command line whose last word is being typed.
std::string completions(const std::string& line) {
  std::string output;
  const std::string script = R"(
    source /usr/share/bash-completion/bash_completion
    source ")" + std::string(KIV_SOURCE_DIR) + R"(/dist/bash-completion/kiv"
    compopt() { :; }
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_LINE=$1; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
    _kiv; echo "${COMPREPLY[*]}")";
  kivtest::writeFile(kivtest::home() + "/complete.sh", script);
  EXPECT_EQ(kivtest::run("bash " + kivtest::home() + "/complete.sh " + kivtest::quoteArgument(line), &output), 0);
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

TEST(OperatorDocs, CompletionGoesOnAfterAnOptionValue) {
  if (kivtest::run("test -f /usr/share/bash-completion/bash_completion") != 0) GTEST_SKIP() << "no bash-completion";
  EXPECT_EQ(completions("kiv send --timeout 5000 "), "logon logoff docked undocked raw host-event --timeout --help");
  EXPECT_EQ(completions("kiv send logon --user alice --"), "--user --domain --session --cu --uu --timeout --help");
  EXPECT_EQ(completions("kiv units list --types 0x4 --j"), "--json");
  EXPECT_EQ(completions("kiv units add u1 --type User --set pre"),
            "previousmanageraddress= previousserveraddress= previousdomainuuid= previousuri=");
  EXPECT_EQ(completions("kiv send --timeout "), "") << "the value itself is the operator's";
}
#endif

}  // namespace
}  // namespace kivtooltest
