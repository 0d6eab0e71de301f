// The narrow argv of a Windows program is in the ANSI code page and loses what that cannot
// show, so the arguments are taken from the wide command line instead. The socket library
// is started for the whole process: the module expects its host to have done so.
//
// A wide argument need not be valid UTF-16. A lone surrogate is kept as the three bytes
// that would encode its code point, which no UTF-8 decoder accepts: replacing it with
// U+FFFD instead would make different arguments equal ("bad" + U+D800 and "bad" + U+DC00
// naming one unit), where keeping it lets the command refuse the argument.
#include "tools/kiv/process_setup.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include "platform/utf8.h"

namespace kiv::tool {
namespace {

std::string argumentText(std::wstring_view wide) {
  std::string text;
  if (utf::toUtf8(wide, text)) return text;
  text.clear();
  for (std::size_t at = 0; at < wide.size();) {
    std::size_t used = 0;
    bool valid = true;
    const char32_t character = utf::readWide(wide.data() + at, wide.size() - at, &used, &valid);
    // Invalid here means a lone surrogate, which goes in as its own code point.
    utf::appendUtf8(text, valid ? character : static_cast<char16_t>(wide[at]));
    at += used;
  }
  return text;
}

}  // namespace

std::vector<std::string> prepareProcess(int argc, char** argv) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SetConsoleOutputCP(CP_UTF8);

  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(argumentText(wide[i]));
  LocalFree(wide);
  return arguments;
}

int currentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace kiv::tool
