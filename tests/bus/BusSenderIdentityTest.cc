// Who may have a message taken by a local endpoint: root and the user the endpoint runs as,
// told by the kernel, not by the bus directory's mode. Senders of another user are run
// through setpriv as "nobody".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

namespace {

constexpr const char* kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

int kivSend(const std::string& prefix, std::string* output) {
  return kivtest::run(prefix + kivtest::binDir() + "/kiv send undocked --type palm 2>&1", output);
}

// Opens the way to the endpoint for everybody, as a careless administrator would.
void openTheBusToEverybody(const char* endpoint) {
  std::filesystem::path path = kivtest::home() + "/run/bus";
  std::filesystem::create_directories(path);
  for (; path != path.root_path(); path = path.parent_path()) {
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    ::chmod(path.c_str(), info.st_mode | 0755);
  }
  ::chmod((kivtest::home() + "/run/bus").c_str(), 0777);
  ::chmod((kivtest::home() + "/run/bus/" + endpoint).c_str(), 0777);
}

}  // namespace

TEST(BusSender, AnotherUserIsRefusedAndTracedOnceAMinuteWhileRootIsAccepted) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  bustest::TestEndpoint endpoint("tqNotify");
  ASSERT_EQ(endpoint.openResult(), 0);
  openTheBusToEverybody("tqNotify");

  std::string output;
  EXPECT_EQ(kivSend(kAsNobody, &output), 3) << output;
  EXPECT_EQ(endpoint.calls(), 0);
  const std::string refusal = "endpoint tqNotify: turned away 1 message(s) as only root may send here, from uid 65534 (1)";
  EXPECT_TRUE(kivtest::waitFor([&] { return kivtest::traced(refusal); }));
  // Another user sending again and again does not fill the trace: the next refusals wait
  // for the line of the minute.
  EXPECT_EQ(kivSend(kAsNobody, &output), 3) << output;
  EXPECT_EQ(endpoint.calls(), 0);
  EXPECT_EQ(kivtest::countTrace("message(s)"), 1);

  EXPECT_EQ(kivSend("", &output), 0) << output;
  EXPECT_EQ(endpoint.calls(), 1);
  EXPECT_TRUE(kivtest::traced("endpoint tqNotify: message of "));
  EXPECT_TRUE(kivtest::traced(" bytes from pid "));
}

TEST(BusSender, TheEndpointsOwnUserIsAccepted) {
  if (::geteuid() == 0 && kivtest::ranInOwnProcess(kAsNobody)) return;
  ASSERT_NE(::geteuid(), 0u);
  bustest::TestEndpoint endpoint("tqNotify");
  ASSERT_EQ(endpoint.openResult(), 0);
  std::string output;
  EXPECT_EQ(kivSend("", &output), 0) << output;
  EXPECT_EQ(endpoint.calls(), 1);
}
