// Group access entries on directories through libacl.
#include "platform/dir_acl.h"

#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <vector>

namespace kiv::platform {
namespace {

std::atomic<bool> defaultAclUnavailable{false};

struct AclDeleter {
  void operator()(void* acl) const { acl_free(acl); }
};
using AclPtr = std::unique_ptr<std::remove_pointer_t<acl_t>, AclDeleter>;

bool lookupGroup(const std::string& name, gid_t* gid) {
  long suggested = sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  struct group entry {};
  struct group* found = nullptr;
  if (getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  *gid = found->gr_gid;
  return true;
}

// The entry of `acl` naming group `gid`, or a new one.
bool groupEntry(acl_t* acl, gid_t gid, acl_entry_t* result) {
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(*acl, which, &entry) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0 || tag != ACL_GROUP) continue;
    auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
    bool same = qualifier != nullptr && *qualifier == gid;
    acl_free(qualifier);
    if (same) {
      *result = entry;
      return true;
    }
  }
  if (acl_create_entry(acl, &entry) != 0) return false;
  if (acl_set_tag_type(entry, ACL_GROUP) != 0 || acl_set_qualifier(entry, &gid) != 0) {
    return false;
  }
  *result = entry;
  return true;
}

bool setPermissions(acl_entry_t entry, bool all) {
  acl_permset_t permissions;
  if (acl_get_permset(entry, &permissions) != 0 || acl_clear_perms(permissions) != 0) return false;
  if (all && (acl_add_perm(permissions, ACL_READ) != 0 || acl_add_perm(permissions, ACL_WRITE) != 0 ||
              acl_add_perm(permissions, ACL_EXECUTE) != 0)) {
    return false;
  }
  return acl_set_permset(entry, permissions) == 0;
}

// The owner gets everything, the owning group and other users nothing, so what the list
// allows does not depend on the umask of whoever created the directory (root's shell
// usually has 022, which would let every user read below it).
bool setBaseEntries(acl_t acl) {
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1; which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    if (acl_get_tag_type(entry, &tag) != 0) return false;
    if (tag == ACL_USER_OBJ && !setPermissions(entry, true)) return false;
    if ((tag == ACL_GROUP_OBJ || tag == ACL_OTHER) && !setPermissions(entry, false)) return false;
  }
  return true;
}

bool grantFullAccess(acl_t* acl, gid_t gid) {
  acl_entry_t entry;
  if (!groupEntry(acl, gid, &entry) || !setPermissions(entry, true) || !setBaseEntries(*acl)) return false;
  // The mask must let the new entry through, or the ACL would not grant what it lists.
  return acl_calc_mask(acl) == 0 && acl_valid(*acl) == 0;
}

// The default ACL starts from the directory's current default ACL when it has one, else
// from its access ACL, so that named entries already there are kept.
AclPtr defaultAclBase(const std::string& directory, acl_t access) {
  AclPtr current(acl_get_file(directory.c_str(), ACL_TYPE_DEFAULT));
  if (current && acl_entries(current.get()) > 0) return current;
  return AclPtr(acl_dup(access));
}

}  // namespace

bool grantGroupFullAccess(const std::string& directory, const std::string& group) {
  gid_t gid;
  if (!lookupGroup(group, &gid)) return false;

  AclPtr access(acl_get_file(directory.c_str(), ACL_TYPE_ACCESS));
  if (!access) return false;
  acl_t accessAcl = access.release();
  bool granted = grantFullAccess(&accessAcl, gid);
  access.reset(accessAcl);
  if (!granted || acl_set_file(directory.c_str(), ACL_TYPE_ACCESS, access.get()) != 0) {
    return false;
  }

  if (defaultAclUnavailable) return true;
  AclPtr inherited = defaultAclBase(directory, access.get());
  if (!inherited) return true;
  acl_t inheritedAcl = inherited.release();
  granted = grantFullAccess(&inheritedAcl, gid);
  inherited.reset(inheritedAcl);
  // Without default ACLs the access entry alone is what can be given.
  if (granted) acl_set_file(directory.c_str(), ACL_TYPE_DEFAULT, inherited.get());
  return true;
}

namespace testing {
void setDefaultAclUnavailable(bool unavailable) { defaultAclUnavailable = unavailable; }
}  // namespace testing

}  // namespace kiv::platform
