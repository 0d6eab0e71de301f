// Directory access lists: the directory's discretionary list becomes one entry giving the
// group full control, inherited by everything created below it. The security calls that
// not every Windows version has are looked up at run time.
#include "platform/dir_acl.h"

#include "platform/win/group_acl.h"
#include "platform/win/unique_handle.h"

#include <aclapi.h>

#include <atomic>
#include <cctype>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

std::atomic<bool> inheritanceUnavailable{false};

using SetNamedSecurityInfoWFunction = DWORD(WINAPI*)(LPWSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                     PSID, PSID, PACL, PACL);
using AddAccessAllowedAceExFunction = BOOL(WINAPI*)(PACL, DWORD, DWORD, DWORD, PSID);

win::UniqueLibrary loadSecurityLibrary() { return win::UniqueLibrary(LoadLibraryA("ADVAPI32")); }

bool isUsers(const std::string& group) {
  if (group.size() != 5) return false;
  for (std::size_t i = 0; i < group.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(group[i])) != "users"[i]) return false;
  }
  return true;
}

std::vector<unsigned char> builtinUsersSid() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0,
                                0, 0, 0, 0, &sid)) {
    return {};
  }
  const auto* bytes = static_cast<const unsigned char*>(sid);
  std::vector<unsigned char> copy(bytes, bytes + GetLengthSid(sid));
  FreeSid(sid);
  return copy;
}

std::vector<unsigned char> accountSid(const std::string& name) {
  const std::wstring account = kiv::utf::widen(name);
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0) return {};
  std::vector<unsigned char> sid(sidSize);
  std::wstring domain(domainSize, L'\0');
  if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(),
                          &domainSize, &use)) {
    return {};
  }
  return sid;
}

}  // namespace

namespace win {

std::vector<unsigned char> groupSid(const std::string& group) {
  return isUsers(group) ? builtinUsersSid() : accountSid(group);
}

std::vector<unsigned char> fullAccessAcl(const void* sid) {
  auto* group = const_cast<PSID>(sid);
  if (group == nullptr || !IsValidSid(group)) return {};
  const UniqueLibrary library = loadSecurityLibrary();
  auto addEx = procAddress<AddAccessAllowedAceExFunction>(library.get(), "AddAccessAllowedAceEx");
  if (inheritanceUnavailable.load()) addEx = nullptr;
  // Room for the list header and one entry with its SID, with some to spare.
  const DWORD size = GetLengthSid(group) + GetSidLengthRequired(1) + 20;
  std::vector<unsigned char> acl(size);
  auto* list = reinterpret_cast<PACL>(acl.data());
  if (!InitializeAcl(list, size, ACL_REVISION)) return {};
  const BOOL added =
      addEx != nullptr
          ? addEx(list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, group)
          : AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, group);
  if (!added) return {};
  return acl;
}

}  // namespace win

bool grantGroupFullAccess(const std::string& directory, const std::string& group) {
  const std::vector<unsigned char> sid = win::groupSid(group);
  if (sid.empty()) return false;
  std::vector<unsigned char> acl = win::fullAccessAcl(sid.data());
  if (acl.empty()) return false;
  const win::UniqueLibrary library = loadSecurityLibrary();
  const auto setNamed =
      win::procAddress<SetNamedSecurityInfoWFunction>(library.get(), "SetNamedSecurityInfoW");
  if (setNamed == nullptr) return false;
  std::wstring path = kiv::utf::widen(directory);
  // Only the discretionary list is written, and it is not protected: what the parent
  // passes on still applies beside the new entry.
  return setNamed(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                  reinterpret_cast<PACL>(acl.data()), nullptr) == ERROR_SUCCESS;
}

namespace testing {
void setDefaultAclUnavailable(bool unavailable) { inheritanceUnavailable.store(unavailable); }
}  // namespace testing

}  // namespace kiv::platform
