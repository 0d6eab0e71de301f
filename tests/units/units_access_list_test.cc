// The access list a new units directory receives, as POSIX ACLs, and what it lets other
// accounts do. The Windows list is read back entry by entry in the Windows platform tests.
#include <acl/libacl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "acl_text.h"
#include "platform/dir_acl.h"
#include "platform/version.h"
#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

bool usersFullAccess(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS) {
  return aclText(path, type).find("group:users:rwx") != std::string::npos;
}

TEST_F(UnitsTest, UnitsDirectoryAccessList) {
  if (!aclsSupported()) GTEST_SKIP() << "no group users, or no ACLs on this file system";

  // Before NT 5 the new units directory gets no access list.
  std::string old = kivtest::home() + "/old";
  store().setStringW(L"dlox/common", L"configdata_location",
                     TQStringW().format(L"%hs", old.c_str()), 0);
  fs::create_directories(old + "/Agent");
  kiv::platform::testing::setWindowsVersion("4.0");
  UnitInfoW early = unit(L"early", L"User");
  ASSERT_EQ(addUnitW(&early, kUnitType), 0);
  kiv::platform::testing::setWindowsVersion(nullptr);
  EXPECT_TRUE(fs::is_directory(old + "/Agent/units/" + value(L"early", L"homedirectory")));
  EXPECT_FALSE(usersFullAccess(old + "/Agent/units"));

  // From NT 5 on: users get full access, inherited by the units' own directories.
  store().setStringW(L"dlox/common", L"configdata_location", L"", 0);
  UnitInfoW record = unit(L"u", L"User");
  ASSERT_EQ(addUnitW(&record, kUnitType), 0);
  EXPECT_TRUE(usersFullAccess(unitsDirectory()));
  EXPECT_TRUE(usersFullAccess(unitsDirectory(), ACL_TYPE_DEFAULT));
  EXPECT_TRUE(usersFullAccess(unitsDirectory() + "/" + value(L"u", L"homedirectory")));

  // Without default ACLs only the entry on the directory itself is set.
  std::string plain = kivtest::home() + "/plain";
  fs::create_directories(plain);
  kiv::platform::testing::setDefaultAclUnavailable(true);
  EXPECT_TRUE(kiv::platform::grantGroupFullAccess(plain, "users"));
  kiv::platform::testing::setDefaultAclUnavailable(false);
  EXPECT_TRUE(usersFullAccess(plain));
  EXPECT_FALSE(usersFullAccess(plain, ACL_TYPE_DEFAULT));
}

// Runs a shell command as an unprivileged account that owns nothing here, in group "users"
// or not; answers its exit status.
int runAsOther(bool inUsers, const std::string& command) {
  const gid_t users = getgrnam("users")->gr_gid;
  const std::string groups = inUsers ? "--groups=" + std::to_string(users) : "--clear-groups";
  return kivtest::run("setpriv --reuid=65534 --regid=65534 " + groups + " -- sh -c '" + command + "' 2>/dev/null");
}

unsigned modeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A fresh state root made by the product, then used by someone else: members of "users"
// may work in the units directory and the unit homes; nobody else gets in, and the rest of
// the root stays its owner's.
TEST_F(UnitsTest, MembersOfUsersWorkInUnitHomesAndNothingElseIsOpen) {
  if (geteuid() != 0 || !aclsSupported()) GTEST_SKIP() << "needs root to act as another user, a group users and ACLs";
  if (kivtest::run("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv";
  // Our temporary directory must let others through to the root below it.
  ASSERT_EQ(chmod(kivtest::home().c_str(), 0711), 0);
  const std::string root = kivtest::home() + "/fresh";
  std::string output;
  ASSERT_EQ(kivtest::run("KIV_HOME=" + root + " " + kivtest::binDir() + "/kiv units add alice 2>&1", &output), 0) << output;
  const std::string units = root + "/Agent/units";
  const std::string home = units + "/00000001";
  ASSERT_TRUE(fs::is_directory(home));

  EXPECT_EQ(runAsOther(true, "mkdir " + home + "/sub && echo x > " + home + "/sub/file && echo y > " + units + "/note"), 0)
      << "users have full control below the units directory";
  EXPECT_EQ(runAsOther(true, "rm " + home + "/sub/file && rmdir " + home + "/sub"), 0);
  EXPECT_NE(runAsOther(false, "echo x > " + home + "/other"), 0) << "outside users: no writing";

  EXPECT_EQ(modeOf(root), 0711u);
  EXPECT_EQ(modeOf(root + "/Agent"), 0711u);
  EXPECT_NE(runAsOther(true, "ls " + root), 0) << "the root may be passed, not listed";
  for (const char* name : {"config.db", "config.db-wal", "registry.db", "registry.db-wal"}) {
    const std::string path = root + "/" + name;
    if (!fs::exists(path)) continue;
    EXPECT_EQ(modeOf(path), 0600u) << name;
    EXPECT_NE(runAsOther(true, "cat " + path + " > /dev/null"), 0) << name;
  }
  for (const char* name : {"run", "log"}) {
    const std::string path = root + "/" + name;
    if (!fs::exists(path)) continue;
    EXPECT_EQ(modeOf(path), 0700u) << name;
    EXPECT_NE(runAsOther(true, "ls " + path), 0) << name;
  }
  EXPECT_TRUE(fs::exists(root + "/config.db"));
}

}  // namespace
}  // namespace unitstest
