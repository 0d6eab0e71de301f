// Runs of the address-change script; how its environment reaches it, how an overrunning
// one is ended and where else its lines go depend on the system (ChangeScriptSystem.h).
#include "tqNotify/notifier/ChangeScript.h"

#include <array>
#include <chrono>
#include <cwchar>

#include "ITQConfig.h"
#include "platform/utf8.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/notifier/ChangeScriptSystem.h"
#include "tqUtilities.h"

namespace kiv::notifier {
namespace {

using kiv::platform::OutputStream;

constexpr const wchar_t* kSource = L"tqNotify";
constexpr const wchar_t* kSection = L"dlox/common/kiv/general";
constexpr std::size_t kCommandLineCapacity = 4096;
// Trace a script's output may take per run, and what the tracer adds to each line (time,
// process and thread, source, level) beyond the message.
constexpr std::size_t kOutputBudget = 64 * 1024;
constexpr std::size_t kTracerPrefix = 64;
constexpr std::size_t kMaxLine = 4096;

std::string joined(const std::vector<std::string>& addresses) {
  std::string list;
  for (const auto& address : addresses) {
    if (!list.empty()) list += ' ';
    list += address;
  }
  return list;
}

// The configuration prepared for reading; null when it cannot be.
TQptr<ITQConfig> preparedConfig() {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), 2);
  if (config && config->prepare(0, 2) != 0) return TQptr<ITQConfig>();
  return config;
}

// A number, or decimal text as left by a value written as a string; 0 when unset or not
// a positive number.
uint32_t readPositive(ITQConfig* config, const wchar_t* key) {
  if (config == nullptr) return 0;
  int32_t number = 0;
  if (config->getNumber(kSection, key, &number, 0) == 0) return number > 0 ? static_cast<uint32_t>(number) : 0;
  wchar_t text[32] = {};
  uint32_t size = 32;
  if (config->getStringW(kSection, key, text, &size, 0) != 0) return 0;
  text[31] = L'\0';
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  return end != text && *end == L'\0' && value > 0 ? static_cast<uint32_t>(value) : 0;
}

const char* streamName(OutputStream stream) {
  return stream == OutputStream::kStandardOutput ? "stdout" : "stderr";
}

// Traces, logs and echoes the lines of one running script.
class RunTrace {
 public:
  RunTrace(const ScriptEvent& event, int pid, const ScriptOutput::LineSink& echo)
      : event_(event), pid_(pid), echo_(echo) {}

  void line(OutputStream stream, const std::string& text) {
    TQUtilities_TraceExW(kSource, 0, L"%s: ipchangescript (pid %d) %hs: %hs", event_.function, pid_,
                         streamName(stream), text.c_str());
    logScriptLine(pid_, streamName(stream), text);
    if (echo_) echo_(stream, text);
  }
  // What each traced line costs of the budget beyond its text.
  std::size_t overhead() const {
    return std::wcslen(event_.function) + std::to_string(pid_).size() + 32 + kTracerPrefix;
  }
  void end(const ScriptRun& run, uint64_t dropped, std::chrono::steady_clock::duration ran) {
    if (dropped > 0) {
      TQUtilities_TraceExW(kSource, 0, L"%s: ipchangescript (pid %d): %hs more bytes of output dropped",
                           event_.function, pid_, std::to_string(dropped).c_str());
    }
    const std::string how =
        run.signal != 0 ? "signal " + std::to_string(run.signal) : "exit " + std::to_string(run.exitCode);
    const auto ms = static_cast<unsigned>(std::chrono::duration_cast<std::chrono::milliseconds>(ran).count());
    TQUtilities_TraceExW(kSource, 0, L"%s: ipchangescript (pid %d) ended: %hs after %u ms", event_.function, pid_,
                         how.c_str(), ms);
    logScriptLine(pid_, "end", "ended: " + how + " after " + std::to_string(ms) + " ms");
  }

 private:
  const ScriptEvent& event_;
  int pid_;
  const ScriptOutput::LineSink& echo_;
};

