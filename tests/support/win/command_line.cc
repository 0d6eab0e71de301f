#include "support/win/command_line.h"

#include "platform/utf8.h"

namespace kivtest {
namespace {

// A lone surrogate written the way UTF-8 would write the code point, which a strict
// decoder refuses; answers 0 when `text` does not start with one.
wchar_t surrogateAt(const std::string& text, size_t at) {
  if (at + 2 >= text.size()) return 0;
  const auto first = static_cast<unsigned char>(text[at]);
  const auto second = static_cast<unsigned char>(text[at + 1]);
  const auto third = static_cast<unsigned char>(text[at + 2]);
  if (first != 0xED || second < 0xA0 || second > 0xBF || (third & 0xC0) != 0x80) return 0;
  return static_cast<wchar_t>(0xD000 | ((second & 0x3F) << 6) | (third & 0x3F));
}

}  // namespace

std::wstring widenArgument(const std::string& text) {
  std::wstring wide;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    const wchar_t lone = at < text.size() ? surrogateAt(text, at) : 0;
    if (at < text.size() && lone == 0) continue;
    wide += kiv::utf::widen(std::string_view(text).substr(start, at - start));
    if (lone == 0) break;
    wide += lone;
    at += 2;
    start = at + 1;
  }
  return wide;
}

// Backslashes are literal except before a quote, where they are doubled; the argument is
// quoted whenever it is empty or holds a space, tab or quote.
std::wstring windowsCommandLine(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const std::string& argument : argv) {
    const std::wstring wide = widenArgument(argument);
    if (!line.empty()) line += L' ';
    if (!wide.empty() && wide.find_first_of(L" \t\"") == std::wstring::npos) {
      line += wide;
      continue;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : wide) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
  }
  return line;
}

bool startProgram(const std::vector<std::string>& argv, HANDLE input, HANDLE output, HANDLE error,
                  DWORD creationFlags, PROCESS_INFORMATION* process) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  std::wstring commandLine = windowsCommandLine(argv);
  return CreateProcessW(widenArgument(argv[0]).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        creationFlags, nullptr, nullptr, &startup, process) != 0;
}

}  // namespace kivtest
