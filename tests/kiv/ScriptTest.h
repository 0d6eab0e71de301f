// What the tests of `kiv script run|check` share: the script's settings, set through the
// tool as an operator sets them, and each test starting with neither a script nor a time
// limit configured.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "kiv/KivTool.h"

namespace kivtooltest {

// Sets one value of the host's section, where the script's settings live.
inline void configure(const std::string& key, const std::string& value) {
  ASSERT_EQ(kiv({"config", "set", "dlox/common/kiv/general", key, value}), 0) << key;
}

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(configure("ipchangescript", ""));
    ASSERT_NO_FATAL_FAILURE(configure("ipchangescripttimeout", "0"));
  }
};

}  // namespace kivtooltest
