// Splitting a login name into user and domain, and the names derived from them.
#include "CTQOSSessionUser.h"

#include "TQString.h"
#include "platform/system_info.h"

namespace {

std::wstring wide(const std::string& utf8) {
  TQStringW text;
  text.assign_utf8(utf8.c_str());
  return text.str();
}

std::wstring computerName() {
  wchar_t buffer[256] = {};
  uint32_t size = 256;
  if (!kiv::platform::getComputerName(buffer, &size)) return L".";
  return buffer;
}

}  // namespace

CTQOSSessionUser::CTQOSSessionUser(std::wstring user, std::wstring domain)
    : Component(kiv::components::Origin::kHandedOut),
      user_(std::move(user)),
      domain_(std::move(domain)),
      account_(domain_ + L"\\" + user_),
      uri_(L"winnt://" + domain_ + L"/" + user_) {}

CTQOSSessionUser* CTQOSSessionUser::fromLoginName(const std::string& loginName) {
  std::wstring name = wide(loginName);
  std::wstring user = name;
  std::wstring domain;
  if (const size_t slash = name.find(L'\\'); slash != std::wstring::npos) {
    domain = name.substr(0, slash);
    user = name.substr(slash + 1);
  } else if (const size_t at = name.rfind(L'@'); at != std::wstring::npos) {
    user = name.substr(0, at);
    domain = name.substr(at + 1);
  }
  if (user.empty()) return nullptr;
  if (domain.empty()) domain = computerName();
  return new CTQOSSessionUser(std::move(user), std::move(domain));
}
