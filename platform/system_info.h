// Names of this computer and of loaded modules.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::platform {

// The host name up to its first dot (KIV_COMPUTER_NAME overrides). Like GetComputerNameW:
// *size holds the capacity in characters on entry and the length on success; false when
// the buffer is too small.
bool getComputerName(wchar_t* buffer, uint32_t* size);

// Full path of a loaded module (a dlopen handle), or of the process's executable for null.
std::wstring moduleFileName(void* module);
// The dlopen handle of the module that contains an address, without counting a load.
void* moduleContaining(const void* address);

}  // namespace kiv::platform
