// kiv: the plug-in host and the tools that agent components and operators use.
#include <cstdio>

#include "tools/kiv/commands.h"
#include "tools/kiv/process_setup.h"
#include "tools/kiv/usage_error.h"

int main(int argc, char** argv) {
  CLI::App app{"KIV agent notifier: plug-in host and tools"};
  app.set_version_flag("--version", std::string("kiv ") + KIV_VERSION);
  app.require_subcommand(1);
  app.footer("Exit status: 0 success; 1 failure; 2 usage error; 3, 4, 5 kiv send: refused, nothing "
             "listens, no answer in time; 5 kiv units: no such unit; 6 the configuration store is "
             "damaged or cannot be used. See kiv(1).");
  // Options are "--name" on every system: a value that begins with "/" (a path, say) stays a
  // value on Windows too. Subcommands take this from the app when they are added.
  app.allow_windows_style_options(false);

  int exitCode = 0;
  kiv::tool::addHostCommand(app, exitCode);
  kiv::tool::addSendCommand(app, exitCode);
  kiv::tool::addUnitsCommand(app, exitCode);
  kiv::tool::addConfigCommand(app, exitCode);
  kiv::tool::addRegistryCommand(app, exitCode);
  kiv::tool::addScriptCommand(app, exitCode);
#ifdef _WIN32
  kiv::tool::addServiceCommand(app, exitCode);
#endif

  std::vector<std::string> arguments = kiv::tool::prepareProcess(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    return kiv::tool::reportParseError(app, e);
  }
  return exitCode;
}
