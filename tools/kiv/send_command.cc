// Placeholder for `kiv send` until its issue lands.
#include "tools/kiv/commands.h"

namespace kiv::tool {

void addSendCommand(CLI::App& app, int& exitCode) {
  app.add_subcommand("send", "not available yet")->callback([&exitCode] { exitCode = 1; });
}

}  // namespace kiv::tool
