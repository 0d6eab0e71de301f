// The host's logind source against a private D-Bus daemon running a mock logind: signals
// emitted on the mock arrive at the plug-in as session and power events, each once.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

#include "host_sources/host_process.h"
#include "platform/process.h"
#include "platform/sessions.h"
#include "support/kiv_test.h"

namespace {

using kivtest::HostProcess;

std::string event(int code, const std::string& s1) {
  return "{\"code\":" + std::to_string(code) + ",\"s1\":\"" + s1 + "\",\"s2\":\"\",\"s3\":\"\"}";
}

class LogindSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/dbus-daemon", X_OK) != 0 ||
        kivtest::run("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) {
      GTEST_SKIP() << "dbus-daemon or python3-dbusmock is not installed";
    }
    const std::string socket = kivtest::home() + "/system_bus";
    const std::string config = kivtest::home() + "/bus.conf";
    kivtest::writeFile(config,
                       "<busconfig><type>system</type><listen>unix:path=" + socket +
                           "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                           "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>"
                           "<allow receive_sender=\"*\"/></policy></busconfig>");
    address_ = "unix:path=" + socket;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    daemon_ = kiv::platform::Process::startHidden(
        L"/usr/bin/dbus-daemon --nofork --config-file=" + widen(config));
    ASSERT_TRUE(daemon_);
    ASSERT_TRUE(kivtest::waitFor([&] { return access(socket.c_str(), F_OK) == 0; }));
    mock_ = kiv::platform::Process::startHidden(
        L"/usr/bin/python3 -m dbusmock --system --template logind");
    ASSERT_TRUE(mock_);
    ASSERT_TRUE(kivtest::waitFor([&] { return mockCall("ListSessions", "") == 0; }));
  }

  void TearDown() override {
    host_.reset();
    end(mock_);
    end(daemon_);
  }

  // Ends a daemon the fixture started and waits until it is gone: no test leaves one behind.
  static void end(std::unique_ptr<kiv::platform::Process>& process) {
    if (!process) return;
    ::kill(process->pid(), SIGTERM);
    if (process->wait(20000) != kiv::platform::kWaitObject0) {
      ::kill(process->pid(), SIGKILL);
      process->wait(kiv::platform::kInfinite);
    }
    process.reset();
  }

  static std::wstring widen(const std::string& text) { return {text.begin(), text.end()}; }

  // Calls a method of the mock's logind manager object through busctl.
  int mockCall(const std::string& interfaceAndMethod, const std::string& arguments,
               std::string* output = nullptr) {
    std::string interface = "org.freedesktop.login1.Manager";
    std::string method = interfaceAndMethod;
    if (auto dot = interfaceAndMethod.rfind('.'); dot != std::string::npos) {
      interface = interfaceAndMethod.substr(0, dot);
      method = interfaceAndMethod.substr(dot + 1);
    }
    return kivtest::run("busctl --address=" + address_ +
                            " call org.freedesktop.login1 /org/freedesktop/login1 " + interface +
                            " " + method + " " + arguments + " 2>&1",
                        output);
  }

  int emit(const std::string& signal, const std::string& signatureAndValues) {
    return mockCall("org.freedesktop.DBus.Mock.EmitSignal",
                    "sssav org.freedesktop.login1.Manager " + signal + " " + signatureAndValues);
  }

  int setSessionClass(const std::string& id, const std::string& kind) {
    return kivtest::run("busctl --address=" + address_ +
                        " call org.freedesktop.login1 /org/freedesktop/login1/session/" + id +
                        " org.freedesktop.DBus.Mock UpdateProperties sa{sv}"
                        " org.freedesktop.login1.Session 1 Class s " + kind + " >/dev/null 2>&1");
  }

  int inhibitorCount() {
    std::string output;
    mockCall("ListInhibitors", "", &output);
    // busctl prints "a(ssssuu) N ..."; N is the number of inhibitors.
    std::istringstream in(output);
    std::string signature;
    int count = -1;
    in >> signature >> count;
    return count;
  }

  void startHost() {
    host_ = std::make_unique<HostProcess>();
    ASSERT_TRUE(host_->waitUntilRunning()) << host_->errorOutput();
    ASSERT_NE(host_->errorOutput().find("session and power sources: logind"), std::string::npos)
        << host_->errorOutput();
  }

  std::string address_;
  std::unique_ptr<kiv::platform::Process> daemon_;
  std::unique_ptr<kiv::platform::Process> mock_;
  std::unique_ptr<HostProcess> host_;
};

