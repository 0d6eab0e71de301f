// The ownership and permission rules for the address-change script. The host runs it with
// its own rights (root when it runs as a service), so a script that another user can change,
// or that lies in a directory where another user can replace it, is not started.
#include "tqNotify/notifier/ScriptPolicy.h"

#include "platform/utf8.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kiv::notifier {
namespace {

bool endsWord(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' || c == '|' || c == '<' ||
         c == '>' || c == '(' || c == ')';
}

// Characters whose meaning in the first word depends on the shell's expansion: such a word
// cannot be checked before the shell has run.
bool expands(char c) { return c == '$' || c == '`' || c == '*' || c == '?' || c == '[' || c == '~'; }

#ifndef _WIN32

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

bool executableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return {};
  return std::string(cwd) + "/" + path;
}

#endif

}  // namespace

std::string firstWord(std::string_view commandLine) {
  std::size_t i = 0;
  while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
  std::string word;
  char quote = 0;
  for (; i < commandLine.size(); ++i) {
    const char c = commandLine[i];
    if (quote == '\'') {
      if (c == '\'') quote = 0; else word += c;
    } else if (quote == '"') {
      if (c == '"') quote = 0;
      else if (c == '$' || c == '`') return {};
      else if (c == '\\' && i + 1 < commandLine.size() &&
               std::string_view("$`\"\\").find(commandLine[i + 1]) != std::string_view::npos)
        word += commandLine[++i];
      else word += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '\\') {
      if (++i < commandLine.size()) word += commandLine[i];
    } else if (endsWord(c)) {
      break;
    } else if (expands(c)) {
      return {};
    } else {
      word += c;
    }
  }
  if (quote != 0) return {};
  // NAME=value before the command sets a variable; what follows is not checked here.
  if (const auto equals = word.find('='); equals != std::string::npos && word.find('/') > equals) return {};
  return word;
}

#ifndef _WIN32

std::string resolveCommand(const std::string& word, const std::string& searchPath) {
  if (word.empty()) return {};
  if (word.find('/') != std::string::npos) return executableFile(word) ? absolute(word) : std::string();
  std::size_t start = 0;
  for (;;) {
    const auto end = searchPath.find(':', start);
    std::string directory = searchPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (directory.empty()) directory = ".";
    const std::string candidate = directory + "/" + word;
    if (executableFile(candidate)) return absolute(candidate);
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

std::string scriptRefusal(std::string_view commandLine) {
  const std::string word = firstWord(commandLine);
  if (word.empty()) return "its first word is not a plain file name";
  const char* path = std::getenv("PATH");
  const std::string written = resolveCommand(word, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
  if (written.empty()) {
    // Nothing by that name can run now (a shell builtin, or a file that is missing or may
    // not be executed): the shell answers that itself, and that is traced as a failed start.
    // Where a path names it, the file must not be able to appear from another user's hand.
    return word.find('/') != std::string::npos ? untrustedAncestor(absolute(word)) : std::string();
  }
  if (auto why = untrustedAncestor(written); !why.empty()) return why;
  char real[PATH_MAX];
  if (realpath(written.c_str(), real) == nullptr) return written + " cannot be resolved";
  if (auto why = untrusted(real, false); !why.empty()) return why;
  return untrustedAncestor(real);
}

#else

// Windows guards the file through its access list; the host does not second-guess it.
std::string resolveCommand(const std::string& word, const std::string&) { return word; }
std::string scriptRefusal(std::string_view) { return {}; }

#endif

std::string scriptRefusal(std::wstring_view commandLine) { return scriptRefusal(kiv::utf::narrow(commandLine)); }

}  // namespace kiv::notifier
