// Runs the kiv program in the test's KIV_HOME.
#pragma once

#include <string>
#include <vector>

#include "support/kiv_test.h"
#include "support/run_program.h"

namespace kivtooltest {

// Runs `kiv ARGUMENTS`, each argument passed as it stands, and answers its exit code, with
// standard output and error in *output (Windows' CRLF line ends read as plain ones).
inline int kiv(std::vector<std::string> arguments, std::string* output = nullptr) {
  std::string text;
  arguments.insert(arguments.begin(), KIV_PROGRAM);
  const int code = kivtest::runProgram(arguments, &text);
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  if (output != nullptr) *output = text;
  return code;
}

}  // namespace kivtooltest
