// Splitting a command line into words by the shell's quoting rules. Anything whose meaning
// needs a shell is reported instead of guessed at: the words are started directly, so
// nothing may hide a second command or a file name that only a shell would work out.
#include "platform/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

namespace kiv::platform {
namespace {

// Words a shell would run itself, not as a file: its reserved words and the builtins that
// have no program of their own on the system. Several of them run their argument.
constexpr std::array kShellWords{
    "!",       "{",       "}",       "[[",      "]]",      "case",    "do",       "done",    "elif",
    "else",    "esac",    "fi",      "for",     "function", "if",     "in",       "select",  "then",
    "until",   "while",   "coproc",  ".",       ":",       "alias",   "bg",       "bind",    "break",
    "builtin", "caller",  "cd",      "command", "compgen", "complete", "continue", "declare", "dirs",
    "disown",  "enable",  "eval",    "exec",    "exit",    "export",  "fc",       "fg",      "getopts",
    "hash",    "history", "jobs",    "let",     "local",   "logout",  "mapfile",  "popd",    "pushd",
    "read",    "readarray", "readonly", "return", "set",   "shift",   "shopt",    "source",  "suspend",
    "times",   "trap",    "type",    "typeset", "ulimit",  "umask",   "unalias",  "unset",   "wait"};

bool isShellWord(const std::string& word) {
  for (const char* shellWord : kShellWords)
    if (word == shellWord) return true;
  return false;
}

// NAME=value in front of a command sets a variable for it.
bool isAssignment(const std::string& word) {
  const auto equals = word.find('=');
  if (equals == 0 || equals == std::string::npos) return false;
  for (std::size_t i = 0; i < equals; ++i) {
    const char c = word[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

std::string quoted(char c) { return std::string("'") + c + "'"; }

// Reads the line word by word; stops at the first thing that needs a shell.
class Splitter {
 public:
  explicit Splitter(std::string_view line) : line_(line) {}

  CommandWords run() {
    if (line_.find_first_of("\r\n") != std::string_view::npos) refuse("a newline");
    for (i_ = 0; i_ < line_.size() && result_.needsShell.empty(); ++i_) step(line_[i_]);
    if (result_.needsShell.empty() && quote_ != 0) refuse("an unclosed quote");
    if (result_.needsShell.empty()) endWord();
    if (result_.needsShell.empty() && !result_.words.empty()) {
      const std::string& program = result_.words[0];
      if (isShellWord(program)) refuse("the shell's own '" + program + "'");
      else if (isAssignment(program)) refuse("a variable assignment");
    }
    if (!result_.needsShell.empty()) result_.words.clear();
    return std::move(result_);
  }

 private:
  void step(char c) {
    if (quote_ == '\'') {
      if (c == '\'') quote_ = 0; else add(c);
      return;
    }
    if (quote_ == '"') return inDoubleQuotes(c);
    switch (c) {
      case ' ': case '\t': return endWord();
      case '\'': case '"': quote_ = c; started_ = true; return;
      case '\\': return i_ + 1 < line_.size() ? add(line_[++i_]) : add(c);
      case ';': case '&': case '|': case '(': case ')': return refuse("the operator " + quoted(c));
      case '<': case '>': return refuse("a redirection");
      case '$': case '`': return refuse("an expansion (" + quoted(c) + ")");
      case '*': case '?': case '[': return refuse("a file name pattern (" + quoted(c) + ")");
      case '#': return started_ ? add(c) : refuse("a comment");
      case '~': return started_ ? add(c) : refuse("a home directory ('~')");
      default: return add(c);
    }
  }

  // Inside double quotes only the backslash before $ ` " \ escapes; $ and ` still expand.
  void inDoubleQuotes(char c) {
    if (c == '"') {
      quote_ = 0;
    } else if (c == '$' || c == '`') {
      refuse("an expansion (" + quoted(c) + ")");
    } else if (c == '\\' && i_ + 1 < line_.size() && std::string_view("$`\"\\").find(line_[i_ + 1]) != std::string_view::npos) {
      add(line_[++i_]);
    } else {
      add(c);
    }
  }

  void add(char c) {
    word_ += c;
    started_ = true;
  }
  void endWord() {
    if (started_) result_.words.push_back(std::move(word_));
    word_.clear();
    started_ = false;
  }
  void refuse(std::string what) { result_.needsShell = std::move(what); }

  std::string_view line_;
  std::size_t i_ = 0;
  char quote_ = 0;
  bool started_ = false;  // a word has begun, if only with empty quotes
  std::string word_;
  CommandWords result_;
};

bool executableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

CommandWords splitCommandLine(std::string_view commandLine) { return Splitter(commandLine).run(); }

std::string findProgram(const std::string& word, const std::string& searchPath) {
  if (word.empty()) return {};
  if (word.find('/') != std::string::npos) return word;
  std::size_t start = 0;
  for (;;) {
    const auto end = searchPath.find(':', start);
    std::string directory = searchPath.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (directory.empty()) directory = ".";
    const std::string candidate = directory + "/" + word;
    if (executableFile(candidate)) return candidate;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

std::string programSearchPath() {
  const char* path = std::getenv("PATH");
  return path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
}

}  // namespace kiv::platform
