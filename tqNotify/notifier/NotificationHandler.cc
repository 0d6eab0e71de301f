// The handling of one notification message: Logon and Logoff (on legacy logon platforms
// only), Docked and UnDocked.
#include "platform/version.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/NumberText.h"
#include "tqNotify/notifier/ProcessState.h"
#include "tqNotify/notifier/ScopedLock.h"

namespace {

constexpr uint32_t kLogonWaitMs = 20000;
constexpr uint32_t kLogonPollMs = 1000;

// Windows before 2000, or 2000 itself: logons and logoffs arrive as messages.
bool legacyLogonPlatform() {
  namespace p = kiv::platform;
  const uint32_t version = p::getVersion();
  return p::majorVersion(version) < 5 || (p::majorVersion(version) == 5 && p::minorVersion(version) == 0);
}

TQStringW valueOf(ITQXMLDocument* document, const wchar_t* name) {
  TQStringW value;
  document->queryValue(value, name, 1, 0);
  return value;
}

struct UserMessage {
  TQStringW user, domain, account, computerUserUnit, userUnit, session;
};

UserMessage readUserMessage(ITQXMLDocument* document) {
  UserMessage m;
  m.user = valueOf(document, L"User");
  m.domain = valueOf(document, L"Domain");
  m.account.format(L"%s\\%s", m.domain.c_str(), m.user.c_str());
  m.computerUserUnit = valueOf(document, L"computerUserUnitName");
  m.userUnit = valueOf(document, L"userUnitName");
  m.session = valueOf(document, L"sessionID");
  return m;
}

// On Windows 2000 the message can come before the session's user is known; wait for it a
// while. The logon goes on either way, and a shutdown cuts the wait short.
void waitForSessionUser(const TQStringW& sessionText) {
  TQptr<TQOSTerminalServices> services;
  TQUtilities_GetOSTerminalServicesEx(services.fill(), 2);
  if (!services) {
    (void)services.operator->();  // traces the missing object
    return;
  }
  const uint32_t session = tqnotify::parseUnsigned32(sessionText.c_str());
  const uint32_t start = TQUtilities_GetTickCount();
  for (;;) {
    TQptr<TQOSSessionUser> user;
    if (services->querySessionUser(session, user.fill()) == 0) return;
    TQUtilities_Sleep(kLogonPollMs);
    if (TQUtilities_GetTickCount() - start >= kLogonWaitMs) return;
    if (tqnotify::terminating != 0) return;
  }
}

}  // namespace

bool CTQNotify::handleNotification(const TQStringW& text) {
  if (!xmlParser) {
    (void)xmlParser.operator->();  // traces the missing parser; the message is dropped
    return true;
  }
  TQptr<ITQXMLDocument> document;
  if (xmlParser->parse(document.fill(), text.c_str()) != 0 || !document) return true;
  if (document->selectElement(L"Notification", 0) != 0) return true;
  TQStringW type = text;
  document->queryShortValue(type, L"Type");

  const bool legacy = legacyLogonPlatform();
  if (type.comparei(L"Logoff") == 0 && legacy) {
    const UserMessage m = readUserMessage(document.get());
    markUserUnitsLoggedOff(m.computerUserUnit.c_str(), m.userUnit.c_str());
    report(kTQEventUserLogoff, m.account, m.computerUserUnit, m.userUnit);
    report(kTQEventSessionLogoff, m.session);
  } else if (type.comparei(L"Logon") == 0 && legacy) {
    const UserMessage m = readUserMessage(document.get());
    if (kiv::platform::majorVersion(kiv::platform::getVersion()) == 5) waitForSessionUser(m.session);
    TQStringW uri;
    uri.format(L"winnt://%s/%s", m.domain.c_str(), m.user.c_str());
    doAddUserUnit(m.user.c_str(), m.domain.c_str(), uri.c_str(), m.computerUserUnit.c_str(),
                  m.userUnit.c_str());
    report(kTQEventUserLogon, m.account, m.computerUserUnit, m.userUnit);
    report(kTQEventSessionLogon, m.session);
    if (watchShell) {
      // Names and signal change together: the watcher clears the signal when it reports
      // the names, so a signal never outlives the names it stands for.
      ScopedLock lock(watcherLock.get());
      watchedUser = m.user;
      watchedUserUnit = m.userUnit;
      watchedComputerUserUnit = m.computerUserUnit;
      if (userLogonEvent) userLogonEvent->set();
    }
  } else if (type.comparei(L"Docked") == 0) {
    report(kTQEventDocked, valueOf(document.get(), L"Id"), valueOf(document.get(), L"Type"));
  } else if (type.comparei(L"UnDocked") == 0) {
    report(kTQEventUndocked, valueOf(document.get(), L"Type"));
  } else {
    TQUtilities_TraceExW(L"tqNotify", 2, L"Ignoring unknown %s event notifcation", type.c_str());
  }
  return true;
}
