// A flood of idle clients at an endpoint's named pipe: every instance is taken, yet the next
// real sender gets in, the clients made to give way are traced, and once the flood lets go
// the endpoint keeps no more than its instances (a pipe and an event each, at most what one
// wait covers), never a handle for each client.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/win/PipeName.h"
#include "platform/win/unique_handle.h"
#include "support/kiv_test.h"
#include "tests/bus/BusTestEndpoint.h"

namespace {

DWORD handleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

}  // namespace

TEST(BusWindows, IdlePipeClientsLockOutNoSender) {
  bustest::TestEndpoint endpoint("busFlood");
  ASSERT_EQ(endpoint.openResult(), 0);
  uint32_t status = 1;
  ASSERT_EQ(bustest::send("busFlood", "<before/>", &status), 0);
  const DWORD baseline = handleCount();

  const std::wstring pipe = kiv::bus::win::pipeName("busFlood");
  std::vector<kiv::platform::win::UniqueHandle> flood;
  for (int i = 0; i < 3000; ++i) {
    kiv::platform::win::UniqueHandle client(
        CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (client) flood.push_back(std::move(client));
  }
  ASSERT_FALSE(flood.empty());

  EXPECT_EQ(bustest::send("busFlood", "<during/>", &status, 30000), 0);
  EXPECT_EQ(endpoint.calls(), 2);
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("endpoint busFlood: turned away"); }));

  flood.clear();
  const DWORD instances = 2 * (MAXIMUM_WAIT_OBJECTS - 1);
  EXPECT_TRUE(kivtest::waitFor([&] { return handleCount() <= baseline + instances; }))
      << handleCount() << " handles, " << baseline << " before the flood";
  EXPECT_EQ(bustest::send("busFlood", "<after/>", &status), 0);
}
