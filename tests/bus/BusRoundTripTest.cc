// Round trips through a local endpoint: statuses, what the callback sees, endpoint
// ownership, senders that give up, and the size limit.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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

// A sender written without the bus library: its own connection, its own packets (a marker
// byte, 0 for the last packet of a message, then the text).
class RawSender {
 public:
  explicit RawSender(const std::string& endpoint) : fd_(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (busDir() + "/" + endpoint).c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawSender() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool sendPacket(bool last, const std::string& text) {
    const std::string packet = std::string(1, last ? '\0' : '\1') + text;
    return ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(packet.size());
  }
  // The bus error of the answer to the last request.
  int32_t answerError() {
    char reply[16] = {};
    if (::recv(fd_, reply, sizeof reply, 0) != 8) return -1;
    int32_t error = 0;
    std::memcpy(&error, reply, 4);  // little-endian on every machine we build for
    return error;
  }

 private:
  int fd_;
  bool connected_ = false;
};

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

  // A sender that does not check the size itself is answered by the endpoint, and its
  // connection serves the next message; so does one whose packet breaks the format.
  RawSender raw("busLarge");
  ASSERT_TRUE(raw.connected());
  for (size_t sent = 0; sent < over.size(); sent += 60000) {
    ASSERT_TRUE(raw.sendPacket(false, over.substr(sent, 60000)));
  }
  ASSERT_TRUE(raw.sendPacket(true, ""));
  EXPECT_EQ(raw.answerError(), kSmErrTooLarge);
  ASSERT_TRUE(raw.sendPacket(true, std::string(200000, 'y')));
  EXPECT_EQ(raw.answerError(), kSmErrInvalidArgument);
  ASSERT_TRUE(raw.sendPacket(true, "<after/>"));
  EXPECT_EQ(raw.answerError(), 0);
  EXPECT_EQ(endpoint.received().at(1).text, "<after/>");
  EXPECT_EQ(endpoint.calls(), 2);
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

  // A sender that vanishes without waiting for its answer, and one that vanishes halfway
  // through a message.
  {
    RawSender gone("busSlow");
    ASSERT_TRUE(gone.connected());
    ASSERT_TRUE(gone.sendPacket(true, "<gone/>"));
    RawSender halfway("busSlow");
    ASSERT_TRUE(halfway.connected());
    ASSERT_TRUE(halfway.sendPacket(false, std::string(60000, 'h')));
  }
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
