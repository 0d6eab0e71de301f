// Notification messages end to end: sent over the real bus, handled by a live notifier,
// written to the real units database and reported to a recording host sink.

#include "ITQConfig.h"
#include "notifier/NotifierTest.h"
#include "tqNotify/notifier/ScopedLock.h"

namespace notifiertest {
namespace {

UnitInfoW readUnit(const wchar_t* name) {
  UnitInfoW unit;
  unit.name = name;
  TQStringA narrow;
  narrow.assign_unicode(name);
  EXPECT_EQ(getUnitExW(&unit, 0xffff), 0) << "unit " << narrow.c_str();
  return unit;
}

using MessageTest = NotifierTest;

TEST_F(MessageTest, DockedAndUndockedReportDeviceValues) {
  start("10.0");
  EXPECT_EQ(sendToNotifier("<Notification Type=\"Docked\"><Id>4711</Id><Type>dockingDevicePalm</Type></Notification>"), kSmTaken);
  EXPECT_EQ(sendToNotifier("<Notification Type=\"UnDocked\"><Type>dockingDevicePalm</Type></Notification>"), kSmTaken);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(sink_.events()[0], (Event{6, L"4711", L"dockingDevicePalm", L""}));
  EXPECT_EQ(sink_.events()[1], (Event{7, L"dockingDevicePalm", L"", L""}));
}

// NT 4.0 writes the units at once: unlike Windows 2000 it neither asks for the session's
// user nor waits up to 20 s for one (the scripted terminal services log every question, and
// the sender gives up well before 20 s).
TEST_F(MessageTest, LogonOnNt4WritesBothUnitsAndReportsLogonThenSession) {
  struct ScriptedTerminalServices {
    explicit ScriptedTerminalServices(const std::string& queries) {
      kivtest::setEnvironment("KIV_MODULE_PATH", KIV_FAKE_OSSERVICES_DIR, true);
      kivtest::setEnvironment("KIV_FAKE_QUERY_LOG", queries.c_str(), true);
    }
    ~ScriptedTerminalServices() {
      kivtest::unsetEnvironment("KIV_MODULE_PATH");
      kivtest::unsetEnvironment("KIV_FAKE_QUERY_LOG");
    }
  };
  const std::string queries = kivtest::home() + "/queries";
  ScriptedTerminalServices scripted(queries);
  keepShellRunning();
  kivtest::setEnvironment("KIV_COMPUTER_NAME", "PC1", true);
  start("4.0");
  const std::string logon = logonMessage("Logon", "alice", "CORP", "3");
  uint32_t status = 0xFFFFFFFF;
  ASSERT_EQ(SmSend("tqNotify", logon.c_str(), static_cast<uint32_t>(logon.size()), &status, 10000), 0);
  EXPECT_EQ(status, kSmTaken);
  EXPECT_EQ(kivtest::readFile(queries), "") << "sessions asked for their user";
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(sink_.events()[0], (Event{2, L"CORP\\alice", L".|CORP|alice", L"CORP|alice"}));
  EXPECT_EQ(sink_.events()[1], (Event{8, L"3", L"", L""}));

  const UnitInfoW computerUser = readUnit(L".|CORP|alice");
  EXPECT_EQ(computerUser.unittype, L"computerUser");
  EXPECT_EQ(computerUser.executioncontext, L"CORP\\alice");
  EXPECT_EQ(computerUser.triggable, 1);
  EXPECT_EQ(computerUser.domain, L"CORP");
  EXPECT_EQ(computerUser.user, L"alice");
  EXPECT_EQ(computerUser.localuser, 0);
  EXPECT_EQ(computerUser.uri, L"winnt://CORP/alice");
  EXPECT_FALSE(computerUser.homedirectory.empty());
  const UnitInfoW user = readUnit(L"CORP|alice");
  EXPECT_EQ(user.unittype, L"User");
  EXPECT_EQ(user.uri, L"winnt://CORP/alice");

  // The shell watcher now watches the user of this logon (read under its lock, as the
  // watcher reads them).
  ScopedLock lock(notifier_->watcherLock.get());
  EXPECT_EQ(notifier_->watchedUser, L"alice");
  EXPECT_EQ(notifier_->watchedUserUnit, L"CORP|alice");
  EXPECT_EQ(notifier_->watchedComputerUserUnit, L".|CORP|alice");
}

TEST_F(MessageTest, LogoffOnWindows2000ClearsTriggableInAnyLetterCase) {
  markWinLogonLibraryInstalled();
  start("5.0");
  ASSERT_EQ(notifier_->watchShell, 0);
  UnitInfoW existing;
  existing.name = L"CORP|alice";
  existing.unittype = L"User";
  existing.triggable = 1;
  ASSERT_EQ(addUnitW(&existing, kUnitType | kUnitTriggable), 0);

  EXPECT_EQ(sendToNotifier(logonMessage("logoff", "alice", "CORP", "2")), kSmTaken);
  ASSERT_TRUE(waitForEvents(2));
  EXPECT_EQ(sink_.events()[0], (Event{3, L"CORP\\alice", L".|CORP|alice", L"CORP|alice"}));
  EXPECT_EQ(sink_.events()[1], (Event{9, L"2", L"", L""}));
  const UnitInfoW user = readUnit(L"CORP|alice");
  EXPECT_EQ(user.triggable, 0);
  EXPECT_EQ(user.unittype, L"User");  // the rest of the unit is left alone
  EXPECT_EQ(readUnit(L".|CORP|alice").triggable, 0);  // created with only its triggable value
}

TEST_F(MessageTest, LogonAndLogoffMessagesAreIgnoredOnLaterVersions) {
  start("5.1");
  // A user no other test of this program writes: the units database lives as long as it.
  sendToNotifier(logonMessage("Logon", "ignored", "CORP", "3"));
  sendToNotifier(logonMessage("Logoff", "ignored", "CORP", "3"));
  sendToNotifier("<Notification Type=\"Reboot\"/>");
  EXPECT_EQ(kivtest::countTrace("Ignoring unknown Logon event notifcation"), 1);
  EXPECT_EQ(kivtest::countTrace("Ignoring unknown Logoff event notifcation"), 1);
  EXPECT_EQ(kivtest::countTrace("Ignoring unknown Reboot event notifcation"), 1);
  EXPECT_TRUE(sink_.events().empty());
  UnitInfoW unit;
  unit.name = L"CORP|ignored";
  EXPECT_EQ(getUnitExW(&unit, 0xffff), 5);
}

TEST_F(MessageTest, CallbackKindsContextAndShutdown) {
  start("10.0");
  SmMessage message{0, "<Notification Type=\"Docked\"><Id>1</Id></Notification>"};
  // Only kind 1 is a message to handle.
  EXPECT_EQ(onBusMessage(nullptr, nullptr, nullptr, 2, &message, notifier_), kSmTaken);
  EXPECT_TRUE(sink_.events().empty());
  shutdown();
  EXPECT_EQ(sink_.codes(), std::vector<int>{1});
  EXPECT_EQ(onBusMessage(nullptr, nullptr, nullptr, 1, &message, notifier_), kSmRefused);
  uint32_t status = 0;
  EXPECT_EQ(SmSend("tqNotify", message.text, 10, &status, 2000), kSmErrNoListener);
  EXPECT_EQ(sink_.codes(), std::vector<int>{1});
}

// A host that releases the plug-in without shutting it down leaves nothing running on the
// freed object.
TEST_F(MessageTest, ReleaseWithoutShutdownClosesTheEndpointAndStopsTheThreads) {
  keepShellRunning();
  start("4.0");
  notifier_->Release();
  notifier_ = nullptr;
  const std::string text = "<Notification Type=\"Docked\"><Id>1</Id></Notification>";
  uint32_t status = 0;
  EXPECT_EQ(SmSend("tqNotify", text.c_str(), static_cast<uint32_t>(text.size()), &status, 5000), kSmErrNoListener);
  EXPECT_TRUE(sink_.events().empty());
  TQFactory_Unload(module_);
  module_ = nullptr;
}

// A message that comes over the TCP listener from another machine is only traced.
TEST_F(MessageTest, RemoteMessageIsIgnoredWithItsTrace) {
  {
    TQptr<ITQConfig> config;
    TQUtilities_GetConfigEx(config.fill(), -1);
    ASSERT_TRUE(config);
    ASSERT_EQ(config->setStringW(L"dlox/common/kiv/bus", L"tcplisten", L"tcp://127.0.0.1:0", 0), 0);
  }
  start("10.0");
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_FALSE(address.empty());
  const std::string text = "<Notification Type=\"Docked\"><Id>1</Id><Type>t</Type></Notification>";
  uint32_t status = 0xFFFFFFFF;
  ASSERT_EQ(SmSendTo(address.c_str(), "tqNotify", text.c_str(), static_cast<uint32_t>(text.size()), &status, 20000), 0);
  EXPECT_EQ(status, kSmTaken);
  EXPECT_EQ(kivtest::countTrace("Ignoring notification from remote machine"), 1);
  EXPECT_TRUE(sink_.events().empty());
  // The same message from this machine is handled.
  EXPECT_EQ(sendToNotifier(text), kSmTaken);
  EXPECT_EQ(sink_.codes(), std::vector<int>{6});
}

// Names beyond ASCII, and beyond any one narrow code page, arrive as they were sent.
TEST_F(MessageTest, NamesInAnyScriptArriveIntact) {
  markWinLogonLibraryInstalled();
  start("5.0");
  EXPECT_EQ(sendToNotifier(logonMessage("Logoff", "j\u00f6rg", "\u041c\u041e\u0421\u041a\u0412\u0410", "2")), kSmTaken);
  ASSERT_TRUE(waitForEvents(2));
  const std::wstring domain = L"\u041c\u041e\u0421\u041a\u0412\u0410";
  EXPECT_EQ(sink_.events()[0],
            (Event{3, domain + L"\\j\u00f6rg", L".|" + domain + L"|j\u00f6rg", domain + L"|j\u00f6rg"}));
}

// Bad input of every kind is traced or dropped; the notifier keeps working afterwards.
TEST_F(MessageTest, MalformedMessagesAreDroppedWithoutHarm) {
  markWinLogonLibraryInstalled();
  start("5.0");
  const std::string bad[] = {
      "",
      "not xml at all",
      "<Notification Type=\"Docked\"><Id>1</Id>",           // unterminated
      "<Other Type=\"Docked\"><Id>1</Id></Other>",          // no Notification element
      "<Notification Type=\"Docked\"><Id>\xff\xfe</Id><Type>\xc3</Type></Notification>",
      std::string(100000, '<'),
  };
  for (const auto& text : bad) EXPECT_EQ(sendToNotifier(text), kSmTaken) << text.substr(0, 40);

  // Missing elements read as empty; odd session numbers are passed on as they came.
  sendToNotifier("<Notification Type=\"UnDocked\"/>");
  sendToNotifier(logonMessage("Logoff", "a&amp;b", "&lt;D&gt;", "99999999999999999999"));
  sendToNotifier(logonMessage("Logoff", "x", "y", "abc"));
  sendToNotifier("<Notification Type=\"Docked\"><Id>ok</Id><Type>t</Type></Notification>");
  ASSERT_TRUE(waitForEvents(7));
  const auto events = sink_.events();
  ASSERT_EQ(events.size(), 7u);
  // The invalid UTF-8 message still arrives, with replacement characters.
  EXPECT_EQ(events[0].code, 6);
  EXPECT_NE(events[0].s1.find(L'\xFFFD'), std::wstring::npos);
  EXPECT_EQ(events[1], (Event{7, L"", L"", L""}));
  EXPECT_EQ(events[2], (Event{3, L"<D>\\a&b", L".|<D>|a&b", L"<D>|a&b"}));
  EXPECT_EQ(events[3], (Event{9, L"99999999999999999999", L"", L""}));
  EXPECT_EQ(events[4], (Event{3, L"y\\x", L".|y|x", L"y|x"}));
  EXPECT_EQ(events[5], (Event{9, L"abc", L"", L""}));
  EXPECT_EQ(events[6], (Event{6, L"ok", L"t", L""}));
}

}  // namespace
}  // namespace notifiertest
