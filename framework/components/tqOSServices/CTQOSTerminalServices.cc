// Looking up the user of one session among the current login sessions.
#include "CTQOSTerminalServices.h"

#include "CTQOSSessionUser.h"
#include "platform/sessions.h"

int CTQOSTerminalServices::querySessionUser(uint32_t session, TQOSSessionUser** user) {
  if (user == nullptr) return 1;
  for (const auto& login : kiv::platform::listSessions()) {
    if (login.number != session) continue;
    if (login.state != kiv::platform::kSessionActive && login.state != kiv::platform::kSessionDisconnected) {
      continue;
    }
    if (CTQOSSessionUser* found = CTQOSSessionUser::fromLoginName(login.userName)) {
      *user = found;
      return 0;
    }
  }
  return 1;
}
