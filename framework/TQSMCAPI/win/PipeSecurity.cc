// Building the endpoint pipe's security descriptor: owner, SYSTEM and Administrators, each
// with full access, and no other entry.
#include "framework/TQSMCAPI/win/PipeSecurity.h"

#include "platform/win/unique_handle.h"

namespace kiv::bus::win {
namespace {

std::string failed(const char* what) {
  return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

// The SID of the user this process runs as.
bool processUser(std::vector<unsigned char>* sid, std::string* error) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    *error = failed("OpenProcessToken");
    return false;
  }
  platform::win::UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    *error = failed("GetTokenInformation");
    return false;
  }
  const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  sid->resize(GetLengthSid(user));
  if (!CopySid(static_cast<DWORD>(sid->size()), sid->data(), user)) {
    *error = failed("CopySid");
    return false;
  }
  return true;
}

bool wellKnown(WELL_KNOWN_SID_TYPE type, std::vector<unsigned char>* sid, std::string* error) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  sid->resize(size);
  if (!CreateWellKnownSid(type, nullptr, sid->data(), &size)) {
    *error = failed("CreateWellKnownSid");
    return false;
  }
  sid->resize(size);
  return true;
}

DWORD aceSize(const std::vector<unsigned char>& sid) {
  return static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sid.size());
}

}  // namespace

std::unique_ptr<PipeSecurity> PipeSecurity::build(std::string* error) {
  std::unique_ptr<PipeSecurity> security(new PipeSecurity);
  PipeSecurity& s = *security;
  if (!processUser(&s.owner_, error) || !wellKnown(WinLocalSystemSid, &s.system_, error) ||
      !wellKnown(WinBuiltinAdministratorsSid, &s.administrators_, error)) {
    return nullptr;
  }
  s.acl_.resize(sizeof(ACL) + aceSize(s.owner_) + aceSize(s.system_) + aceSize(s.administrators_));
  auto* acl = reinterpret_cast<ACL*>(s.acl_.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(s.acl_.size()), ACL_REVISION)) {
    *error = failed("InitializeAcl");
    return nullptr;
  }
  for (auto* sid : {&s.owner_, &s.system_, &s.administrators_}) {
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kAccess, sid->data())) {
      *error = failed("AddAccessAllowedAce");
      return nullptr;
    }
  }
  if (!InitializeSecurityDescriptor(&s.descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&s.descriptor_, s.owner_.data(), FALSE) ||
      !SetSecurityDescriptorDacl(&s.descriptor_, TRUE, acl, FALSE)) {
    *error = failed("building the security descriptor");
    return nullptr;
  }
  s.attributes_.nLength = sizeof s.attributes_;
  s.attributes_.lpSecurityDescriptor = &s.descriptor_;
  s.attributes_.bInheritHandle = FALSE;
  return security;
}

}  // namespace kiv::bus::win
