// `kiv script run|check`: the address-change script ("ipchangescript") by hand, run and
// checked exactly as the host runs and checks it after an address change.
#include <cstdio>
#include <string>

#include "platform/address_list.h"
#include "platform/utf8.h"
#include "tools/kiv/commands.h"
#include "tqNotify/notifier/ChangeScript.h"
#ifdef _WIN32
#include "tqNotify/notifier/win/ScriptAccess.h"
#endif

namespace kiv::tool {
namespace {

using kiv::notifier::ScriptOutcome;

// Exit codes of both commands beside the script's own (documented in kiv(1)).
constexpr int kTimedOut = 124;
constexpr int kRefused = 125;
constexpr int kNotStarted = 126;
constexpr int kNotConfigured = 127;

int runScript() {
  kiv::notifier::ScriptEvent event{L"kiv script run", "manual", {}, {}, {}};
  if (auto addresses = kiv::platform::queryUsableAddresses()) event.addresses = std::move(*addresses);
  const auto run = kiv::notifier::runChangeScript(event, [](kiv::platform::OutputStream stream, const std::string& line) {
    std::fprintf(stream == kiv::platform::OutputStream::kStandardOutput ? stdout : stderr, "%s\n", line.c_str());
  });
  std::fflush(stdout);
  switch (run.outcome) {
    case ScriptOutcome::kNotConfigured:
      std::fprintf(stderr, "kiv script run: no \"ipchangescript\" is configured\n");
      return kNotConfigured;
    case ScriptOutcome::kRefused:
      std::fprintf(stderr, "kiv script run: the script was refused (kiv script check says why)\n");
      return kRefused;
    case ScriptOutcome::kNotStarted:
      std::fprintf(stderr, "kiv script run: the script could not be started (the trace log says why)\n");
      return kNotStarted;
    case ScriptOutcome::kTimedOut:
      std::fprintf(stderr, "kiv script run: the script ran past \"ipchangescripttimeout\" and was ended\n");
      return kTimedOut;
    case ScriptOutcome::kEnded:
      break;
  }
  if (run.signal != 0) {
    std::fprintf(stderr, "kiv script run: the script was ended by signal %d\n", run.signal);
    return 128 + run.signal;
  }
  return run.exitCode;
}

#ifdef _WIN32
// The file CreateProcessW starts for the command line, as the host's check finds it; the
// line's first word (quoted, or up to the first blank) names it when there is none.
std::string startedProgram(const std::wstring& commandLine, std::string* word) {
  const bool quoted = !commandLine.empty() && commandLine[0] == L'"';
  *word = kiv::utf::narrow(quoted ? commandLine.substr(1, commandLine.find(L'"', 1) - 1)
                                  : commandLine.substr(0, commandLine.find_first_of(L" \t")));
  return kiv::utf::narrow(kiv::notifier::programOfCommandLine(commandLine));
}
#endif

int checkScript() {
  const auto script = kiv::notifier::configuredScript();
  const std::string line = kiv::utf::narrow(script.commandLine);
  if (line.empty()) {
    std::printf("not run: no \"ipchangescript\" is configured\n");
    return kNotConfigured;
  }
  if (!script.command.refusal.empty()) {
    std::printf("not run: %s: %s\n", script.command.refusal.c_str(), line.c_str());
    return kRefused;
  }
#ifndef _WIN32
  const std::string& word = script.command.arguments.front();
  const std::string& program = script.command.program;
#else
  std::string word;
  const std::string program = startedProgram(script.commandLine, &word);
#endif
  if (program.empty()) {
    std::printf("not run: no program \"%s\" found: %s\n", word.c_str(), line.c_str());
    return kNotStarted;
  }
  std::printf("would run %s: %s\n", program.c_str(), line.c_str());
  return 0;
}

}  // namespace

void addScriptCommand(CLI::App& app, int& exitCode) {
  CLI::App* script = app.add_subcommand("script", "Run or check the address-change script (\"ipchangescript\")");
  script->require_subcommand(1);
  script->footer(
      "Exit codes: run exits with the script's own exit code (128+N when signal N ended it), or 124 when it "
      "ran past \"ipchangescripttimeout\" and was ended; both exit 125 when it is refused, 126 when it "
      "cannot be started, 127 when none is configured.");
  script->add_subcommand("run",
                         "Run the script once now as the host would after an address change, with "
                         "KIV_EVENT=manual; print its output; exit with its exit code")
      ->callback([&exitCode] { exitCode = runScript(); });
  script->add_subcommand("check", "Print whether the script would be run, and why not; exit 0 when it would")
      ->callback([&exitCode] { exitCode = checkScript(); });
}

}  // namespace kiv::tool
