// The host's utmp source (used where logind does not run): a login written to the utmp
// file is a session logon, its dead record the logoff; and a host with no source at all
// still runs and says so.
#include <gtest/gtest.h>
#include <utmp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host_sources/host_process.h"
#include "support/kiv_test.h"

namespace {

using kivtest::HostProcess;

// Without a reachable system bus the host cannot use logind.
const std::string kNoSystemBus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/kiv-test-bus";

void appendRecord(const std::string& path, short type, pid_t pid) {
  utmp record{};
  record.ut_type = type;
  record.ut_pid = pid;
  std::strncpy(record.ut_line, "pts/9", sizeof record.ut_line);
  std::strncpy(record.ut_id, "ts/9", sizeof record.ut_id);
  std::strncpy(record.ut_user, type == USER_PROCESS ? "alice" : "", sizeof record.ut_user);
  FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(&record, sizeof record, 1, file), 1u);
  std::fclose(file);
}

TEST(UtmpSourceTest, LoginAndDeadRecordsBecomeSessionLogonAndLogoff) {
  const std::string utmp = kivtest::home() + "/utmp";
  kivtest::writeFile(utmp, "");
  HostProcess host({kNoSystemBus, "KIV_UTMP=" + utmp});
  ASSERT_TRUE(host.waitUntilRunning()) << host.errorOutput();
  ASSERT_NE(host.errorOutput().find("session and power sources: utmp"), std::string::npos)
      << host.errorOutput();

  appendRecord(utmp, USER_PROCESS, 4242);
  ASSERT_TRUE(kivtest::waitFor(
      [&] { return host.sawEvent(R"({"code":8,"s1":"4242","s2":"","s3":""})"); }));
  appendRecord(utmp, DEAD_PROCESS, 4242);
  ASSERT_TRUE(kivtest::waitFor(
      [&] { return host.sawEvent(R"({"code":9,"s1":"4242","s2":"","s3":""})"); }));
  EXPECT_EQ(host.stop(), 0);
}

TEST(UtmpSourceTest, HostWithoutAnySourceStillRunsAndSaysSo) {
  HostProcess host({kNoSystemBus, "KIV_UTMP=" + kivtest::home() + "/missing/utmp"});
  ASSERT_TRUE(host.waitUntilRunning()) << host.errorOutput();
  EXPECT_NE(host.errorOutput().find("no session or power sources"), std::string::npos)
      << host.errorOutput();
  EXPECT_EQ(host.stop(), 0);
  EXPECT_TRUE(host.sawEvent(R"({"code":1,"s1":"","s2":"","s3":""})"));
}

}  // namespace
