// Placeholder for `kiv units` until its issue lands.
#include "tools/kiv/commands.h"

namespace kiv::tool {

void addUnitsCommand(CLI::App& app, int& exitCode) {
  app.add_subcommand("units", "not available yet")->callback([&exitCode] { exitCode = 1; });
}

}  // namespace kiv::tool
