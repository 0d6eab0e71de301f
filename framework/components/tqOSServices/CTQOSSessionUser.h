// The user logged on in a session: user and domain split from the login name, with the
// account name and URI built from them.
#pragma once

#include <string>

#include "../ComponentBase.h"
#include "TQOSServices.h"

class CTQOSSessionUser final : public kiv::components::Component<TQOSSessionUser, 2> {
 public:
  CTQOSSessionUser(std::wstring user, std::wstring domain);

  // "DOMAIN\user" and "user@domain" carry their domain; any other login name belongs to
  // this computer. Null when the login name names no user.
  static CTQOSSessionUser* fromLoginName(const std::string& loginName);

  const wchar_t* userName() override { return user_.c_str(); }
  const wchar_t* domainName() override { return domain_.c_str(); }
  const wchar_t* accountName() override { return account_.c_str(); }  // domain\user
  const wchar_t* uri() override { return uri_.c_str(); }             // winnt://domain/user

 private:
  std::wstring user_;
  std::wstring domain_;
  std::wstring account_;
  std::wstring uri_;
};
