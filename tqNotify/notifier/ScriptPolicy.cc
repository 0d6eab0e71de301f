// The ownership and permission rules for the address-change script. The host runs it with
// its own rights (root when it runs as a service), so a script that another user can change,
// or that lies in a directory where another user can replace it, is not started.
#include "tqNotify/notifier/ScriptPolicy.h"

#include <cerrno>
#include <string>

#ifndef _WIN32
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/command_line.h"
#else
#include "platform/utf8.h"
#include "tqNotify/notifier/win/ScriptAccess.h"
#endif

namespace kiv::notifier {

#ifndef _WIN32

namespace {

std::string describeOwner(const std::string& path, const struct stat& info, bool directory) {
  return std::string(directory ? "directory " : "") + path + " is owned by user " +
         std::to_string(info.st_uid) + ", not by root";
}

// Why `path` (a file, or a directory on the way to it) is not trustworthy; empty when it is.
std::string untrusted(const std::string& path, bool directory) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    // A directory that is not there can only be made by whoever may write the one above
    // it, which is checked next; the start then fails and is traced as such.
    if (directory && (errno == ENOENT || errno == ENOTDIR)) return {};
    return path + " cannot be examined";
  }
  if (info.st_uid != 0 && info.st_uid != geteuid()) return describeOwner(path, info, directory);
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::string(directory ? "directory " : "") + path + " is writable by group or others";
  }
  return {};
}

// Checks every directory above `path`, from its parent up to "/".
std::string untrustedAncestor(const std::string& path) {
  std::string directory = path;
  for (;;) {
    const auto slash = directory.find_last_of('/');
    if (slash == std::string::npos) return {};
    directory.resize(slash == 0 ? 1 : slash);
    if (auto why = untrusted(directory, true); !why.empty()) return why;
    if (directory == "/") return {};
  }
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return {};
  return std::string(cwd) + "/" + path;
}

// Why the file that will be started is not trustworthy; empty when it is, or when there is
// no such file (the start then fails and says so).
std::string programRefusal(const std::string& program) {
  if (program.empty()) return {};
  const std::string written = absolute(program);
  if (auto why = untrustedAncestor(written); !why.empty()) return why;
  struct stat link {};
  if (lstat(written.c_str(), &link) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? std::string() : written + " cannot be examined";
  }
  // A link whose target is missing would run whatever appears there later.
  char real[PATH_MAX];
  if (realpath(written.c_str(), real) == nullptr) return written + " cannot be resolved";
  if (auto why = untrusted(real, false); !why.empty()) return why;
  return untrustedAncestor(real);
}

}  // namespace

ScriptCommand checkScriptCommand(std::string_view commandLine) {
  auto [words, needsShell] = kiv::platform::splitCommandLine(commandLine);
  ScriptCommand command;
  if (!needsShell.empty()) {
    command.refusal = "it needs a shell for " + needsShell + "; put the command in a script file";
  } else if (words.empty()) {
    command.refusal = "it names no program";
  } else {
    command.program = kiv::platform::findProgram(words[0], kiv::platform::programSearchPath());
    command.refusal = programRefusal(command.program);
    command.arguments = std::move(words);
  }
  return command;
}

#else

// The system splits and starts the line itself; the file it will start is found as it
// finds it, and that file is checked on its access lists. When there is none, the start
// fails and says so.
ScriptCommand checkScriptCommand(std::string_view commandLine) {
  ScriptCommand command;
  const std::wstring program = programOfCommandLine(kiv::utf::widen(commandLine));
  if (program.empty()) return command;
  command.program = kiv::utf::narrow(program);
  command.refusal = programAccessRefusal(program);
  return command;
}

#endif

}  // namespace kiv::notifier
