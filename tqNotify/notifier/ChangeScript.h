// Running the address-change script: the configured command line, its checks, its
// environment, its output read into the trace, its time limit and how it ended. The host's
// monitor and `kiv script run` both run it through here, so a run by hand is the same run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tqNotify/notifier/ScriptOutput.h"
#include "tqNotify/notifier/ScriptPolicy.h"

namespace kiv::notifier {

// What the script is told: KIV_EVENT, and the addresses as KIV_ADDRESSES, KIV_ADDED and
// KIV_REMOVED (space-separated).
struct ScriptEvent {
  const wchar_t* function;  // who runs it, for the trace
  std::string name;
  std::vector<std::string> addresses;
  std::vector<std::string> added;
  std::vector<std::string> removed;
};

enum class ScriptOutcome { kNotConfigured, kRefused, kNotStarted, kEnded, kTimedOut };

struct ScriptRun {
  ScriptOutcome outcome = ScriptOutcome::kNotConfigured;
  int exitCode = -1;  // when it ended by itself with an exit code
  int signal = 0;     // when a signal ended it
};

// The configured command line ("ipchangescript") as checked before a run, and its limit
// in seconds ("ipchangescripttimeout", 0 when there is none), read together; an empty line
// when none is configured or the configuration cannot be read.
struct ConfiguredScript {
  std::wstring commandLine;
  ScriptCommand command;
  uint32_t timeoutSeconds = 0;
};
ConfiguredScript configuredScript();

// Whether "ipchangescriptonstart" asks for a run after start-up.
bool changeScriptRunsOnStart();

// Runs the configured script once for `event` and waits for it. Each line it writes is
// traced with its pid (and handed to `echo` when given), up to 64 KiB of trace per run; its
// end is traced with its exit code or signal and how long it ran. Past its time limit it is
// ended together with what it started.
ScriptRun runChangeScript(const ScriptEvent& event, const ScriptOutput::LineSink& echo = {});

}  // namespace kiv::notifier
