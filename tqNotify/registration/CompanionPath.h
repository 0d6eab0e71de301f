// Full paths of the companion programs, which live in the same directory as this module.
#pragma once

#include <string>

// The module's own path with everything after the last separator replaced by `fileName`. Empty
// when the module's path cannot be found: a bare file name in the registry would make the
// system look for the program in the wrong place.
std::wstring companionPath(const wchar_t* fileName);
