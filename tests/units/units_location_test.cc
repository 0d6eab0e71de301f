// Where the units directory is, the units lock within one process, and the access list a
// new units directory receives.
#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>

#include <filesystem>

#include "platform/dir_acl.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

TEST_F(UnitsTest, UnitsPathFromConfigurationOrInstallDirectory) {
  EXPECT_EQ(getUnitsPathA().str(), kivtest::home() + "/Agent/units");

  store().setStringW(L"dlox/common", L"configdata_location", L"/srv/data", 0);
  EXPECT_EQ(getUnitsPathA().str(), "/srv/data/Agent/units");
  EXPECT_EQ(narrow(getUnitsPathW()), "/srv/data/Agent/units");

  store().setStringW(L"dlox/common", L"configdata_location", L"/srv/dätä/", 0);
  EXPECT_EQ(getUnitsPathW().str(), L"/srv/dätä/Agent/units");

  store().setStringW(L"dlox/common", L"configdata_location", L"", 0);
  EXPECT_EQ(getUnitsPathA().str(), kivtest::home() + "/Agent/units");
}

TEST_F(UnitsTest, LockAndUnlockInOneProcess) {
  EXPECT_EQ(unlockUnitsDB(nullptr), 0);
  TQptr<ITQOSLock> mutex;
  ASSERT_EQ(lockUnitsDB(mutex.fill()), 0);
  ASSERT_TRUE(mutex);
  UnitInfoW record = unit(L"locked", L"User");
  EXPECT_EQ(addUnitW(&record, kUnitType), 0);
  EXPECT_EQ(unlockUnitsDB(mutex.get()), 0);
  EXPECT_EQ(mutex.Release(), 1) << "the caller holds one reference";

  TQptr<ITQOSLock> again;
  EXPECT_EQ(lockUnitsDB(again.fill()), 0);
  unlockUnitsDB(again.get());
}

bool groupHasFullAccess(acl_t acl, gid_t gid) {
  acl_entry_t entry;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag;
    acl_get_tag_type(entry, &tag);
    if (tag != ACL_GROUP) continue;
    auto* qualifier = static_cast<gid_t*>(acl_get_qualifier(entry));
    bool same = *qualifier == gid;
    acl_free(qualifier);
    if (!same) continue;
    acl_permset_t permissions;
    acl_get_permset(entry, &permissions);
    return acl_get_perm(permissions, ACL_READ) == 1 && acl_get_perm(permissions, ACL_WRITE) == 1 &&
           acl_get_perm(permissions, ACL_EXECUTE) == 1;
  }
  return false;
}

struct AclReading {
  bool access = false;
  bool inherited = false;
};

AclReading readUsersEntries(const std::string& path, gid_t gid) {
  AclReading reading;
  acl_t access = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  acl_t inherited = acl_get_file(path.c_str(), ACL_TYPE_DEFAULT);
  reading.access = access && groupHasFullAccess(access, gid);
  reading.inherited = inherited && groupHasFullAccess(inherited, gid);
  // The mask must admit the entry, or the listed rights would not apply.
  if (access) {
    EXPECT_EQ(acl_valid(access), 0);
  }
  acl_free(access);
  acl_free(inherited);
  return reading;
}

// Skips unless this file system keeps ACLs and the system has a group "users".
gid_t usersGroupOrSkip(const std::string& scratch) {
  const group* users = getgrnam("users");
  fs::create_directories(scratch);
  if (users == nullptr || !kiv::platform::grantGroupFullAccess(scratch, "users")) return 0;
  return users->gr_gid;
}

TEST_F(UnitsTest, NewUnitsDirectoryGrantsUsersFullAccess) {
  gid_t gid = usersGroupOrSkip(kivtest::home() + "/probe");
  if (gid == 0) GTEST_SKIP() << "no group users, or no ACLs on this file system";

  UnitInfoW record = unit(L"u", L"User");
  ASSERT_EQ(addUnitW(&record, kUnitType), 0);
  AclReading units = readUsersEntries(unitsDirectory(), gid);
  EXPECT_TRUE(units.access);
  EXPECT_TRUE(units.inherited);
  // The unit's own directory inherits the entry.
  EXPECT_TRUE(readUsersEntries(unitsDirectory() + "/00000001", gid).access);
}

TEST_F(UnitsTest, UnitsDirectoryAccessListDependsOnPlatform) {
  gid_t gid = usersGroupOrSkip(kivtest::home() + "/probe");
  if (gid == 0) GTEST_SKIP() << "no group users, or no ACLs on this file system";

  // Without default ACLs only the entry on the directory itself is set.
  std::string plain = kivtest::home() + "/plain";
  fs::create_directories(plain);
  kiv::platform::testing::setDefaultAclUnavailable(true);
  EXPECT_TRUE(kiv::platform::grantGroupFullAccess(plain, "users"));
  kiv::platform::testing::setDefaultAclUnavailable(false);
  AclReading reading = readUsersEntries(plain, gid);
  EXPECT_TRUE(reading.access);
  EXPECT_FALSE(reading.inherited);
  EXPECT_FALSE(kiv::platform::grantGroupFullAccess(plain, "no-such-group-kiv"));

  // Before NT 5 directories get no access list at all.
  kiv::platform::testing::setWindowsVersion("4.0");
  UnitInfoW record = unit(L"u", L"User");
  ASSERT_EQ(addUnitW(&record, kUnitType), 0);
  kiv::platform::testing::setWindowsVersion(nullptr);
  EXPECT_TRUE(fs::is_directory(unitsDirectory() + "/00000001"));
  EXPECT_FALSE(readUsersEntries(unitsDirectory(), gid).access);
}

}  // namespace
}  // namespace unitstest
