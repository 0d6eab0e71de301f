// Sessions as sd-login reads them from logind's files under /run/systemd, through the
// session enumerator and terminal services: the number made from a session id leads back
// to that session's user, also while logind is still opening the session (when it
// announces it, and when the host asks). The files are logind's own format, written to a
// /run of the test's own (a private mount namespace; root only).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <map>
#include <string>

#include "TQOSServices.h"
#include "components/component_test_util.h"
#include "platform/sessions.h"
#include "support/kiv_test.h"
#include "tqNotify/framework/TQptr.h"

namespace {

void writeSession(const std::string& id, const std::string& fields) {
  kivtest::writeFile("/run/systemd/sessions/" + id, fields);
}

// A /run that only this process sees, with a booted systemd and running logind in it.
bool privateRun() {
  if (::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) return false;
  for (const char* dir : {"/run/systemd", "/run/systemd/system", "/run/systemd/seats",
                          "/run/systemd/sessions"}) {
    if (::mkdir(dir, 0755) != 0) return false;
  }
  return true;
}

}  // namespace

TEST(LogindSessions, NumbersLeadBackToTheirSessionsAndUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace of its own";
  if (kivtest::ranInOwnProcess("unshare --mount --propagation private ")) return;
  ASSERT_TRUE(privateRun());
  unsetenv("KIV_UTMP");
  setenv("KIV_COMPUTER_NAME", "PC1", 1);
  // c1: a terminal logon in a container, scope still starting; 7: a numeric id, not in the
  // foreground; c2: a greeter; c3: logged out, processes lingering.
  writeSession("c1", "UID=0\nUSER=root\nACTIVE=1\nSTATE=opening\nCLASS=user\nTYPE=tty\n");
  writeSession("7", "UID=0\nUSER=root\nACTIVE=0\nSTATE=online\nCLASS=user\nTYPE=tty\n");
  writeSession("c2", "UID=0\nUSER=root\nACTIVE=1\nSTATE=active\nCLASS=greeter\nTYPE=x11\n");
  writeSession("c3", "UID=0\nUSER=root\nACTIVE=0\nSTATE=closing\nCLASS=user\nTYPE=tty\n");
  ASSERT_EQ(kiv::platform::sessionSource(), kiv::platform::SessionSource::kLogind);

  const uint32_t c1 = kiv::platform::sessionNumberFromId("c1");
  const uint32_t c3 = kiv::platform::sessionNumberFromId("c3");
  TQptr<TQOSTSEnum> sessions;
  ASSERT_TRUE(sessions.CreateInstanceV1(L"tqOSServices", "TQOSTSEnum"));
  EXPECT_EQ(componenttest::listedSessions(sessions.get()),
            (std::map<uint32_t, int>{{c1, kiv::platform::kSessionActive},
                                     {7u, kiv::platform::kSessionDisconnected},
                                     {c3, kiv::platform::kSessionDown}}));

  TQptr<TQOSTerminalServices> terminal;
  ASSERT_TRUE(terminal.CreateInstance(L"tqOSServices", "TQOSTerminalServices"));
  for (uint32_t session : {c1, 7u}) {
    TQptr<TQOSSessionUser> user;
    ASSERT_EQ(terminal->querySessionUser(session, user.fill()), 0) << session;
    EXPECT_STREQ(user->accountName(), L"PC1\\root");
  }
  TQptr<TQOSSessionUser> nobody;
  EXPECT_NE(terminal->querySessionUser(c3, nobody.fill()), 0);
  EXPECT_NE(terminal->querySessionUser(kiv::platform::sessionNumberFromId("c2"), nobody.fill()), 0);
}
