// Placeholder for `kiv config` until its issue lands.
#include "tools/kiv/commands.h"

namespace kiv::tool {

void addConfigCommand(CLI::App& app, int& exitCode) {
  app.add_subcommand("config", "not available yet")->callback([&exitCode] { exitCode = 1; });
}

}  // namespace kiv::tool
