// Reading POSIX ACLs back in the units tests.
#pragma once

#include <acl/libacl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/acl.h>

#include <filesystem>
#include <string>

#include "platform/dir_acl.h"
#include "support/kiv_test.h"

namespace unitstest {

// The ACL of one kind as text, e.g. "user::rwx\ngroup::---\ngroup:users:rwx\n...".
inline std::string aclText(const std::string& path, acl_type_t type) {
  acl_t acl = acl_get_file(path.c_str(), type);
  if (acl == nullptr) return "";
  if (acl_entries(acl) > 0) {
    EXPECT_EQ(acl_valid(acl), 0) << "the mask must admit the entries";
  }
  char* text = acl_to_text(acl, nullptr);
  std::string result = text ? text : "";
  acl_free(text);
  acl_free(acl);
  return result;
}

// Whether this file system keeps ACLs and the system has a group "users".
inline bool aclsSupported() {
  const std::string probe = kivtest::home() + "/probe";
  std::filesystem::create_directories(probe);
  return getgrnam("users") != nullptr && kiv::platform::grantGroupFullAccess(probe, "users");
}

}  // namespace unitstest
