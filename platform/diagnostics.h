// Problems the platform layer meets that no caller is asked about (a damaged registry file,
// an unknown version setting). Each distinct problem is reported once per process.
#pragma once

#include <string>

namespace kiv::platform {

// Hands `text` to the problem sink, or to stderr when none is installed; a text already
// reported in this process is dropped.
void reportProblem(const std::string& text);

// Installs the function that receives problems (null goes back to stderr). The sink may be
// called from any thread and must not block for long.
void setProblemSink(void (*sink)(const char* text));

}  // namespace kiv::platform
