// The units directory and everything created below it are closed to accounts outside group
// "users", whatever umask the process had that created them: root's shell usually has 022.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "acl_text.h"
#include "support/kiv_test.h"
#include "units_fixture.h"

namespace unitstest {
namespace {

namespace fs = std::filesystem;

bool has(const std::string& text, const std::string& entry) { return text.find(entry) != std::string::npos; }

class UmaskOf {
 public:
  explicit UmaskOf(mode_t mask) : previous_(umask(mask)) {}
  ~UmaskOf() { umask(previous_); }
  UmaskOf(const UmaskOf&) = delete;
  UmaskOf& operator=(const UmaskOf&) = delete;

 private:
  mode_t previous_;
};

// Exit status of a shell command run as an unprivileged account outside group "users".
int runAsOutsider(const std::string& command) {
  return kivtest::run("setpriv --reuid=65534 --regid=65534 --clear-groups -- sh -c '" + command + "' 2>/dev/null");
}

TEST_F(UnitsTest, UnitFilesAreClosedToOthersWhateverTheUmask) {
  if (!aclsSupported()) GTEST_SKIP() << "no group users, or no ACLs on this file system";
  UmaskOf shellUmask(022);
  ASSERT_EQ(chmod(kivtest::home().c_str(), 0711), 0);  // lets others reach the root below
  const std::string root = kivtest::home() + "/fresh";
  const std::string kiv = "KIV_HOME=" + root + " " + kivtest::binDir() + "/kiv units add ";
  std::string output;
  ASSERT_EQ(kivtest::run(kiv + "alice 2>&1", &output), 0) << output;
  // Added later by another process, below a directory that already exists.
  ASSERT_EQ(kivtest::run(kiv + "bob 2>&1", &output), 0) << output;
  const std::string units = root + "/Agent/units";
  const std::string alice = units + "/00000001";
  ASSERT_TRUE(fs::is_directory(units + "/00000002"));
  // Files that someone else's program writes into a unit home.
  ASSERT_EQ(kivtest::run("umask 022; echo secret > " + alice + "/file && mkdir " + alice + "/sub"), 0);

  for (const std::string& directory : {units, alice, units + "/00000002", alice + "/sub"}) {
    for (acl_type_t type : {ACL_TYPE_ACCESS, ACL_TYPE_DEFAULT}) {
      const std::string acl = aclText(directory, type);
      EXPECT_TRUE(has(acl, "other::---")) << directory << ":\n" << acl;
      EXPECT_TRUE(has(acl, "group::---")) << directory << ":\n" << acl;
      EXPECT_TRUE(has(acl, "group:users:rwx")) << directory << ":\n" << acl;
    }
  }
  const std::string file = aclText(alice + "/file", ACL_TYPE_ACCESS);
  EXPECT_TRUE(has(file, "other::---")) << file;
  EXPECT_TRUE(has(file, "group:users:rwx")) << file;

  if (geteuid() != 0 || kivtest::run("command -v setpriv >/dev/null") != 0) return;
  // The outsider can run and reach the units directory, so only its access list can make
  // the reads below fail.
  ASSERT_EQ(runAsOutsider("true"), 0) << "setpriv cannot run a command as uid 65534";
  ASSERT_EQ(runAsOutsider("stat " + units + " >/dev/null"), 0) << "the outsider cannot reach " << units;
  EXPECT_NE(runAsOutsider("ls " + units), 0) << "outside users: the units cannot be listed";
  EXPECT_NE(runAsOutsider("ls " + alice), 0);
  EXPECT_NE(runAsOutsider("cat " + alice + "/file"), 0) << "outside users: unit files cannot be read";
}

}  // namespace
}  // namespace unitstest
