// Placeholder for `kiv host` until its issue lands.
#include "tools/kiv/commands.h"

namespace kiv::tool {

void addHostCommand(CLI::App& app, int& exitCode) {
  app.add_subcommand("host", "not available yet")->callback([&exitCode] { exitCode = 1; });
}

}  // namespace kiv::tool
