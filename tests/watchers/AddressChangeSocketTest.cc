// An address-change socket whose queue overflowed still reports the change, and re-arming
// clears the overflow so later changes are seen again.
#include <poll.h>
#include <sys/socket.h>

#include "WatcherHarness.h"
#include "platform/address_change.h"

namespace {

bool readable(const kiv::platform::AddressChangeSocket& socket, int timeoutMs) {
  pollfd entry{socket.handle().fd, POLLIN, 0};
  return ::poll(&entry, 1, timeoutMs) == 1;
}

TEST(AddressChangeSocketTest, OverflowedQueueCountsAsAChangeAndIsCleared) {
  std::string why;
  if (!watchertest::enterFreshNetworkNamespace(&why)) GTEST_SKIP() << why;
  auto ipv4 = kiv::platform::AddressChangeSocket::open(kiv::platform::AddressFamily::kIPv4);
  ASSERT_TRUE(ipv4 && ipv4->setNonBlocking() && ipv4->requestNotification() && ipv4->joinChangeGroup());
  const int tiny = 1;  // the kernel raises it to its minimum: a few notifications at most
  ASSERT_EQ(::setsockopt(ipv4->handle().fd, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny), 0);
  std::string batch;
  for (int i = 1; i <= 100; ++i) batch += "addr add 10.201.0." + std::to_string(i) + "/32 dev lo\n";
  kivtest::writeFile(watchertest::tempPath("batch"), batch);
  watchertest::ip("-batch " + watchertest::tempPath("batch"));

  EXPECT_TRUE(ipv4->rearm());
  EXPECT_FALSE(readable(*ipv4, 0)) << "one re-arm drains everything";
  watchertest::ip("addr add 10.202.0.1/32 dev lo");
  EXPECT_TRUE(readable(*ipv4, 20000));
}

}  // namespace
