// The ownership rule on access lists: the decision on a list, and the lists of the script
// file and of every folder above it.
#include "tqNotify/notifier/win/ScriptAccess.h"

#include <aclapi.h>

#include <array>
#include <filesystem>
#include <utility>

#include "platform/utf8.h"

namespace kiv::notifier {
namespace {

constexpr ACCESS_MASK kCommonChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// On a file, writing or appending changes what runs.
constexpr ACCESS_MASK kFileChangeRights = kCommonChangeRights | FILE_WRITE_DATA | FILE_APPEND_DATA;
// On a folder the same bits mean "add file" and "add subdirectory". A new subfolder cannot
// replace the script or a folder on its path (the names already exist), and the root of a
// stock system drive grants it to Authenticated Users, so only adding files and deleting
// or renaming what the folder holds count.
constexpr ACCESS_MASK kFolderChangeRights = kCommonChangeRights | FILE_ADD_FILE | FILE_DELETE_CHILD;

struct Principal {
  WELL_KNOWN_SID_TYPE type;
  const char* name;
};
constexpr std::array<Principal, 4> kOthers = {{{WinBuiltinUsersSid, "Users"},
                                               {WinAuthenticatedUserSid, "Authenticated Users"},
                                               {WinWorldSid, "Everyone"},
                                               {WinInteractiveSid, "the interactive user"}}};

const char* otherPrincipal(PSID sid) {
  for (const auto& principal : kOthers) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    if (CreateWellKnownSid(principal.type, nullptr, buffer, &size) && EqualSid(sid, buffer)) return principal.name;
  }
  return nullptr;
}

// Where SearchPathW finds `name` as a file (".exe" added when it has no extension), in a
// buffer as long as the path needs; empty when it finds nothing or a folder.
std::wstring searched(const std::wstring& name) {
  if (name.empty()) return {};
  std::wstring found(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        SearchPathW(nullptr, name.c_str(), L".exe", static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length == 0) return {};
    if (length < found.size()) {
      found.resize(length);
      break;
    }
    found.resize(length);  // too small: the length asked for counts the terminator
  }
  const DWORD attributes = GetFileAttributesW(found.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
  return found;
}

}  // namespace

std::wstring programOfCommandLine(const std::wstring& commandLine) {
  if (!commandLine.empty() && commandLine[0] == L'"') {
    return searched(commandLine.substr(1, commandLine.find(L'"', 1) - 1));
  }
  // Unquoted, the line is ambiguous: CreateProcessW tries every prefix that ends at a blank,
  // shortest first, then the whole line, and starts the first file it finds. Taking only
  // the first word would check a file that is not there while another one starts.
  for (std::size_t end = commandLine.find_first_of(L" \t");; end = commandLine.find_first_of(L" \t", end + 1)) {
    if (auto found = searched(commandLine.substr(0, end)); !found.empty()) return found;
    if (end == std::wstring::npos) return {};
  }
}

namespace {

// Why `path` may not be trusted: who else may change it, or that its list cannot be read
// (it exists: the program was found there); empty when nobody else may change it.
std::string refusalOf(const std::wstring& path, bool folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::string shown = (folder ? "folder " : "") + kiv::utf::narrow(path);
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return shown + " cannot be examined";
  }
  const std::string writer = nonAdministratorWriter(dacl, folder);
  LocalFree(descriptor);
  return writer.empty() ? std::string() : shown + " may be changed by " + writer;
}

}  // namespace

std::string nonAdministratorWriter(const ACL* dacl, bool folder) {
  if (dacl == nullptr) return "Everyone";
  const ACCESS_MASK rights = folder ? kFolderChangeRights : kFileChangeRights;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // An entry only inherited by what the folder holds does not guard the folder itself.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & rights) == 0) continue;
    if (const char* who = otherPrincipal(const_cast<DWORD*>(&allowed->SidStart))) return who;
  }
  return {};
}

std::string programAccessRefusal(const std::wstring& program) {
  std::filesystem::path path(program);
  if (auto why = refusalOf(path.wstring(), false); !why.empty()) return why;
  for (path = path.parent_path(); !path.empty(); path = path.parent_path()) {
    if (auto why = refusalOf(path.wstring(), true); !why.empty()) return why;
    if (path == path.root_path()) break;
  }
  return {};
}

}  // namespace kiv::notifier