TEST_F(LogindSourceTest, SessionsAndConsoleSwitchesArriveOnceWithTheirNumbers) {
  ASSERT_EQ(mockCall("org.freedesktop.DBus.Mock.AddSession", "ssusb 3 seat0 1000 alice true"), 0);
  startHost();  // session 3 exists before the host: not replayed

  // A second session on seat0 becomes active: console leaves 3, enters c2.
  ASSERT_EQ(mockCall("org.freedesktop.DBus.Mock.AddSession", "ssusb c2 seat0 1001 bob true"), 0);
  ASSERT_EQ(emit("SessionNew", "so 2 s c2 o /org/freedesktop/login1/session/c2"), 0);
  const std::string c2 = std::to_string(kiv::platform::sessionNumberFromId("c2"));
  ASSERT_TRUE(kivtest::waitFor([&] { return host_->sawEvent(event(8, c2)); }));
  EXPECT_TRUE(host_->sawEvent(event(14, "3")));
  EXPECT_TRUE(host_->sawEvent(event(13, c2)));

  // "closing" reported as a logoff, and the later SessionRemoved does not repeat it.
  ASSERT_EQ(kivtest::run("busctl --address=" + address_ +
                         " call org.freedesktop.login1 /org/freedesktop/login1/session/c2"
                         " org.freedesktop.DBus.Mock UpdateProperties sa{sv}"
                         " org.freedesktop.login1.Session 1 State s closing"),
            0);
  ASSERT_TRUE(kivtest::waitFor([&] { return host_->sawEvent(event(9, c2)); }));
  ASSERT_EQ(emit("SessionRemoved", "so 2 s c2 o /org/freedesktop/login1/session/c2"), 0);
  ASSERT_EQ(emit("SessionRemoved", "so 2 s 3 o /org/freedesktop/login1/session/3"), 0);
  ASSERT_TRUE(kivtest::waitFor([&] { return host_->sawEvent(event(9, "3")); }));

  EXPECT_EQ(host_->stop(), 0);
  int logons = 0, logoffs = 0;
  for (const auto& line : host_->events()) {
    logons += line == event(8, c2);
    logoffs += line == event(9, c2);
  }
  EXPECT_EQ(logons, 1);
  EXPECT_EQ(logoffs, 1);
  EXPECT_FALSE(host_->sawEvent(event(8, "3")));
}

// A display manager's greeter or lock screen has a session of its own with no user logged
// on in it: neither its start nor its end is a logon or logoff.
TEST_F(LogindSourceTest, OnlySessionsOfClassUserAreLogons) {
  ASSERT_EQ(mockCall("org.freedesktop.DBus.Mock.AddSession", "ssusb g0 seat0 120 gdm false"), 0);
  ASSERT_EQ(setSessionClass("g0", "greeter"), 0);
  startHost();  // a greeter that exists at the start is not remembered as a logon either
  ASSERT_EQ(mockCall("org.freedesktop.DBus.Mock.AddSession", "ssusb g1 seat0 120 gdm false"), 0);
  ASSERT_EQ(setSessionClass("g1", "lock-screen"), 0);
  ASSERT_EQ(emit("SessionNew", "so 2 s g1 o /org/freedesktop/login1/session/g1"), 0);
  ASSERT_EQ(emit("SessionRemoved", "so 2 s g1 o /org/freedesktop/login1/session/g1"), 0);
  ASSERT_EQ(emit("SessionRemoved", "so 2 s g0 o /org/freedesktop/login1/session/g0"), 0);

  // Signals are handled in order: once the user's logon is there, the others were seen.
  ASSERT_EQ(mockCall("org.freedesktop.DBus.Mock.AddSession", "ssusb 7 seat0 1000 alice false"), 0);
  ASSERT_EQ(emit("SessionNew", "so 2 s 7 o /org/freedesktop/login1/session/7"), 0);
  ASSERT_TRUE(kivtest::waitFor([&] { return host_->sawEvent(event(8, "7")); }));
  EXPECT_EQ(host_->stop(), 0);
  for (const char* id : {"g0", "g1"}) {
    const std::string number = std::to_string(kiv::platform::sessionNumberFromId(id));
    EXPECT_FALSE(host_->sawEvent(event(8, number))) << id;
    EXPECT_FALSE(host_->sawEvent(event(9, number))) << id;
  }
}

TEST_F(LogindSourceTest, SleepIsReportedWhileTheDelayInhibitorIsHeld) {
  startHost();
  ASSERT_TRUE(kivtest::waitFor([&] { return inhibitorCount() == 1; }));

  ASSERT_EQ(emit("PrepareForSleep", "b 1 b true"), 0);
  ASSERT_TRUE(kivtest::waitFor(
      [] { return kivtest::traced("KIV sent me a power state notification. Event = 4"); }));
  ASSERT_TRUE(kivtest::waitFor([&] { return inhibitorCount() == 0; }));  // released after

  ASSERT_EQ(emit("PrepareForSleep", "b 1 b false"), 0);
  ASSERT_TRUE(kivtest::waitFor(
      [] { return kivtest::traced("KIV sent me a power state notification. Event = 7"); }));
  ASSERT_TRUE(kivtest::waitFor([&] { return inhibitorCount() == 1; }));  // taken again
  EXPECT_EQ(kivtest::countTrace("KIV sent me a power state notification. Event = 4"), 1);
  EXPECT_EQ(host_->stop(), 0);
}

}  // namespace
