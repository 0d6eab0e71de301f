// Terminal services and the session enumerator over a synthetic utmp file named by
// KIV_UTMP: which records are sessions, their numbers and states, and how login names
// split into user and domain.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <utmp.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "TQOSServices.h"
#include "component_test_util.h"
#include "platform/sessions.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

using componenttest::narrow;

namespace {

struct utmp record(short type, int pid, const char* id, const char* user) {
  struct utmp entry {};
  entry.ut_type = type;
  entry.ut_pid = pid;
  std::strncpy(entry.ut_id, id, sizeof entry.ut_id);
  std::strncpy(entry.ut_line, (std::string("pts/") + id).c_str(), sizeof entry.ut_line);
  std::strncpy(entry.ut_user, user, sizeof entry.ut_user);
  return entry;
}

class Sessions : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = kivtest::home() + "/utmp";
    std::ofstream file(path, std::ios::binary);
    for (const struct utmp& entry : {
             record(BOOT_TIME, 0, "", "reboot"),
             record(LOGIN_PROCESS, 90, "tty1", "LOGIN"),
             record(USER_PROCESS, 101, "1", "CORP\\alice"),
             record(USER_PROCESS, 102, "2", "bob@example.org"),
             record(USER_PROCESS, 103, "3", "carol"),
             record(USER_PROCESS, 104, "4", "dave"),
             record(DEAD_PROCESS, 104, "4", ""),  // dave has logged out
             record(DEAD_PROCESS, 105, "5", "erin"),
         }) {
      file.write(reinterpret_cast<const char*>(&entry), sizeof entry);
    }
    file.write("torn", 4);  // a partial record at the end is ignored
    setenv("KIV_UTMP", path.c_str(), 1);
    setenv("KIV_COMPUTER_NAME", "PC1", 1);
  }
};

struct User {
  std::string user, domain, account, uri;
};

User userOf(TQOSSessionUser* user) {
  return {narrow(user->userName()), narrow(user->domainName()), narrow(user->accountName()),
          narrow(user->uri())};
}

}  // namespace

TEST_F(Sessions, KivUtmpIsTheOnlySourceWhenSet) {
  EXPECT_EQ(kiv::platform::sessionSource(), kiv::platform::SessionSource::kUtmp);
  TQptr<TQOSTSEnum> sessions;
  ASSERT_TRUE(sessions.CreateInstanceV1(L"tqOSServices", "TQOSTSEnum"));
  EXPECT_EQ(componenttest::listedSessions(sessions.get()),
            (std::map<uint32_t, int>{{101, 0}, {102, 0}, {103, 0}}));
  uint32_t number = 0;
  int state = 0;
  EXPECT_NE(sessions->getSession(sessions->count(), &number, 0, &state), 0);
}

TEST_F(Sessions, LoginNamesSplitIntoUserAndDomain) {
  TQptr<TQOSTerminalServices> terminal;
  ASSERT_TRUE(terminal.CreateInstance(L"tqOSServices", "TQOSTerminalServices"));
  EXPECT_EQ(terminal->query(), 0);

  const std::map<uint32_t, User> expected = {
      {101, {"alice", "CORP", "CORP\\alice", "winnt://CORP/alice"}},
      {102, {"bob", "example.org", "example.org\\bob", "winnt://example.org/bob"}},
      {103, {"carol", "PC1", "PC1\\carol", "winnt://PC1/carol"}},
  };
  for (const auto& [session, want] : expected) {
    TQptr<TQOSSessionUser> user;
    ASSERT_EQ(terminal->querySessionUser(session, user.fill()), 0) << session;
    const User got = userOf(user.get());
    EXPECT_EQ(got.user, want.user);
    EXPECT_EQ(got.domain, want.domain);
    EXPECT_EQ(got.account, want.account);
    EXPECT_EQ(got.uri, want.uri);
  }
  // Logged out, never a login, or unknown: nobody there.
  for (uint32_t session : {104u, 105u, 90u, 7u}) {
    TQptr<TQOSSessionUser> user;
    EXPECT_NE(terminal->querySessionUser(session, user.fill()), 0) << session;
    EXPECT_FALSE(user);
  }
}

TEST(SessionNumbers, DecimalIdsKeepTheirNumberOthersGetAStableHighOne) {
  EXPECT_EQ(kiv::platform::sessionNumberFromId("3"), 3u);
  EXPECT_EQ(kiv::platform::sessionNumberFromId("2147483647"), 2147483647u);
  const uint32_t c1 = kiv::platform::sessionNumberFromId("c1");
  EXPECT_GE(c1, 0x80000000u);
  EXPECT_EQ(c1, kiv::platform::sessionNumberFromId("c1"));
  EXPECT_NE(c1, kiv::platform::sessionNumberFromId("c2"));
  EXPECT_GE(kiv::platform::sessionNumberFromId("99999999999"), 0x80000000u);
}
