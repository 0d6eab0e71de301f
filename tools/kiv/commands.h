// The subcommands of `kiv`. Each adds itself to the application; the callback it installs
// stores the exit code in `exitCode`.
#pragma once

#include <CLI/CLI.hpp>

namespace kiv::tool {

void addHostCommand(CLI::App& app, int& exitCode);
void addSendCommand(CLI::App& app, int& exitCode);
void addUnitsCommand(CLI::App& app, int& exitCode);
void addConfigCommand(CLI::App& app, int& exitCode);
void addRegistryCommand(CLI::App& app, int& exitCode);
void addScriptCommand(CLI::App& app, int& exitCode);
#ifdef _WIN32
// Also adds `registry unregister`, so it comes after addRegistryCommand.
void addServiceCommand(CLI::App& app, int& exitCode);
#endif

}  // namespace kiv::tool
