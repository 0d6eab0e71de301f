// Whether the address-change script may run as the host's user: the file it names must be
// as trustworthy as the host itself, or whoever can change the file gains the host's rights.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::notifier {

// The command line as it will be started: no shell reads it, so what it runs is its first
// word's file and nothing else.
struct ScriptCommand {
  // The file to start; empty when nothing by that name was found. On Windows the file the
  // system starts for the whole line.
  std::string program;
  // The command line's words, the program's own first. Empty on Windows, where the system
  // splits the line itself.
  std::vector<std::string> arguments;
  // Why it may not run, in a few words; empty when it may.
  std::string refusal;
};

// Reads the command line and checks it. It is refused when it needs a shell to mean
// anything, or when its program is not owned by root (or by the host's own user) or is
// writable by anyone else, or any directory on the way to it is, both as written and
// with links resolved. On Windows the line goes to the system whole, and it is refused when
// someone other than an administrator may change the file it starts or a folder above it.
ScriptCommand checkScriptCommand(std::string_view commandLine);

}  // namespace kiv::notifier
