// Runs the kiv program in the test's KIV_HOME.
#pragma once

#include <string>

#include "support/kiv_test.h"

namespace kivtooltest {

// Runs `kiv ARGUMENTS` (shell syntax) and answers its exit code, with standard output and
// error in *output.
inline int kiv(const std::string& arguments, std::string* output = nullptr) {
  std::string ignored;
  return kivtest::run(kivtest::binDir() + "/kiv " + arguments + " 2>&1",
                      output != nullptr ? output : &ignored);
}

}  // namespace kivtooltest
