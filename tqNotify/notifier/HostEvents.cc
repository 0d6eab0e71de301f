// Events the host delivers to the plug-in: session changes (15) and power changes (16).
#include "platform/version.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/NumberText.h"
#include "tqNotify/notifier/UserUnitNames.h"

namespace {

enum SessionEvent : uint32_t {
  kConsoleConnect = 1,
  kConsoleDisconnect = 2,
  kSessionLogon = 5,
  kSessionLogoff = 6,
};

enum PowerEvent : int32_t {
  kSuspend = 4,
  kResumeSuspend = 7,
  kResumeStandby = 8,
};

void onSessionLogon(CTQNotify& notifier, TQptr<TQOSTerminalServices>& services, uint32_t session,
                    const TQStringW& sessionText) {
  TQUtilities_TraceExW(L"tqNotify", 3, L"Session logon reported: session %u", session);
  if (!services) {
    (void)services.operator->();  // traces the missing object; the event is dropped
    return;
  }
  TQptr<TQOSSessionUser> user;
  if (services->querySessionUser(session, user.fill()) != 0 || !user) {
    TQUtilities_TraceExW(L"tqNotify", 2,
                         L"User logon notification received, but no logged on user detected for session %u",
                         session);
  } else {
    const TQStringW userName = user->userName();
    const TQStringW domain = user->domainName();
    const TQStringW account = user->accountName();
    const TQStringW uri = user->uri();
    const tqnotify::UserUnitNames names = tqnotify::unitNamesFor(domain.c_str(), userName.c_str());
    notifier.sessionUsers[session] = account;
    CTQNotify::doAddUserUnit(userName.c_str(), domain.c_str(), uri.c_str(), names.computerUserUnit.c_str(),
                  names.userUnit.c_str());
    notifier.report(kTQEventUserLogon, account, names.computerUserUnit, names.userUnit);
  }
  notifier.report(kTQEventSessionLogon, sessionText);
}

void onSessionLogoff(CTQNotify& notifier, uint32_t session, const TQStringW& sessionText) {
  TQUtilities_TraceExW(L"tqNotify", 3, L"Session logoff reported: session %u", session);
  const auto entry = notifier.sessionUsers.find(session);
  if (entry == notifier.sessionUsers.end()) {
    TQUtilities_TraceExW(L"tqNotify", 2,
                         L"User logoff notification received, but no record of logged on user was found for session %u",
                         session);
  } else {
    const TQStringW account = entry->second;
    notifier.sessionUsers.erase(entry);
    const tqnotify::UserUnitNames names = tqnotify::unitNamesForAccount(account);
    notifier.markUserUnitsLoggedOff(names.computerUserUnit.c_str(), names.userUnit.c_str());
    notifier.report(kTQEventUserLogoff, account, names.computerUserUnit, names.userUnit);
  }
  notifier.report(kTQEventSessionLogoff, sessionText);
  if (session != 0 && kiv::platform::majorVersion(kiv::platform::getVersion()) < 6) {
    notifier.report(kTQEventConsoleDisconnect, sessionText);
  }
}

void onSessionChange(CTQNotify& notifier, uint32_t event, const TQStringW& sessionText) {
  const uint32_t session = tqnotify::parseUnsigned32(sessionText.c_str());
  TQptr<TQOSTerminalServices> services;
  TQUtilities_GetOSTerminalServicesEx(services.fill(), 2);
  switch (event) {
    case kConsoleConnect:
      TQUtilities_TraceExW(L"tqNotify", 3, L"Console switch reported: Console connected to session %u", session);
      notifier.report(kTQEventConsoleConnect, sessionText);
      break;
    case kConsoleDisconnect:
      TQUtilities_TraceExW(L"tqNotify", 3, L"Console switch reported: Console disconnected from session %u", session);
      notifier.report(kTQEventConsoleDisconnect, sessionText);
      break;
    case kSessionLogon:
      onSessionLogon(notifier, services, session, sessionText);
      break;
    case kSessionLogoff:
      onSessionLogoff(notifier, session, sessionText);
      break;
    default:
      break;
  }
}

void onPowerChange(CTQNotify& notifier, int32_t event) {
  TQUtilities_TraceExW(L"tqNotify", 3, L"KIV sent me a power state notification. Event = %u",
                       static_cast<uint32_t>(event));
  if (event == kSuspend) {
    notifier.suspended = 1;
  } else if (event == kResumeSuspend || event == kResumeStandby) {
    notifier.suspended = 0;
    if (notifier.resumeEvent) notifier.resumeEvent->set();
  }
}

}  // namespace

bool CTQNotify::OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                         const TQStringA& s3) {
  return forwardToOnEventW(*this, code, sender, s1, s2, s3);
}

bool CTQNotify::OnEventW(int code, void*, const TQStringW& s1, const TQStringW& s2,
                         const TQStringW&) {
  if (code == kTQEventSessionChange) {
    onSessionChange(*this, tqnotify::parseUnsigned32(s1.c_str()), s2);
  } else if (code == kTQEventPowerChange) {
    onPowerChange(*this, tqnotify::parseInt32(s1.c_str()));
  }
  return true;
}

