// The process's trace logger: where trace lines go and which levels are written.
#pragma once

#include <string_view>

namespace kiv::trace {

enum class Kind { Levelled, Plain, Error, Detail };

// The configured level (KIV_TRACE_LEVEL, 0-4, default 3).
int configuredLevel();

// Writes one line: source ("-" when null), a tag for the kind and level, and the text.
// The sinks are set up on the first call.
void writeLine(const wchar_t* source, Kind kind, int level, std::wstring_view text);

void flush();

}  // namespace kiv::trace
