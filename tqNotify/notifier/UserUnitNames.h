// How a logged-on user's account name and unit names are formed: the account is domain,
// backslash, user; the user unit is domain part, "|", user, where the domain part is "."
// for this computer; the computer-user unit is ".|" and the user unit name.
#pragma once

#include "TQString.h"

namespace tqnotify {

struct UserUnitNames {
  TQStringW userUnit;
  TQStringW computerUserUnit;
};

// This computer's name, or false when it cannot be read.
bool computerName(TQStringW& name);
// True when the domain names this computer (compared without regard to case).
bool isThisComputer(const wchar_t* domain);

UserUnitNames unitNamesFor(const wchar_t* domain, const wchar_t* user);
// From an account name: split at the first backslash; without one, the whole text is
// the user name of this computer.
UserUnitNames unitNamesForAccount(const TQStringW& account);

}  // namespace tqnotify
