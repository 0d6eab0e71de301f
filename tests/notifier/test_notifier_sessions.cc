// Session and power events from the host, with sessions and users scripted by the fake
// tqOSServices module.
#include <cstdlib>

#include "notifier/NotifierTest.h"

namespace notifiertest {
namespace {

class SessionTest : public NotifierTest {
 protected:
  void SetUp() override {
    kivtest::setEnvironment("KIV_MODULE_PATH", KIV_FAKE_OSSERVICES_DIR, true);
    kivtest::setEnvironment("KIV_COMPUTER_NAME", "PC1", true);
    script_ = kivtest::home() + "/sessions.txt";
    kivtest::setEnvironment("KIV_FAKE_SESSIONS", script_.c_str(), true);
    sessions("");
  }

  // One session a line: "number state [domain user]".
  void sessions(const std::string& lines) { kivtest::writeFile(script_, lines); }

  void session(int event, const wchar_t* number) {
    TQStringW s1;
    s1.format(L"%d", event);
    notifier_->OnEventW(15, nullptr, s1, TQStringW(number), TQStringW());
  }
  void power(const wchar_t* event) {
    notifier_->OnEventW(16, nullptr, TQStringW(event), TQStringW(), TQStringW());
  }

  std::string script_;
};

TEST_F(SessionTest, TableIsFilledAtConstructionWithActiveAndDisconnectedSessionsOnly) {
  sessions("0 0 PC1 admin\n3 4 CORP alice\n4 6 CORP listener\n5 0\n7 1 CORP carol\n3 0 CORP other\n");
  create("5.1");
  EXPECT_EQ(notifier_->watchShell, 0);
  const SessionTable expected{{0, L"PC1\\admin"}, {3, L"CORP\\alice"}};
  EXPECT_EQ(notifier_->sessionUsers, expected);
}

TEST_F(SessionTest, NoTableOnOlderVersions) {
  sessions("3 0 CORP alice\n");
  create("5.0");
  EXPECT_TRUE(notifier_->sessionUsers.empty());
  EXPECT_EQ(notifier_->watchShell, 1);
}

TEST_F(SessionTest, LogonWithAndWithoutUser) {
  start("5.1");
  sessions("3 0 CORP alice\n");
  session(5, L"3");
  session(5, L"4");  // nobody logged on there
  EXPECT_EQ(sink_.events(), (std::vector<Event>{{2, L"CORP\\alice", L".|CORP|alice", L"CORP|alice"},
                                                {8, L"3", L"", L""},
                                                {8, L"4", L"", L""}}));
  EXPECT_EQ(notifier_->sessionUsers.at(3), L"CORP\\alice");
  EXPECT_EQ(notifier_->sessionUsers.count(4), 0u);
  EXPECT_TRUE(kivtest::traced("no logged on user detected for session 4"));
  UnitInfoW unit;
  unit.name = L"CORP|alice";
  ASSERT_EQ(getUnitExW(&unit, 0xffff), 0);
  EXPECT_EQ(unit.triggable, 1);
  EXPECT_EQ(unit.uri, L"winnt://CORP/alice");

  // A second logon in the same session replaces the entry.
  sessions("3 0 pc1 bob\n");
  session(5, L"3");
  EXPECT_EQ(notifier_->sessionUsers.at(3), L"pc1\\bob");
  EXPECT_EQ(sink_.events()[3], (Event{2, L"pc1\\bob", L".|.|bob", L".|bob"}));
  unit.name = L".|bob";
  ASSERT_EQ(getUnitExW(&unit, kUnitLocalUser), 0);
  EXPECT_EQ(unit.localuser, 1);
}

TEST_F(SessionTest, LogoffReportsRecordedUserThenSessionThenConsoleBelowVista) {
  sessions("3 0 CORP alice\n0 0 PC1 admin\n");
  start("5.1");
  session(6, L"3");
  session(6, L"3");  // no entry any more
  session(6, L"0");
  EXPECT_EQ(sink_.events(), (std::vector<Event>{{3, L"CORP\\alice", L".|CORP|alice", L"CORP|alice"},
                                                {9, L"3", L"", L""},
                                                {14, L"3", L"", L""},
                                                {9, L"3", L"", L""},
                                                {14, L"3", L"", L""},
                                                {3, L"PC1\\admin", L".|.|admin", L".|admin"},
                                                {9, L"0", L"", L""}}));
  EXPECT_TRUE(notifier_->sessionUsers.empty());
  UnitInfoW unit;
  unit.name = L".|CORP|alice";
  ASSERT_EQ(getUnitExW(&unit, kUnitTriggable), 0);
  EXPECT_EQ(unit.triggable, 0);
}

TEST_F(SessionTest, LogoffOnVistaReportsNoConsoleEvent) {
  sessions("3 0 CORP alice\n");
  start("6.0");
  session(6, L"3");
  EXPECT_EQ(sink_.codes(), (std::vector<int>{3, 9}));
}

TEST_F(SessionTest, ConsoleEventsAndIgnoredEvents) {
  start("10.0");
  session(1, L"2");
  session(2, L"2");
  session(3, L"2");
  session(4, L"2");
  session(0, L"2");
  notifier_->OnEventW(99, nullptr, TQStringW(L"5"), TQStringW(L"2"), TQStringW());
  EXPECT_EQ(sink_.events(), (std::vector<Event>{{13, L"2", L"", L""}, {14, L"2", L"", L""}}));
  // The session text is passed on as received, not re-formatted.
  session(1, L"007");
  EXPECT_EQ(sink_.events().back(), (Event{13, L"007", L"", L""}));
}

TEST_F(SessionTest, OddSessionNumbersAreNeverACrash) {
  start("5.1");
  sessions("4294967295 0 CORP max\n");
  notifier_->sessionUsers[0] = L"PC1\\admin";
  session(5, L"99999999999999999999");  // beyond 32 bits: the largest session number
  EXPECT_EQ(notifier_->sessionUsers.at(4294967295u), L"CORP\\max");
  session(6, L"not a number");  // reads as session 0
  EXPECT_EQ(notifier_->sessionUsers.count(0), 0u);
  EXPECT_EQ(sink_.events().back(), (Event{9, L"not a number", L"", L""}));
}

TEST_F(SessionTest, PowerEventsDriveTheSuspendState) {
  start("10.0");
  power(L"4");
  EXPECT_EQ(notifier_->suspended, 1);
  power(L"6");
  power(L"18");
  EXPECT_EQ(notifier_->suspended, 1);
  power(L"7");
  EXPECT_EQ(notifier_->suspended, 0);
  EXPECT_EQ(kiv::platform::waitOne(notifier_->resumeEvent->handle(), 0), kiv::platform::kWaitObject0);
  power(L"4");
  notifier_->OnEventA(16, nullptr, TQStringA("8"), TQStringA(), TQStringA());
  EXPECT_EQ(notifier_->suspended, 0);
  EXPECT_EQ(kivtest::countTrace("KIV sent me a power state notification. Event = "), 6);
  EXPECT_TRUE(sink_.events().empty());
}

}  // namespace
}  // namespace notifiertest
