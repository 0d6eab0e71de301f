// `kiv script run|check`: the address-change script ("ipchangescript") by hand, run and
// checked exactly as the host runs and checks it after an address change.
#include <cstdio>
#include <string>

#include "platform/address_list.h"
#include "platform/utf8.h"
#include "tools/kiv/commands.h"
#include "tqNotify/notifier/ChangeScript.h"

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
  const std::string& program = script.command.program;
  if (program.empty()) {
    // Only where the host splits the line itself does it know which word names the program.
    const auto& words = script.command.arguments;
    const std::string named = words.empty() ? std::string() : " \"" + words.front() + "\"";
    std::printf("not run: no program%s found: %s\n", named.c_str(), line.c_str());
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
