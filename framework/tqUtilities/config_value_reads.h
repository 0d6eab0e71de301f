// How a stored value is handed to a reader: as wide text, narrow text or a number. The
// configuration object and its section reads answer alike through these.
#pragma once

#include <cstdint>

#include "framework/tqUtilities/config_cache.h"

namespace kiv::config {

// A number reads as its decimal text. The buffer needs room for the text and its NUL;
// when it is too small (or null) the answer is "more data" with the needed capacity in
// *size and the buffer is left as it was. On success *size is the length without NUL.
int readStringW(const ValueView& value, wchar_t* buffer, uint32_t* size);
int readStringA(const ValueView& value, char* buffer, uint32_t* size);
// Text reads as a number only when it is a whole decimal or 0x-hexadecimal 32-bit
// integer; otherwise "not found" and *number is left as it was.
int readNumber(const ValueView& value, int32_t* number);

}  // namespace kiv::config
