// Fills the session table from the sessions that exist when the notifier is built.
#include "tqNotify/notifier/SessionFill.h"

#include "TQOSServices.h"
#include "tqNotify/framework/TQptr.h"

namespace tqnotify {

void fillSessionTable(SessionTable& table) {
  TQptr<TQOSTerminalServices> services;
  TQUtilities_GetOSTerminalServicesEx(services.fill(), 2);
  TQptr<TQOSTSEnum> sessions;
  if (!sessions.CreateInstanceV1(L"tqOSServices", "TQOSTSEnum")) return;
  if (!services) {
    // Goes through the pointer so the missing object is traced; no session is entered.
    (void)services.operator->();
    return;
  }
  for (uint32_t index = 0; index < sessions->count(); ++index) {
    uint32_t session = 0;
    int state = -1;
    if (sessions->getSession(index, &session, 0, &state) != 0) continue;
    if (state != kTQSessionActive && state != kTQSessionDisconnected) continue;
    TQptr<TQOSSessionUser> user;
    if (services->querySessionUser(session, user.fill()) != 0 || !user) continue;
    table.try_emplace(session, user->accountName());
  }
}

}  // namespace tqnotify
