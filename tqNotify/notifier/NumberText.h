// Number texts as the notifier reads them: decimal, with 32-bit results, where text that is
// not a number reads as 0 and a number beyond the range reads as the largest value.
#pragma once

#include <cstdint>

namespace tqnotify {

// Like a 32-bit wcstoul with base 10: leading blanks and a sign are accepted; a negative
// number wraps around; an overflow gives 0xFFFFFFFF.
uint32_t parseUnsigned32(const wchar_t* text);
// Like a 32-bit _wtoi: an overflow gives the nearest limit.
int32_t parseInt32(const wchar_t* text);

}  // namespace tqnotify