// Waits for the started script, reading its output, and ends it at its time limit.
ScriptRun waitForScript(kiv::platform::Process& script, const ScriptEvent& event, const wchar_t* commandLine,
                        uint32_t timeoutSeconds, const ScriptOutput::LineSink& echo) {
  using namespace kiv::platform;
  const auto started = std::chrono::steady_clock::now();
  RunTrace trace(event, script.pid(), echo);
  ScriptOutput output(kOutputBudget, trace.overhead(), kMaxLine,
                      [&](OutputStream stream, const std::string& text) { trace.line(stream, text); });
  const OutputReceiver receiver = [&](OutputStream stream, std::string_view bytes) { output.take(stream, bytes); };

  const auto deadline = started + std::chrono::seconds(timeoutSeconds);
  // What is left of the time limit, in milliseconds; kInfinite without one.
  const auto remainingMs = [&]() -> uint32_t {
    if (timeoutSeconds == 0) return kInfinite;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint32_t>(left.count()) : 0;
  };
  ScriptRun run;
  run.outcome = ScriptOutcome::kEnded;
  uint32_t result = script.waitReading(remainingMs(), receiver);
  // Should reading fail, the time limit still holds for the plain wait that replaces it.
  if (result == kWaitFailed) result = script.wait(remainingMs());
  if (result == kWaitTimeout) {
    endScriptGroup(script, receiver);
    TQUtilities_TraceErrorW(kSource, L"%s: ipchangescript still ran after %u s; its process group was ended: %s",
                            event.function, timeoutSeconds, commandLine);
    run.outcome = ScriptOutcome::kTimedOut;
    result = script.waitReading(kInfinite, receiver);
  }
  if (result != kWaitObject0) script.wait(kInfinite);
  output.finish();
  run.exitCode = script.exitCode();
  run.signal = script.exitSignal();
  trace.end(run, output.dropped(), std::chrono::steady_clock::now() - started);
  return run;
}

}  // namespace

ConfiguredScript configuredScript() {
  ConfiguredScript script;
  const TQptr<ITQConfig> config = preparedConfig();
  if (!config) return script;
  std::array<wchar_t, kCommandLineCapacity> commandLine{};
  uint32_t size = kCommandLineCapacity;
  script.timeoutSeconds = readPositive(config.get(), L"ipchangescripttimeout");
  config->getStringW(kSection, L"ipchangescript", commandLine.data(), &size, 0);
  commandLine.back() = L'\0';  // a store that filled the buffer to the end left no terminator
  script.commandLine = commandLine.data();
  if (!script.commandLine.empty()) script.command = checkScriptCommand(kiv::utf::narrow(script.commandLine));
  return script;
}

bool changeScriptRunsOnStart() { return readPositive(preparedConfig().get(), L"ipchangescriptonstart") == 1; }

ScriptRun runChangeScript(const ScriptEvent& event, const ScriptOutput::LineSink& echo) {
  const ConfiguredScript script = configuredScript();
  ScriptRun run;
  if (script.commandLine.empty()) return run;
  const wchar_t* commandLine = script.commandLine.c_str();
  // A script that someone other than root could change is not run with the host's rights.
  if (!script.command.refusal.empty()) {
    TQUtilities_TraceErrorW(kSource, L"%s: ipchangescript not run: %hs: %s", event.function,
                            script.command.refusal.c_str(), commandLine);
    run.outcome = ScriptOutcome::kRefused;
    return run;
  }
  if (event.name == "address-change") {
    TQUtilities_TraceExW(kSource, 0, L"%s: ip change detected: executing ipchangescript: %s", event.function,
                         commandLine);
  } else {
    TQUtilities_TraceExW(kSource, 0, L"%s: %hs: executing ipchangescript: %s", event.function, event.name.c_str(),
                         commandLine);
  }
  const ScriptVariables variables = {{"KIV_EVENT", event.name},
                                     {"KIV_ADDRESSES", joined(event.addresses)},
                                     {"KIV_ADDED", joined(event.added)},
                                     {"KIV_REMOVED", joined(event.removed)}};
  auto process = startWithEnvironment(script.command, script.commandLine, variables);
  if (!process) {
    TQUtilities_TraceLastSystemErrorW(kSource, L"failed to execute ipchangescript", commandLine, 0);
    run.outcome = ScriptOutcome::kNotStarted;
    return run;
  }
  return waitForScript(*process, event, commandLine, script.timeoutSeconds, echo);
}

}  // namespace kiv::notifier
