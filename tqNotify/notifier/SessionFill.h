// The start-up scan that enters every active or disconnected session with a logged-on
// user into the session table.
#pragma once

#include "tqNotify/notifier/SessionTable.h"

namespace tqnotify {

// Inserts without replacing; creates no unit and reports nothing. Without the session
// enumerator or the terminal-services object the table is left as it is.
void fillSessionTable(SessionTable& table);

}  // namespace tqnotify
