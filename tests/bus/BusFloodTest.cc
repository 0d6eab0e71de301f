// Floods of idle connections against a running `kiv host` held to 1,024 descriptors: the
// host lives, a `kiv send` during the flood is taken, the turned-away connections are
// traced, and the host's descriptors come back once the flood lets go.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "tests/bus/BusTestEndpoint.h"
#include "tests/host/HostFixture.h"

namespace {

// The descriptors a process holds; with `socketsOnly`, only its sockets: the files it
// opens meanwhile (a thread's store connection, kept for good) are no connection.
int descriptorsOf(int pid, bool socketsOnly = false) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(fds.c_str());
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char target[64] = {};
    const std::string link = fds + "/" + entry->d_name;
    count += !socketsOnly || (::readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                              std::strncmp(target, "socket:", 7) == 0);
  }
  ::closedir(dir);
  return count;
}

// Idle connections, closed when the test ends.
class Flood {
 public:
  ~Flood() { release(); }
  void release() {
    for (int fd : fds_) ::close(fd);
    fds_.clear();
  }
  size_t size() const { return fds_.size(); }

  // `count` TCP connections to the listener at "tcp://127.0.0.1:PORT", by default from
  // 127.0.0.2 (every 127.x address is this machine), so that a sender from 127.0.0.1 is
  // another address.
  void tcp(const std::string& address, int count, uint32_t fromHost = INADDR_LOOPBACK + 1) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1))));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(fromHost);
    for (int i = 0; i < count; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0) << std::strerror(errno);
      fds_.push_back(fd);
      ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0) << i << ": " << std::strerror(errno);
      ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << i << ": " << std::strerror(errno);
    }
  }

  // `count` connections to the local endpoint `name`.
  void local(const std::string& name, int count) {
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    std::snprintf(to.sun_path, sizeof to.sun_path, "%s/run/bus/%s", kivtest::home().c_str(), name.c_str());
    for (int i = 0; i < count; ++i) {
      const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
      ASSERT_GE(fd, 0) << std::strerror(errno);
      fds_.push_back(fd);
      // A full backlog makes connect wait until the host has taken (or turned away) more.
      ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0) << i << ": " << std::strerror(errno);
    }
  }

 private:
  std::vector<int> fds_;
};

class BusFlood : public hosttest::HostTest {
 protected:
  void SetUp() override {
    // The floods need more descriptors than a test process starts with.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_GE(limit.rlim_max, 9000u) << "the flood needs 9,000 descriptors";
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);

    bustest::configureTcpListener(L"tcp://127.0.0.1:0");

    // As on a machine that gives a service no more than 1,024 descriptors.
    host_ = std::make_unique<kivtest::ChildProcess>(
        std::vector<std::string>{"/usr/bin/prlimit", "--nofile=1024:1024", hosttest::kiv(), "host"}, out(), err());
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(kivtest::waitFor([&] { return kivtest::readFile(err()).find("running") != std::string::npos; }))
        << kivtest::readFile(err());
    sendBoth();
    baseline_ = descriptorsOf(host_->pid(), true);
    ASSERT_GT(baseline_, 0);
  }

  static void sendBoth() {
    std::string output;
    EXPECT_EQ(hosttest::runKiv({"send", "undocked", "--type", "palm", "--timeout", "20000"}, &output), 0) << output;
    EXPECT_EQ(hosttest::runKiv({"send", "host-event", "16", "7"}, &output), 0) << output;
  }

  void TearDown() override {
    // A child that never started has no process to stop (and no pid to signal).
    if (host_ && host_->started()) {
      EXPECT_EQ(stopHost(), 0) << kivtest::readFile(err());
    }
  }

  bool hostAlive() const { return ::kill(host_->pid(), 0) == 0 && descriptorsOf(host_->pid()) > 0; }

  void expectSendTakenAndDescriptorsBack(Flood& flood) {
    sendBoth();
    EXPECT_TRUE(hostAlive());
    EXPECT_LT(descriptorsOf(host_->pid()), 1024);
    EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("turned away"); }));
    flood.release();
    EXPECT_TRUE(kivtest::waitFor([&] { return descriptorsOf(host_->pid(), true) <= baseline_; }))
        << descriptorsOf(host_->pid(), true) << " sockets, " << baseline_ << " before the flood";
  }

  int baseline_ = 0;
};

}  // namespace

TEST_F(BusFlood, IdleTcpConnectionsFromOneAddress) {
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
  Flood flood;
  flood.tcp(address, 5000);
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("from 127.0.0.2 ("); }));
  // The flood's connections that were taken fill only its own address's share: a sender
  // from another address still gets its answer over TCP.
  const std::string text = "<during/>";
  uint32_t status = 0;
  EXPECT_EQ(SmSendTo(address.c_str(), "tqNotify", text.data(), static_cast<uint32_t>(text.size()), &status, 30000), 0);
  expectSendTakenAndDescriptorsBack(flood);
}

TEST_F(BusFlood, IdleLocalConnections) {
  Flood flood;
  flood.local("tqNotify", 3000);
  expectSendTakenAndDescriptorsBack(flood);
  EXPECT_TRUE(kivtest::traced("endpoint tqNotify: turned away"));
}

// A listener at its cap closes the connection it turns away, unread, so the sender meets a
// reset. However it meets it, it is a failed transport: the endpoint is still there. A
// request of the largest size is still being sent when the reset comes (the buffers of a
// connection that was never read take far less), which is the case a short request, sent
// at once, never reaches; each send is one more chance at it.
TEST_F(BusFlood, ASenderBeyondTheTcpCapIsToldOfATransportFailure) {
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;
  Flood flood;
  flood.tcp(address, 64, INADDR_LOOPBACK);  // the default cap per address
  // Taken in the order they came: the send's connection is the one beyond the cap.
  const std::string text(kSmMaxMessage, 'x');
  for (int i = 0; i < 3; ++i) {
    uint32_t status = 0;
    EXPECT_EQ(SmSendTo(address.c_str(), "tqNotify", text.data(), static_cast<uint32_t>(text.size()), &status, 30000),
              kSmErrTransport)
        << "send " << i;
  }
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("beyond the cap of TCP connections per address"); }));
  expectSendTakenAndDescriptorsBack(flood);
}
