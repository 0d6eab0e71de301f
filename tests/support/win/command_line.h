// The command line of a Windows program started by a test: each argument quoted so that
// CommandLineToArgvW, and so the C runtime, gives it back exactly.
#pragma once

#include <string>
#include <vector>

namespace kivtest {

// Arguments are UTF-8, where ED A0..BF xx (a surrogate code point) stands for that lone
// UTF-16 unit; see run_program.h.
std::wstring windowsCommandLine(const std::vector<std::string>& argv);
std::wstring widenArgument(const std::string& text);

}  // namespace kivtest
