// `kiv host` on Windows takes session changes and power broadcasts from its own window and
// hands them to the plug-in as codes 15 and 16. Wine sends no terminal-services
// notifications, so the test posts the same messages to the window itself.
#include <windows.h>
#include <wtsapi32.h>

#include <string>

#include "host/HostFixture.h"

namespace hosttest {
namespace {

// The host's event window: message-only where the system can send it suspend and resume
// there, else a hidden top-level one.
HWND eventWindowOf(int pid) {
  for (HWND parent : {HWND_MESSAGE, static_cast<HWND>(nullptr)}) {
    for (HWND window = nullptr; (window = FindWindowExW(parent, window, L"KIVHostEvents", nullptr)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == static_cast<DWORD>(pid)) return window;
    }
  }
  return nullptr;
}

TEST_F(HostTest, SessionAndPowerMessagesToItsWindowBecomeHostEvents) {
  startHost({"--json"});
  EXPECT_NE(kivtest::readFile(err()).find("power broadcasts"), std::string::npos) << kivtest::readFile(err());
  HWND window = nullptr;
  ASSERT_TRUE(kivtest::waitFor([&] { return (window = eventWindowOf(host_->pid())) != nullptr; }));

  ASSERT_TRUE(PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 3));
  ASSERT_TRUE(kivtest::waitFor([&] { return printed("{\"code\":13,\"s1\":\"3\",\"s2\":\"\",\"s3\":\"\"}"); }))
      << printedText();
  ASSERT_TRUE(PostMessageW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0));
  ASSERT_TRUE(PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0));
  // Any other message is left to the window's default handling.
  ASSERT_TRUE(PostMessageW(window, WM_USER + 15, WTS_CONSOLE_CONNECT, 4));

  EXPECT_EQ(stopHost(), 0);
  EXPECT_TRUE(kivtest::traced("power state notification. Event = 4"));
  EXPECT_TRUE(kivtest::traced("power state notification. Event = 7"));
  EXPECT_FALSE(printed("{\"code\":13,\"s1\":\"4\",\"s2\":\"\",\"s3\":\"\"}")) << printedText();
}

}  // namespace
}  // namespace hosttest
