// The TCP listener for other machines: started only when configured, and what arrives
// there is flagged as not local.
#include <gtest/gtest.h>

#include <string>

#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

TEST(BusTcp, MessagesFromTheListenerAreNotLocal) {
  bustest::configureTcpListener(L"tcp://127.0.0.1:0");
  bustest::TestEndpoint endpoint("busRemote", [](const bustest::Received& got) -> uint32_t {
    return got.isLocal == 0 ? kSmRefused : kSmTaken;
  });
  ASSERT_EQ(endpoint.openResult(), 0);
  const std::string address = kivtest::tracedListenerAddress();
  ASSERT_EQ(address.rfind("tcp://127.0.0.1:", 0), 0u) << address;

  const std::string text = "<Notification Type=\"Docked\"/>";
  uint32_t status = 0;
  ASSERT_EQ(SmSendTo(address.c_str(), "busRemote", text.data(), text.size(), &status, 20000), 0);
  EXPECT_EQ(status, kSmRefused);
  ASSERT_EQ(bustest::send("busRemote", text, &status), 0);
  EXPECT_EQ(status, kSmTaken);

  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].isLocal, 0);
  EXPECT_EQ(received[0].text, text);
  EXPECT_EQ(received[1].isLocal, 1);

  EXPECT_EQ(SmSendTo(address.c_str(), "notOpenHere", text.data(), text.size(), &status, 20000),
            kSmErrNoListener);
}

// The relay takes a request in as its bytes come; every piece must land in its place.
TEST(BusTcp, TheLargestMessageArrivesWhole) {
  bustest::configureTcpListener(L"tcp://127.0.0.1:0");
  bustest::TestEndpoint endpoint("busRemoteLarge");
  ASSERT_EQ(endpoint.openResult(), 0);
  const std::string address = kivtest::tracedListenerAddress();

  std::string text(kSmMaxMessage, '\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
  uint32_t status = 0;
  ASSERT_EQ(SmSendTo(address.c_str(), "busRemoteLarge", text.data(), static_cast<uint32_t>(text.size()),
                     &status, 20000),
            0);
  EXPECT_EQ(status, kSmTaken);
  const std::string small = "<Notification Type=\"Docked\"/>";
  ASSERT_EQ(SmSendTo(address.c_str(), "busRemoteLarge", small.data(), static_cast<uint32_t>(small.size()),
                     &status, 20000),
            0);

  const auto received = endpoint.received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].length, text.size());
  EXPECT_TRUE(received[0].text == text) << "the text differs from what was sent";
  EXPECT_EQ(received[1].text, small);
}
