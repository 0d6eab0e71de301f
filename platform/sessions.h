// Login sessions, numbered and given connection states the way terminal services would.
//
// Source. When KIV_UTMP is set, sessions come from the utmp file it names and logind is not
// consulted, so that a chosen file decides alone. Otherwise logind is used where it runs
// (systemd is the init system and /run/systemd/seats exists), and the system's utmp file
// everywhere else.
//
// Numbers. A logind session whose id is a decimal number below 2^31 keeps that number.
// Any other id (such as "c1") gets 2^31 plus the low 31 bits of the FNV-1a hash of the id:
// stable for the session's life and the same in every process. A utmp login is numbered by
// the pid of its login process (ut_pid), which is unique among live logins and stays put
// for the login's life; a record without a pid is numbered like a non-decimal logind id,
// from its terminal line.
//
// States. logind "active" (in the foreground of its seat, or a remote login) is 0, active;
// "online" (logged on, not in the foreground) is 4, disconnected; "opening" (logged on,
// while logind still starts the session's scope) is one of these two as logind sees its
// seat; "closing" (the user has logged out and only leftover processes keep it) is 8, down,
// because nobody is logged on there any more; so is any state logind may add later. Only
// logind sessions of a "user" class count: greeters, lock screens, background and
// service-manager sessions are nobody's logon.
// A utmp USER_PROCESS record is 0, active; a DEAD_PROCESS record ends the login recorded
// under the same id (or line) and is not a session; other record types are not sessions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::platform {

constexpr int kSessionActive = 0;
constexpr int kSessionDisconnected = 4;
constexpr int kSessionDown = 8;

// kTerminalServices: the system's own sessions (Windows).
enum class SessionSource { kLogind, kUtmp, kTerminalServices };

struct LoginSession {
  uint32_t number = 0;
  int state = kSessionActive;
  std::string userName;  // the login name as the system records it (UTF-8)
};

// Where listSessions reads from, by the rule above.
SessionSource sessionSource();

// The current sessions, in the order their source lists them.
std::vector<LoginSession> listSessions();

// The number rule for a logind session id, and for utmp records without a pid.
uint32_t sessionNumberFromId(std::string_view id);

// The utmp file read when logind is not used: KIV_UTMP, or the system's utmp file.
std::string utmpPath();

}  // namespace kiv::platform
