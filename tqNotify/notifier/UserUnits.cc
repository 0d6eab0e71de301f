// Writing a logged-on user's two units, and marking them when the user logs off. Both
// run inside the units lock; the units database's answers are not acted on.
#include <cwchar>

#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/UserUnitNames.h"
#include "tqNotify/tqNotify.h"

namespace {

constexpr uint32_t kUserUnitFields = 487;  // type, context, triggable, domain, user, localuser, uri
constexpr uint32_t kTriggableOnly = 4;

// Takes the units lock for a scope; an empty lock object is handed back as it is.
class UnitsLock {
 public:
  UnitsLock() { lockUnitsDB(lock_.fill()); }
  ~UnitsLock() {
    unlockUnitsDB(lock_.get());
    lock_.Release();
  }
  UnitsLock(const UnitsLock&) = delete;
  UnitsLock& operator=(const UnitsLock&) = delete;

 private:
  TQptr<ITQOSLock> lock_;
};

void fillUserRecord(UnitInfoW& record, const wchar_t* name, const wchar_t* type,
                    const TQStringW& context, const wchar_t* domain, const wchar_t* user,
                    int32_t localUser, const wchar_t* uri) {
  record.name = name;
  record.unittype = type;
  record.executioncontext = context;
  record.triggable = 1;
  record.domain = domain;
  record.user = user;
  record.localuser = localUser;
  record.uri = uri;
}

}  // namespace

void CTQNotify::doAddUserUnit(const wchar_t* pszUser, const wchar_t* pszComputerName,
                              const wchar_t* pszURI, const wchar_t* pszComputerUserUnit,
                              const wchar_t* pszUserUnit) {
  UnitsLock unitsLock;
  TQStringW computer;
  const bool named = tqnotify::computerName(computer);
  const int32_t localUser = named && computer.comparei(pszComputerName) == 0 ? 1 : 0;
  TQUtilities_TraceW(L"tqNotify", L"%s: pszUser: %s pszComputerName: %s computerName: %s localuser: %d",
                     L"CTQNotify::doAddUserUnit", pszUser, pszComputerName, computer.c_str(),
                     localUser);
  TQUtilities_TraceW(L"tqNotify", L"%s pszComputerUserUnit: %s pszUserUnit: %s pszURI:%s",
                     L"CTQNotify::doAddUserUnit", pszComputerUserUnit, pszUserUnit, pszURI);

  TQStringW context;
  context.format(L"%s\\%s", pszComputerName, pszUser);
  UnitInfoW computerUser;
  fillUserRecord(computerUser, pszComputerUserUnit, L"computerUser", context, pszComputerName,
                 pszUser, localUser, pszURI);
  UnitInfoW user;
  fillUserRecord(user, pszUserUnit, L"User", context, pszComputerName, pszUser, localUser, pszURI);
  addUnitW(&computerUser, kUserUnitFields);
  addUnitW(&user, kUserUnitFields);
}

void CTQNotify::markUserUnitsLoggedOff(const wchar_t* computerUserUnit, const wchar_t* userUnit) {
  UnitsLock unitsLock;
  UnitInfoW record;
  record.triggable = 0;
  record.name = computerUserUnit;
  addUnitW(&record, kTriggableOnly);
  record.name = userUnit;
  addUnitW(&record, kTriggableOnly);
}
