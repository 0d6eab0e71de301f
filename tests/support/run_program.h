// Runs a program with exact arguments, no shell in between, so a test's arguments reach it
// unchanged on either system (quotes, backslashes and bytes that are no valid text included).
#pragma once

#include <string>
#include <vector>

namespace kivtest {

// Runs argv[0] with the arguments that follow and waits for it; its exit code, or -1 when it
// could not start or did not end normally. Standard output and error go to *output together.
// On Windows the arguments are UTF-8 with one extension: a surrogate code point encoded as
// three bytes (ED A0..BF xx) stands for that lone UTF-16 unit, so tests can hand a program
// wide text that is not valid.
int runProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

}  // namespace kivtest
