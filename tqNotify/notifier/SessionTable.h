// The session table: terminal-services session number to the account name (domain,
// backslash, user) of the user logged on in it.
#pragma once

#include <cstdint>
#include <map>

#include "TQString.h"

using SessionTable = std::map<uint32_t, TQStringW>;
