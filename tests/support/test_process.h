// What the test support does differently per system: the temporary home, environment
// changes, running a command and the process's own start-up.
#pragma once

#include <string>

namespace kivtest {

// Starts what every test process needs before the first test (the socket library on
// Windows, as a hosting process would).
void prepareTestProcess();
// A new, empty directory in the system's temporary folder; empty with *error set on failure.
std::string makeTemporaryDirectory(std::string* error);
// Sets a variable of this process's environment; `overwrite` false keeps a value already set.
void setEnvironment(const char* name, const char* value, bool overwrite);
// Removes a variable from this process's environment.
void unsetEnvironment(const char* name);
// The whole path of the running program, for running it again.
std::string ownProgramPath();
// Ends a process at once, as the system ends a killed one (SIGKILL, TerminateProcess).
void killProcess(int pid);
// The Windows build runs under Wine rather than on Windows itself (false on Linux).
bool underWine();

}  // namespace kivtest
