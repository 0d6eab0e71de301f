// Directory access lists: gives a group full access to a directory and, where the file
// system keeps default ACLs, to everything created below it later.
#pragma once

#include <string>

namespace kiv::platform {

// Adds (or widens) the entry for `group` to rwx on the directory's access ACL and, where
// default ACLs are supported, puts the same entry into its default ACL so that new files
// and subdirectories inherit it. On Linux the owner gets full access and the owning group
// and other users nothing in both lists, whatever the creator's umask; other named entries
// are kept and the mask is recomputed. True when the access entry was set. False, with the directory
// left as it was, when the group does not exist, the file system has no ACLs or setting
// failed.
bool grantGroupFullAccess(const std::string& directory, const std::string& group);

namespace testing {
// Behaves as if the file system had no default ACLs (only the access entry is set).
void setDefaultAclUnavailable(bool unavailable);
}  // namespace testing

}  // namespace kiv::platform
