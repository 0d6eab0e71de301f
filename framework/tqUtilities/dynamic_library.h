// Loading component modules as the system does it: file names, the separator of the
// directory list in KIV_MODULE_PATH, and opening, looking into and closing a library.
// Paths are UTF-8.
#pragma once

#include <string>

#include "TQTypes.h"

namespace kiv::factory {

// The file that holds the module called `name` ("libX.so" on Linux, "X.dll" on Windows).
std::string libraryFileName(const std::string& name);
// `directory` and `file` joined with the system's separator.
std::string joinPath(const std::string& directory, const std::string& file);
// The directory part of a path ("." for a bare file name).
std::string directoryOf(const std::string& path);
// The character between the directories of KIV_MODULE_PATH.
char pathListSeparator();
// True for a module name that names a file in a directory, never a path.
bool isPlainModuleName(const std::string& name);

// Null with *reason set when the library cannot be loaded.
HTQMODULE openLibrary(const std::string& path, std::string* reason);
// Null with *reason set when the library has no such symbol.
void* librarySymbol(HTQMODULE library, const char* name, std::string* reason);
void closeLibrary(HTQMODULE library);

}  // namespace kiv::factory
