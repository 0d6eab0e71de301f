// Windows programs started by a test: the command line, with each argument quoted so that
// CommandLineToArgvW, and so the C runtime, gives it back exactly, and the start itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kivtest {

// Arguments are UTF-8, where ED A0..BF xx (a surrogate code point) stands for that lone
// UTF-16 unit; see run_program.h.
std::wstring windowsCommandLine(const std::vector<std::string>& argv);
std::wstring widenArgument(const std::string& text);

// Starts argv[0] with the given standard handles, which must be inheritable; false when it
// could not be started.
bool startProgram(const std::vector<std::string>& argv, HANDLE input, HANDLE output, HANDLE error,
                  DWORD creationFlags, PROCESS_INFORMATION* process);

}  // namespace kivtest
