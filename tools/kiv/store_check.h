// Whether the configuration store can be used, found out before a command works on it: to
// the units and configuration functions a damaged store reads like an empty one.
#pragma once

#include <string>

namespace kiv::tool {

// The exit code of a command that finds the configuration store damaged or unusable.
constexpr int kStoreUnusable = 6;

// Empty when config.db can be used or does not exist yet (it is then created); otherwise
// what is wrong, naming the file and SQLite's reason.
std::string configStoreProblem();

// Prints the problem under the command's name and traces it; true when there was one.
bool reportStoreProblem(const char* command);

}  // namespace kiv::tool
