// Small helpers shared by the component tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

#include "platform/utf8.h"
#include "support/kiv_test.h"

namespace componenttest {

// UTF-8, whatever the system's code page.
inline std::string narrow(const wchar_t* text) { return kiv::utf::narrow(text); }

// Whether a component module is mapped into this process, asked without loading it.
inline bool moduleLoaded(const std::string& module) {
#ifdef _WIN32
  return GetModuleHandleA((module + ".dll").c_str()) != nullptr;
#else
  return kivtest::readFile("/proc/self/maps").find("lib" + module + ".so") != std::string::npos;
#endif
}

}  // namespace componenttest
