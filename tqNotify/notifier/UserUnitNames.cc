// The naming rule for a user's units.
#include "tqNotify/notifier/UserUnitNames.h"

#include <cwchar>

#include "platform/system_info.h"

namespace tqnotify {

bool computerName(TQStringW& name) {
  wchar_t buffer[256] = {};
  uint32_t size = 255;
  if (!kiv::platform::getComputerName(buffer, &size)) return false;
  name = buffer;
  return true;
}

bool isThisComputer(const wchar_t* domain) {
  TQStringW name;
  return computerName(name) && name.comparei(domain ? domain : L"") == 0;
}

UserUnitNames unitNamesFor(const wchar_t* domain, const wchar_t* user) {
  UserUnitNames names;
  names.userUnit = isThisComputer(domain) ? L"." : domain;
  names.userUnit += L"|";
  names.userUnit += user;
  names.computerUserUnit = L".|";
  names.computerUserUnit += names.userUnit;
  return names;
}

UserUnitNames unitNamesForAccount(const TQStringW& account) {
  const std::size_t separator = account.find(L"\\");
  if (separator == TQStringW::npos) return unitNamesFor(L".", account.c_str());
  const TQStringW domain = account.left(separator);
  const TQStringW user = account.substr(separator + 1);
  return unitNamesFor(domain.c_str(), user.c_str());
}

}  // namespace tqnotify
