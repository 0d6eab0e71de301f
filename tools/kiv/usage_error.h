// Usage errors of the kiv command line, reported with the word that was wrong.
#pragma once

#include <CLI/CLI.hpp>

namespace kiv::tool {

// Prints what was wrong with the command line and answers the exit code: 0 for --help and
// --version, 2 for a usage error.
int reportParseError(CLI::App& app, const CLI::ParseError& error);

}  // namespace kiv::tool
