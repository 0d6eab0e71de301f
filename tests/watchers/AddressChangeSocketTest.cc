// Address-change sockets in a network namespace of the test's own: a change makes the
// family's socket readable, re-arming drains it, and an overflowed queue still counts.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

#include "WatcherHarness.h"
#include "platform/address_change.h"
#include "support/kiv_test.h"

namespace {

using kiv::platform::AddressChangeSocket;
using kiv::platform::AddressFamily;

std::unique_ptr<AddressChangeSocket> armedSocket(AddressFamily family) {
  auto socket = AddressChangeSocket::open(family);
  if (!socket || !socket->setNonBlocking() || !socket->requestNotification() ||
      !socket->joinChangeGroup()) {
    ADD_FAILURE() << "address-change socket set-up failed: " << std::strerror(errno);
    return nullptr;
  }
  return socket;
}

bool readable(const AddressChangeSocket& socket, int timeoutMs) {
  pollfd entry{socket.handle().fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1;
}

class AddressChangeSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
  }
};

TEST_F(AddressChangeSocketTest, EachFamilySeesOnlyItsOwnChangesAndRearmingDrains) {
  auto ipv4 = armedSocket(AddressFamily::kIPv4);
  auto ipv6 = armedSocket(AddressFamily::kIPv6);
  ASSERT_TRUE(ipv4 && ipv6);
  EXPECT_FALSE(ipv4->rearm());

  watchertest::ip("addr add 10.200.0.1/32 dev lo");
  watchertest::ip("addr add 10.200.0.2/32 dev lo");
  ASSERT_TRUE(readable(*ipv4, 20000));
  EXPECT_TRUE(ipv4->rearm());
  EXPECT_FALSE(readable(*ipv4, 0)) << "both changes must be drained by one re-arm";

  watchertest::ip("addr add fd00::1/128 dev lo");
  ASSERT_TRUE(readable(*ipv6, 20000));
  EXPECT_FALSE(readable(*ipv4, 0));
  EXPECT_TRUE(ipv6->rearm());
  EXPECT_FALSE(readable(*ipv6, 0));
}

TEST_F(AddressChangeSocketTest, OverflowedQueueCountsAsAChangeAndIsCleared) {
  auto ipv4 = armedSocket(AddressFamily::kIPv4);
  ASSERT_TRUE(ipv4);
  const int tiny = 1;  // the kernel raises it to its minimum, a few notifications at most
  ASSERT_EQ(::setsockopt(ipv4->handle().fd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny), 0);
  std::string batch;
  for (int i = 1; i <= 100; ++i) batch += "addr add 10.201.0." + std::to_string(i) + "/32 dev lo\n";
  kivtest::writeFile(kivtest::home() + "/batch", batch);
  watchertest::ip("-batch " + kivtest::home() + "/batch");

  EXPECT_TRUE(ipv4->rearm());
  EXPECT_FALSE(readable(*ipv4, 0));
  watchertest::ip("addr add 10.202.0.1/32 dev lo");
  EXPECT_TRUE(readable(*ipv4, 20000)) << "the socket must keep working after an overflow";
}

}  // namespace
