// A command line with a word kiv does not know is refused with that word named, not with a
// bare "A subcommand is required".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiv/KivTool.h"

namespace kivtooltest {
namespace {

TEST(KivUsage, UnknownWordsAreNamed) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"bogus"}, "'bogus'"},
      {{"--bogus"}, "'--bogus'"},
      {{"units", "bogus"}, "'bogus'"},
      {{"config", "--bogus"}, "'--bogus'"},
  };
  for (const auto& [arguments, named] : cases) {
    std::string output;
    EXPECT_EQ(kiv(arguments, &output), 2) << arguments.back();
    EXPECT_NE(output.find(named), std::string::npos) << output;
  }
  std::string output;
  EXPECT_EQ(kiv({"units"}, &output), 2);
  EXPECT_NE(output.find("list"), std::string::npos) << "the commands that would do: " << output;
}

TEST(KivUsage, BadTimeoutIsNamedInPlainWords) {
  for (const char* value : {"x", "0", "-5", "99999999999"}) {
    std::string output;
    EXPECT_EQ(kiv({"send", "--timeout", value, "undocked", "--type", "t"}, &output), 2) << value;
    EXPECT_NE(output.find("--timeout"), std::string::npos) << output;
    EXPECT_NE(output.find("2147483647"), std::string::npos) << "the range it takes: " << output;
    EXPECT_LT(output.size(), 300u) << output;
  }
}

}  // namespace
}  // namespace kivtooltest
