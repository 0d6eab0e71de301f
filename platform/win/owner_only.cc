// Owner-only access lists for state directories and files, written in the security
// descriptor language with the calling user's own SID.
#include "platform/win/owner_only.h"

#include "platform/win/unique_handle.h"

#include <sddl.h>

#include <vector>

namespace kiv::platform::win {
namespace {

// The SID of the user the process runs as, as text; empty when the token cannot be read.
std::wstring currentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return {};
  }
  const UniqueLocal owned(text);
  return text;
}

// The 95 family has no security at all: its security calls answer "not implemented", and
// everything there is open to every user of the machine anyway.
bool withoutSecurity() { return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED; }

}  // namespace

// Full control for the user, SYSTEM and the Administrators, inherited by files and
// subdirectories; protected, so nothing from the parent (such as read access for all
// users under ProgramData) reaches in.
UniqueLocal ownerOnlySecurity() {
  const std::wstring user = currentUserSid();
  if (user.empty()) return UniqueLocal();
  const std::wstring sddl =
      L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return UniqueLocal();
  }
  return UniqueLocal(descriptor);
}

bool createDirectory(const std::wstring& path, unsigned mode) {
  if ((mode & 044) != 0) return CreateDirectoryW(path.c_str(), nullptr) != 0;
  const UniqueLocal descriptor = ownerOnlySecurity();
  if (!descriptor) {
    if (!withoutSecurity()) return false;
    return CreateDirectoryW(path.c_str(), nullptr) != 0;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  return CreateDirectoryW(path.c_str(), &attributes) != 0;
}

bool createPrivateFile(const std::wstring& path) {
  const UniqueLocal descriptor = ownerOnlySecurity();
  if (!descriptor && !withoutSecurity()) return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  const UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0,
                                      descriptor ? &attributes : nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(file);
}

}  // namespace kiv::platform::win
