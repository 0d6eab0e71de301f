// The script is started directly with the words of its command line, and the variables go
// into its own environment only: no other thread of the host sees its environment change.
// The script leads a process group of its own, which signals end as a whole.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <signal.h>
#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace kiv::notifier {
namespace {

// How long an ended script's group gets to exit on SIGTERM before SIGKILL.
constexpr uint32_t kGraceMs = 2000;

// systemd gives every service an invocation id; only then is there a journal that wants
// the fields.
bool journalWanted() {
  static const bool wanted = [] {
    const char* id = std::getenv("INVOCATION_ID");
    return id != nullptr && *id != '\0';
  }();
  return wanted;
}

}  // namespace

std::unique_ptr<kiv::platform::Process> startWithEnvironment(const ScriptCommand& command, std::wstring_view,
                                                             const ScriptVariables& variables) {
  if (command.program.empty()) {
    errno = ENOENT;  // nothing by that name on PATH, as the shell would have said
    return nullptr;
  }
  std::vector<std::string> environment;
  for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
  return kiv::platform::Process::startReading(command.program, command.arguments, environment);
}

// The script is left unreaped until both signals have gone: while it is a zombie its pid,
// and so its group's id, cannot be taken by anyone else, so both signals reach only the
// script and what it started. A script that traps SIGTERM and writes on its way out is read
// meanwhile, or it would sit on a full pipe until SIGKILL.
void endScriptGroup(kiv::platform::Process& script, const kiv::platform::OutputReceiver& receiver) {
  killpg(script.pid(), SIGTERM);
  script.waitReadingUnreaped(kGraceMs, receiver);
  killpg(script.pid(), SIGKILL);
}

// A journal that is gone must not stop the script's run: the result is not looked at.
void logScriptLine(int pid, const char* stream, const std::string& message) {
  if (!journalWanted()) return;
  sd_journal_send("MESSAGE=ipchangescript (pid %d) %s: %s", pid, stream, message.c_str(), "PRIORITY=%d",
                  std::string_view(stream) == "stderr" ? LOG_WARNING : LOG_INFO, "KIV_SCRIPT_PID=%d", pid, "KIV_SCRIPT_STREAM=%s",
                  stream, nullptr);
}

}  // namespace kiv::notifier
