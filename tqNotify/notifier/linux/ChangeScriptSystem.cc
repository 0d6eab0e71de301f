// The command line runs through /bin/sh -c, so the environment is set by the shell itself:
// no other thread of the host sees its environment change. The script leads a process
// group of its own, which signals end as a whole.
#include "tqNotify/notifier/ChangeScriptSystem.h"

#include <signal.h>

#include <cerrno>

#include <cstdint>

namespace kiv::notifier {
namespace {

// The shell's exit codes for a command it could not find and one it could not execute.
constexpr int kShellCommandNotFound = 127;
constexpr int kShellCommandNotExecutable = 126;

// How long an ended script's group gets to exit on SIGTERM before SIGKILL.
constexpr uint32_t kGraceMs = 2000;

// Single-quoted for the shell, whatever the text holds.
std::wstring shellQuoted(const std::wstring& text) {
  std::wstring quoted = L"'";
  for (wchar_t c : text) {
    if (c == L'\'') quoted += L"'\\''"; else quoted += c;
  }
  return quoted + L"'";
}

}  // namespace

std::wstring commandWithEnvironment(std::wstring_view commandLine, const std::wstring& addresses) {
  return L"export KIV_EVENT=address-change KIV_ADDRESSES=" + shellQuoted(addresses) + L"\n" +
         std::wstring(commandLine);
}

bool startRefused(int exitCode) {
  if (exitCode != kShellCommandNotFound && exitCode != kShellCommandNotExecutable) return false;
  errno = exitCode == kShellCommandNotFound ? ENOENT : EACCES;
  return true;
}

bool canEndScriptGroup() { return true; }

// Until the script is reaped its pid cannot be reused, so both signals reach only the script
// and what it started.
void endScriptGroup(kiv::platform::Process& script) {
  killpg(script.pid(), SIGTERM);
  kiv::platform::waitOne(script.handle(), kGraceMs);
  killpg(script.pid(), SIGKILL);
}

}  // namespace kiv::notifier
