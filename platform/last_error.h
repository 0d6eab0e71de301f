// The calling thread's last system error, as GetLastError gives it on Windows.
#pragma once

#include <string>

namespace kiv::platform {

int lastError();
void setLastError(int error);
std::wstring errorText(int error);

}  // namespace kiv::platform
