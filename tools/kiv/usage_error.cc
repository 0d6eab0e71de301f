// Usage errors of the kiv command line. CLI11 answers a command line that stops at a
// command group ("kiv units") or goes on with a word nobody takes ("kiv units bogus",
// "kiv --bogus") with the same bare "A subcommand is required"; the operator needs to know
// which word was wrong and which commands would do.
#include "tools/kiv/usage_error.h"

#include <cstdio>
#include <string>

namespace kiv::tool {
namespace {

// The command the command line got to: the deepest one given.
const CLI::App* reached(const CLI::App& app) {
  const CLI::App* at = &app;
  for (auto given = at->get_subcommands(); !given.empty(); given = at->get_subcommands()) at = given.front();
  return at;
}

std::string commandPath(const CLI::App* command) {
  std::string path;
  for (; command->get_parent() != nullptr; command = command->get_parent()) path = " " + command->get_name() + path;
  return "kiv" + path;
}

std::string commandNames(const CLI::App* command) {
  std::string names;
  for (const CLI::App* sub : command->get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return names;
}

}  // namespace

int reportParseError(CLI::App& app, const CLI::ParseError& error) {
  const CLI::App* command = reached(app);
  const bool commandMissing = error.get_name() == "RequiredError" && command->get_require_subcommand_min() > 0;
  if (!commandMissing) return app.exit(error) == 0 ? 0 : 2;
  const std::vector<std::string> unknown = app.remaining(true);
  const std::string path = commandPath(command);
  if (unknown.empty()) {
    std::fprintf(stderr, "%s: a command is required: %s\n", path.c_str(), commandNames(command).c_str());
  } else {
    const std::string& word = unknown.front();
    std::fprintf(stderr, "%s: unknown %s '%s' (commands: %s)\n", path.c_str(),
                 word.starts_with('-') ? "option" : "command", word.c_str(), commandNames(command).c_str());
  }
  std::fprintf(stderr, "Run with --help for more information.\n");
  return 2;
}

}  // namespace kiv::tool
