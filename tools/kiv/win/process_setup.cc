// The narrow argv of a Windows program is in the ANSI code page and loses what that cannot
// show, so the arguments are taken from the wide command line instead. The socket library
// is started for the whole process: the module expects its host to have done so.
#include "tools/kiv/process_setup.h"

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include "platform/utf8.h"

namespace kiv::tool {

std::vector<std::string> prepareProcess(int argc, char** argv) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SetConsoleOutputCP(CP_UTF8);

  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(utf::narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

int currentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace kiv::tool
