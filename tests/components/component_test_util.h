// Small helpers shared by the component tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>

#include "TQOSServices.h"
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

// The sessions an enumerator lists, number to connection state; an entry it refuses to
// give fails the test, naming its index.
inline std::map<uint32_t, int> listedSessions(TQOSTSEnum* sessions) {
  std::map<uint32_t, int> found;
  for (uint32_t i = 0; i < sessions->count(); ++i) {
    uint32_t number = 0;
    int state = -1;
    if (sessions->getSession(i, &number, 0, &state) != 0) {
      ADD_FAILURE() << "session entry " << i << " refused";
      continue;
    }
    found[number] = state;
  }
  return found;
}

}  // namespace componenttest
