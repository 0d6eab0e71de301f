// Command lines read the way the shell reads one simple command, but without a shell:
// split into words with its quoting rules, nothing expanded, the program found on PATH.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::platform {

struct CommandWords {
  // The words with quotes and backslashes undone; the program's word first.
  std::vector<std::string> words;
  // Empty when `words` is all the line means; else what in it only a shell understands
  // (an operator, a redirection, an expansion, a comment, a newline, a keyword or
  // builtin), in a few words.
  std::string needsShell;
};

CommandWords splitCommandLine(std::string_view commandLine);

// The file the program word names: the word itself when it holds a '/', else the first
// executable regular file of that name in the directories of `searchPath` (an empty entry
// is the current directory). Empty when there is none.
std::string findProgram(const std::string& word, const std::string& searchPath);
// PATH, or the shell's own default where it is unset.
std::string programSearchPath();

}  // namespace kiv::platform
