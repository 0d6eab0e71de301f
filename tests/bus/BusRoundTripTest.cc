// Round trips through a local endpoint: statuses, what the callback sees, endpoint
// ownership, senders that give up, and the size limit.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <zmq.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

using bustest::Gate;
using bustest::TestEndpoint;

namespace {

std::string busDir() { return kivtest::home() + "/run/bus"; }

// Leaves a socket file behind as a crashed owner would: bound, then closed.
void leaveStaleSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
}

}  // namespace

TEST(Bus, RoundTripReturnsTheCallbackStatusAndDeliversTheText) {
  // A bus directory left open to others is closed again before any endpoint listens.
  std::filesystem::create_directories(busDir());
  ::chmod(busDir().c_str(), 0755);
  TestEndpoint endpoint("busRoundTrip", [](const bustest::Received& got) {
    return got.text.find("refuse") != std::string::npos ? kSmRefused : kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);

  uint32_t status = 99;
  EXPECT_EQ(bustest::send("busRoundTrip", "<Notification Type=\"Docked\"/>", &status), 0);
  EXPECT_EQ(status, kSmTaken);
  EXPECT_EQ(bustest::send("busRoundTrip", "<refuse/>", &status), 0);
  EXPECT_EQ(status, kSmRefused);

  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].text, "<Notification Type=\"Docked\"/>");
  EXPECT_EQ(received[0].length, received[0].text.size());
  EXPECT_EQ(received[0].kind, 1);
  EXPECT_EQ(received[0].isLocal, 1);

  struct stat info{};
  ASSERT_EQ(::stat(busDir().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(Bus, SendWithoutListenerFailsBeforeTheTimeout) {
  uint32_t status = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(bustest::send("nobodyHere", "<x/>", &status, 60000), kSmErrNoListener);

  // A socket file left by a dead process, and a lock file nobody holds, count as nobody.
  TestEndpoint opened("busStale");
  ASSERT_EQ(opened.openResult(), 0);
  ASSERT_EQ(opened.close(), 0);
  leaveStaleSocket(busDir() + "/busStale");
  EXPECT_EQ(bustest::send("busStale", "<x/>", &status, 60000), kSmErrNoListener);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_STRNE(SmErrorText(kSmErrNoListener), SmErrorText(kSmErrTimeout));
}

TEST(Bus, StaleSocketIsReplacedButALiveEndpointIsNot) {
  std::filesystem::create_directories(busDir());
  leaveStaleSocket(busDir() + "/busOwned");
  TestEndpoint first("busOwned");
  ASSERT_EQ(first.openResult(), 0);

  const unsigned char options[4] = {1, 0, 0, 0};
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  SMENDPOINT second = 0;
  EXPECT_EQ(SmOpenEndPointU("busOwned", 0, [](void*, void*, void*, int, SmMessage*, void*) { return 7u; },
                            0, nullptr, &second),
            kSmErrEndpointInUse);
  uint32_t status = 1;
  ASSERT_EQ(bustest::send("busOwned", "<x/>", &status), 0);
  EXPECT_EQ(first.calls(), 1);

  // Once closed, the name can be taken again at once.
  ASSERT_EQ(first.close(), 0);
  ASSERT_EQ(SmOpenEndPointU("busOwned", 0, [](void*, void*, void*, int, SmMessage*, void*) { return 7u; },
                            0, nullptr, &second),
            0);
  ASSERT_EQ(bustest::send("busOwned", "<x/>", &status), 0);
  EXPECT_EQ(status, 7u);
  EXPECT_EQ(SmCloseEndPoint(second), 0);
  EXPECT_EQ(SmDeinitialize(), 0);
}

TEST(Bus, OpenNeedsInitialisationAndTheLastDeinitialiseClosesEndpoints) {
  SMENDPOINT handle = 0;
  auto callback = [](void*, void*, void*, int, SmMessage*, void*) { return 0u; };
  EXPECT_EQ(SmOpenEndPointU("busInit", 0, callback, 0, nullptr, &handle), kSmErrNotInitialized);
  uint32_t status = 1;
  EXPECT_EQ(SmSend("../escape", "<x/>", 4, &status, 100), kSmErrInvalidArgument);
  EXPECT_EQ(SmDeinitialize(), kSmErrNotInitialized);

  const unsigned char options[4] = {1, 0, 0, 0};
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  ASSERT_EQ(SmInitialize(options, nullptr), 0);
  EXPECT_EQ(SmOpenEndPointU("../escape", 0, callback, 0, nullptr, &handle), kSmErrInvalidArgument);
  ASSERT_EQ(SmOpenEndPointU("busInit", 0, callback, 0, nullptr, &handle), 0);
  ASSERT_EQ(SmDeinitialize(), 0);
  EXPECT_EQ(bustest::send("busInit", "<x/>", &status), 0) << "one initialisation is left";
  ASSERT_EQ(SmDeinitialize(), 0);
  EXPECT_EQ(bustest::send("busInit", "<x/>", &status), kSmErrNoListener);
  EXPECT_EQ(SmCloseEndPoint(handle), kSmErrInvalidArgument);
}

TEST(Bus, OversizedMessagesNeverReachTheCallback) {
  TestEndpoint endpoint("busLarge");
  ASSERT_EQ(endpoint.openResult(), 0);
  uint32_t status = 1;
  const std::string limit(kSmMaxMessage, 'x');
  ASSERT_EQ(bustest::send("busLarge", limit, &status), 0);
  EXPECT_EQ(endpoint.received().at(0).length, kSmMaxMessage);

  const std::string over(kSmMaxMessage + 1, 'x');
  EXPECT_EQ(bustest::send("busLarge", over, &status), kSmErrTooLarge);

  // A sender that does not check the size itself is answered by the endpoint.
  void* context = zmq_ctx_new();
  void* dealer = zmq_socket(context, ZMQ_DEALER);
  const std::string address = "ipc://" + busDir() + "/busLarge";
  ASSERT_EQ(zmq_connect(dealer, address.c_str()), 0);
  zmq_send(dealer, "", 0, ZMQ_SNDMORE);
  zmq_send(dealer, over.data(), over.size(), 0);
  char reply[16] = {};
  ASSERT_EQ(zmq_recv(dealer, reply, sizeof reply, 0), 0);  // the empty delimiter
  ASSERT_EQ(zmq_recv(dealer, reply, sizeof reply, 0), 8);
  int32_t error = 0;
  std::memcpy(&error, reply, 4);  // little-endian on every machine we build for
  EXPECT_EQ(error, kSmErrTooLarge);
  zmq_close(dealer);
  zmq_ctx_term(context);
  EXPECT_EQ(endpoint.calls(), 1);
}

TEST(Bus, AnUnansweredSenderNeitherWedgesTheEndpointNorConfusesLaterAnswers) {
  Gate release;
  TestEndpoint endpoint("busSlow", [&release](const bustest::Received& got) -> uint32_t {
    if (got.text == "<slow/>") {
      release.wait();
      return 7;
    }
    return kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);
  uint32_t status = 1;
  EXPECT_EQ(bustest::send("busSlow", "<slow/>", &status, 200), kSmErrTimeout);

  // A sender that vanishes without waiting for its answer.
  void* context = zmq_ctx_new();
  void* dealer = zmq_socket(context, ZMQ_DEALER);
  const std::string address = "ipc://" + busDir() + "/busSlow";
  ASSERT_EQ(zmq_connect(dealer, address.c_str()), 0);
  zmq_send(dealer, "", 0, ZMQ_SNDMORE);
  zmq_send(dealer, "<gone/>", 7, 0);
  int linger = 0;
  zmq_setsockopt(dealer, ZMQ_LINGER, &linger, sizeof linger);
  zmq_close(dealer);
  zmq_ctx_term(context);

  release.open();
  // The late answer (7) to the timed-out request must not be taken for this one's.
  ASSERT_EQ(bustest::send("busSlow", "<next/>", &status), 0);
  EXPECT_EQ(status, kSmTaken);
}

TEST(Bus, ASenderKeepsReachingAnEndpointThatIsOpenedAgain) {
  // Each round closes the endpoint and opens it anew; a connection kept from the previous
  // round must not swallow the next request.
  for (int round = 0; round < 20; ++round) {
    TestEndpoint endpoint("busReopen", [round](const bustest::Received&) {
      return static_cast<uint32_t>(round);
    });
    ASSERT_EQ(endpoint.openResult(), 0);
    uint32_t status = 999;
    ASSERT_EQ(bustest::send("busReopen", "<x/>", &status, 20000), 0) << "round " << round;
    EXPECT_EQ(status, static_cast<uint32_t>(round));
  }
}
