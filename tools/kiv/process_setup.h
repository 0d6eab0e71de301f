// What the kiv process needs before any command runs: its arguments as UTF-8 (the text
// every command works with) and, on Windows, the socket library and a console that shows
// UTF-8 output as such.
#pragma once

#include <string>
#include <vector>

namespace kiv::tool {

std::vector<std::string> prepareProcess(int argc, char** argv);

// This process's id as the system numbers processes (to tell our own endpoints from
// another host's).
int currentProcessId();

}  // namespace kiv::tool
