// Component modules through the Windows loader (LoadLibraryW).
#include "framework/tqUtilities/dynamic_library.h"

#include <windows.h>

#include "platform/last_error.h"
#include "platform/utf8.h"

namespace kiv::factory {
namespace {

std::string systemMessage(DWORD error) {
  return utf::narrow(platform::errorText(static_cast<int>(error))) + " (error " +
         std::to_string(error) + ")";
}

}  // namespace

std::string libraryFileName(const std::string& name) { return name + ".dll"; }

std::string joinPath(const std::string& directory, const std::string& file) {
  if (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) {
    return directory + file;
  }
  return directory + "\\" + file;
}

std::string directoryOf(const std::string& path) {
  const auto separator = path.find_last_of("\\/");
  return separator == std::string::npos ? "." : path.substr(0, separator);
}

char pathListSeparator() { return ';'; }

bool isPlainModuleName(const std::string& name) {
  return !name.empty() && name.find_first_of("\\/:") == std::string::npos && name != "." &&
         name != "..";
}

HTQMODULE openLibrary(const std::string& path, std::string* reason) {
  // Dependencies of the module are looked for in its own folder first, as for a program.
  HMODULE handle = LoadLibraryExW(utf::widen(path).c_str(), nullptr,
                                  LOAD_WITH_ALTERED_SEARCH_PATH);
  if (handle == nullptr) *reason = path + ": " + systemMessage(GetLastError());
  return reinterpret_cast<HTQMODULE>(handle);
}

void* librarySymbol(HTQMODULE library, const char* name, std::string* reason) {
  FARPROC found = GetProcAddress(static_cast<HMODULE>(library), name);
  if (found == nullptr && reason != nullptr) {
    *reason = std::string("no ") + name + ": " + systemMessage(GetLastError());
  }
  return reinterpret_cast<void*>(found);
}

void closeLibrary(HTQMODULE library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace kiv::factory
