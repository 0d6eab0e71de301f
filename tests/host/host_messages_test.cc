// Messages to `kiv host` as other programs send them: host events from another machine are
// refused, and a logon that waits for its session's user is answered, not given up on.
#include <gtest/gtest.h>

#include <string>

#include "ITQConfig.h"
#include "TQSMCAPI.h"
#include "host/HostFixture.h"
#include "tqUtilities.h"

namespace hosttest {
namespace {

// A session logon or console switch from another machine would speak for this one.
TEST_F(HostTest, HostEventsFromAnotherMachineAreRefusedAndNotDelivered) {
  {
    ITQConfig* config = nullptr;
    TQUtilities_GetConfigEx(&config, -1);
    ASSERT_NE(config, nullptr);
    ASSERT_EQ(config->setStringW(L"dlox/common/kiv/bus", L"tcplisten", L"tcp://127.0.0.1:0", 0), 0);
    config->Release();
  }
  startHost({"--json"});
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;

  for (const char* event : {"<HostEvent code=\"15\" s1=\"1\" s2=\"3\" s3=\"\"/>",
                            "<HostEvent code=\"15\" s1=\"5\" s2=\"0\" s3=\"\"/>",
                            "<HostEvent code=\"16\" s1=\"4\" s2=\"\" s3=\"\"/>"}) {
    const std::string text = event;
    uint32_t status = 0;
    ASSERT_EQ(SmSendTo(address.c_str(), "tqHost", text.data(), text.size(), &status, 20000), 0);
    EXPECT_EQ(status, kSmRefused) << text;
  }
  // The same from this machine is delivered.
  std::string output;
  EXPECT_EQ(runKiv({"send", "host-event", "15", "1", "4"}, &output), 0) << output;
  ASSERT_TRUE(kivtest::waitFor([&] { return printed("{\"code\":13,\"s1\":\"4\",\"s2\":\"\",\"s3\":\"\"}"); }));
  EXPECT_EQ(stopHost(), 0);

  EXPECT_FALSE(printed("{\"code\":13,\"s1\":\"3\",\"s2\":\"\",\"s3\":\"\"}")) << kivtest::readFile(out());
  EXPECT_FALSE(printed("{\"code\":8,\"s1\":\"0\",\"s2\":\"\",\"s3\":\"\"}")) << kivtest::readFile(out());
  EXPECT_FALSE(kivtest::traced("power state notification"));
  EXPECT_EQ(kivtest::countTrace("refused a message from another machine on bus endpoint \"tqHost\""), 3);
}

#ifndef _WIN32
// On Windows 2000 a logon waits up to 20 s for its session's user; a sender that uses the
// default time gets the answer instead of giving up on a message that is then handled.
// (The version is set through KIV_WINDOWS_VERSION, which only the Linux build reads.)
TEST_F(HostTest, LogonThatWaitsForItsUserIsAnsweredWithinTheDefaultTime) {
  ScopedSetting version("KIV_WINDOWS_VERSION", "5.0");
  startHost({"--json"});
  std::string output;
  EXPECT_EQ(runKiv({"send", "logon", "--user", "alice", "--domain", "CORP", "--session", "4242"}, &output), 0) << output;
  EXPECT_TRUE(printed("{\"code\":2,\"s1\":\"CORP\\\\alice\",\"s2\":\".|CORP|alice\",\"s3\":\"CORP|alice\"}"))
      << kivtest::readFile(out());
  EXPECT_TRUE(printed("{\"code\":8,\"s1\":\"4242\",\"s2\":\"\",\"s3\":\"\"}"));
  EXPECT_EQ(stopHost(), 0);
}
#endif

}  // namespace
}  // namespace hosttest
