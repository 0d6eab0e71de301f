// Problems with config.db are traced once per process, not once per caller: the units
// code asks for the configuration thousands of times a second.
#pragma once

#include <string>

namespace kiv::config {

// Traces the message as an error unless the same message was the last one traced.
void reportProblemOnce(const std::string& message);
// The store works again: the next problem is traced even if it repeats the last one.
void clearReportedProblem();

}  // namespace kiv::config
