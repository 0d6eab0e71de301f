// A flood of idle clients at an endpoint's named pipe: every instance is taken, yet the next
// real sender gets in, the clients made to give way are traced, and once the flood lets go
// the endpoint keeps no more than its instances (a pipe and an event each, at most what one
// wait covers), never a handle for each client.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
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

  // The flood holds every instance the endpoint can make (one wait covers the wake event and
  // one instance each). The endpoint makes its next instance only after a client has taken
  // the last one, so a client that comes in between finds the pipe busy; it waits for the
  // instance, as a real flood's retries would, instead of counting on the endpoint to keep
  // pace with the loop.
  const size_t instances = MAXIMUM_WAIT_OBJECTS - 1;
  const std::wstring pipe = kiv::bus::win::pipeName("busFlood");
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<kiv::platform::win::UniqueHandle> flood;
  for (int attempt = 0; attempt < 3000 || flood.size() < instances; ++attempt) {
    kiv::platform::win::UniqueHandle client(
        CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (client) {
      flood.push_back(std::move(client));
    } else if (flood.size() < instances) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
      ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << flood.size() << " clients connected";
      WaitNamedPipeW(pipe.c_str(), 1000);
    }
  }

  EXPECT_EQ(bustest::send("busFlood", "<during/>", &status, 30000), 0);
  EXPECT_EQ(endpoint.calls(), 2);
  EXPECT_TRUE(kivtest::waitFor([] { return kivtest::traced("endpoint busFlood: turned away"); }));

  flood.clear();
  // A pipe and an event for each instance.
  EXPECT_TRUE(kivtest::waitFor([&] { return handleCount() <= baseline + 2 * instances; }))
      << handleCount() << " handles, " << baseline << " before the flood";
  EXPECT_EQ(bustest::send("busFlood", "<after/>", &status), 0);
}
