// Idle TCP connections cannot hold the listener: a flood from one address far above its cap
// per address leaves the endpoint living, a message over TCP from another address and a
// local one are still taken, the connections turned away are traced with where they came
// from, and a connection that stays silent is closed after the idle time.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "TQSMCAPI.h"
#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"
#include "tqUtilities.h"

namespace {

// Idle connections, each closed when the flood ends.
class Flood {
 public:
  Flood() { WSAStartup(MAKEWORD(2, 2), &data_); }
  ~Flood() {
    for (SOCKET s : sockets_) ::closesocket(s);
    WSACleanup();
  }
  Flood(const Flood&) = delete;
  Flood& operator=(const Flood&) = delete;

  // Whether the listener has closed connection `index`: its end arrives within `limitMs`.
  bool closedByListener(size_t index, DWORD limitMs) {
    ::setsockopt(sockets_[index], SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limitMs),
                 sizeof limitMs);
    // Whatever the listener sends unasked is passed over; only its end counts.
    char bytes[64];
    int got = 0;
    while ((got = ::recv(sockets_[index], bytes, sizeof bytes, 0)) > 0) {
    }
    return got == 0;
  }

  // `count` connections from 127.0.0.2 to "tcp://127.0.0.1:PORT" (every 127.x address is
  // this machine); false, with the failing one named, when one cannot be made.
  ::testing::AssertionResult connect(const std::string& address, int count) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(std::stoi(address.substr(address.rfind(':') + 1))));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    for (int i = 0; i < count; ++i) {
      const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      if (s == INVALID_SOCKET) return ::testing::AssertionFailure() << i << ": " << WSAGetLastError();
      sockets_.push_back(s);
      if (::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
          ::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return ::testing::AssertionFailure() << i << ": " << WSAGetLastError();
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  WSADATA data_{};
  std::vector<SOCKET> sockets_;
};

void configure(const wchar_t* key, const wchar_t* text, int32_t number) {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  ASSERT_NE(config, nullptr);
  if (text != nullptr) {
    EXPECT_EQ(config->setStringW(L"dlox/common/kiv/bus", key, text, 0), 0);
  } else {
    EXPECT_EQ(config->setNumber(L"dlox/common/kiv/bus", key, number, 0), 0);
  }
  config->Release();
}

// Each test: the TCP listener on loopback, an endpoint open behind it.
class BusWindowsTcp : public ::testing::Test {
 protected:
  // Sets the listener's setting `key` to `number`, opens the endpoint `name` and reads the
  // listener's address.
  void listen(const char* name, const wchar_t* key, int32_t number) {
    configure(L"tcplisten", L"tcp://127.0.0.1:0", 0);
    configure(key, nullptr, number);
    endpoint_ = std::make_unique<bustest::TestEndpoint>(name);
    ASSERT_EQ(endpoint_->openResult(), 0);
    address_ = kivtest::tracedListenerAddress();
    ASSERT_EQ(address_.rfind("tcp://127.0.0.1:", 0), 0u) << address_;
  }

  std::unique_ptr<bustest::TestEndpoint> endpoint_;
  std::string address_;
};

}  // namespace

TEST_F(BusWindowsTcp, IdleTcpConnectionsFromOneAddressLockOutNoSender) {
  ASSERT_NO_FATAL_FAILURE(listen("busTcpFlood", L"tcpmaxperaddress", 16));

  Flood flood;
  ASSERT_TRUE(flood.connect(address_, 300));
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("from 127.0.0.2 ("); }));
  EXPECT_TRUE(kivtest::traced("TCP listener: turned away"));

  // The flood's connections that were taken fill only its own address's share.
  const std::string text = "<during/>";
  uint32_t status = 1;
  EXPECT_EQ(SmSendTo(address_.c_str(), "busTcpFlood", text.data(), text.size(), &status, 30000), 0);
  EXPECT_EQ(status, kSmTaken);
  EXPECT_EQ(bustest::send("busTcpFlood", text, &status), 0);
  EXPECT_EQ(endpoint_->calls(), 2);
}

TEST_F(BusWindowsTcp, SilentTcpConnectionIsClosedAfterTheIdleTime) {
  ASSERT_NO_FATAL_FAILURE(listen("busTcpIdle", L"tcpidletimeout", 1));

  Flood silent;
  ASSERT_TRUE(silent.connect(address_, 1));
  EXPECT_TRUE(silent.closedByListener(0, 30000));
}
