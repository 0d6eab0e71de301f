// Login sessions from logind (sd-login) or from a utmp file, numbered and mapped to
// terminal-services connection states as platform/sessions.h describes.
#include "platform/sessions.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-login.h>
#include <unistd.h>
#include <utmp.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/unique_fd.h"

namespace kiv::platform {
namespace {

// sd-login hands out malloc'd strings and arrays.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

bool logindRuns() {
  struct stat info {};
  return sd_booted() > 0 && ::stat("/run/systemd/seats", &info) == 0 && S_ISDIR(info.st_mode);
}

int logindState(const char* id, const char* state) {
  if (std::strcmp(state, "active") == 0) return kSessionActive;
  if (std::strcmp(state, "online") == 0) return kSessionDisconnected;
  // logind announces a session while its scope is still starting; the user has logged on
  // all the same, and the host asks for that user as soon as the announcement arrives.
  if (std::strcmp(state, "opening") == 0) {
    return sd_session_is_active(id) > 0 ? kSessionActive : kSessionDisconnected;
  }
  return kSessionDown;
}

std::string userNameOf(uid_t uid) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);  // a user the account database does not know
}

// Fills one session from logind; false when it is not a user's login or has gone.
bool readLogindSession(const char* id, LoginSession& session) {
  char* raw = nullptr;
  if (sd_session_get_class(id, &raw) >= 0) {
    CString sessionClass(raw);
    // "user", and the "user-early" / "user-incomplete" variants of newer logind versions.
    if (std::strncmp(sessionClass.get(), "user", 4) != 0) return false;
  }
  raw = nullptr;
  if (sd_session_get_state(id, &raw) < 0) return false;
  CString state(raw);
  uid_t uid = 0;
  if (sd_session_get_uid(id, &uid) < 0) return false;
  session.number = sessionNumberFromId(id);
  session.state = logindState(id, state.get());
  session.userName = userNameOf(uid);
  return true;
}

std::vector<LoginSession> logindSessions() {
  std::vector<LoginSession> sessions;
  char** ids = nullptr;
  const int count = sd_get_sessions(&ids);
  if (count < 0 || ids == nullptr) return sessions;
  for (int i = 0; i < count; ++i) {
    CString id(ids[i]);
    LoginSession session;
    if (readLogindSession(id.get(), session)) sessions.push_back(std::move(session));
  }
  std::free(ids);
  return sessions;
}

std::string fixedField(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The key that ties a login to the record that ends it: the utmp id, else the line.
std::string recordKey(const struct utmp& record) {
  std::string key = fixedField(record.ut_id, sizeof record.ut_id);
  return key.empty() ? "line:" + fixedField(record.ut_line, sizeof record.ut_line) : key;
}

struct UtmpLogin {
  std::string key;
  LoginSession session;
};

void applyRecord(const struct utmp& record, std::vector<UtmpLogin>& logins) {
  if (record.ut_type != USER_PROCESS && record.ut_type != DEAD_PROCESS) return;
  const std::string key = recordKey(record);
  std::erase_if(logins, [&key](const UtmpLogin& login) { return login.key == key; });
  if (record.ut_type != USER_PROCESS) return;
  const std::string user = fixedField(record.ut_user, sizeof record.ut_user);
  if (user.empty()) return;
  LoginSession session;
  session.number = record.ut_pid > 0 ? static_cast<uint32_t>(record.ut_pid)
                                     : sessionNumberFromId(fixedField(record.ut_line, sizeof record.ut_line));
  session.state = kSessionActive;
  session.userName = user;
  logins.push_back({key, std::move(session)});
}

// Reads the records directly rather than through getutent, which keeps global state.
std::vector<LoginSession> utmpSessions() {
  std::vector<LoginSession> sessions;
  const UniqueFd file(::open(utmpPath().c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return sessions;
  std::vector<UtmpLogin> logins;
  struct utmp record {};
  for (;;) {
    const ssize_t got = ::read(file.get(), &record, sizeof record);
    if (got < 0 && errno == EINTR) continue;
    if (got != static_cast<ssize_t>(sizeof record)) break;  // end, error or a torn last record
    applyRecord(record, logins);
  }
  for (auto& login : logins) sessions.push_back(std::move(login.session));
  return sessions;
}

}  // namespace

std::string utmpPath() {
  const char* configured = std::getenv("KIV_UTMP");
  return configured != nullptr && *configured != 0 ? configured : _PATH_UTMP;
}

SessionSource sessionSource() {
  const char* configured = std::getenv("KIV_UTMP");
  if (configured != nullptr && *configured != 0) return SessionSource::kUtmp;
  return logindRuns() ? SessionSource::kLogind : SessionSource::kUtmp;
}

std::vector<LoginSession> listSessions() {
  return sessionSource() == SessionSource::kLogind ? logindSessions() : utmpSessions();
}

}  // namespace kiv::platform
