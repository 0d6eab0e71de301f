// The notifier's version gates on the real version word: XML "Logon" and "Logoff" messages
// are honoured up to Windows 2000 and ignored later, whatever the agent's Winlogon marker
// says, and a session logoff is followed by a console disconnect (code 14) only below
// Vista. The probe runs a notifier under each version Wine can report.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/process_list.h"
#include "probe_runner.h"
#include "support/kiv_test.h"
#include "support/test_process.h"

namespace {

using wintest::kAgentKey;

// The events a notifier reported under `version`, one "code s1" a line.
std::vector<std::string> eventsUnder(const wchar_t* version) {
  const std::string file = kivtest::home() + "\\events.txt";
  DeleteFileA(file.c_str());
  const auto code = wintest::runProbe(version, L"notify-events \"" + std::wstring(file.begin(), file.end()) + L"\"");
  EXPECT_EQ(code, 0u) << "probe under " << std::string(version, version + wcslen(version));
  std::vector<std::string> lines;
  std::istringstream in(kivtest::readFile(file));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void setWinLogonMarker(bool installed) {
  HKEY agent = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &agent, nullptr),
            ERROR_SUCCESS);
  if (installed) {
    const DWORD one = 1;
    RegSetValueExW(agent, L"WinLogonDLLInstalled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  } else {
    RegDeleteValueW(agent, L"WinLogonDLLInstalled");
  }
  RegCloseKey(agent);
}

class NotificationGate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kivtest::underWine()) GTEST_SKIP() << "choosing a program's version needs Wine";
    // Where the shell is watched, the prefix's explorer.exe is the shell it finds and waits
    // on, so it reports nothing of its own. Wine starts it for the first program that asks
    // for the desktop.
    ASSERT_NE(GetDesktopWindow(), nullptr);
    ASSERT_TRUE(kivtest::waitFor([] {
      for (const auto& process : kiv::platform::listProcesses()) {
        if (lstrcmpiA(process.imageName.c_str(), "explorer.exe") == 0) return true;
      }
      return false;
    }));
    setWinLogonMarker(false);
    // On Windows 2000 a logon waits up to 20 s for its session's user, which Wine's
    // terminal services never name; the scripted module (its other classes the real ones)
    // names alice in session 3 at once.
    const std::string sessions = kivtest::home() + "\\sessions.txt";
    kivtest::writeFile(sessions, "3 0 CORP alice\n");
    kivtest::setEnvironment("KIV_FAKE_SESSIONS", sessions.c_str(), true);
    kivtest::setEnvironment("KIV_MODULE_PATH", KIV_FAKE_OSSERVICES_DIR, true);
  }
  void TearDown() override {
    kivtest::unsetEnvironment("KIV_MODULE_PATH");
    kivtest::unsetEnvironment("KIV_FAKE_SESSIONS");
    setWinLogonMarker(false);
  }
};

// Logon: user (2) and session (8); logoff: user (3) and session (9); the host's session
// logoff of a session with no recorded user: 9, then 14 below Vista; the end: 1.
const std::vector<std::string> kLegacy = {"2 CORP\\alice", "8 3", "3 CORP\\alice", "9 3", "9 4", "14 4", "1 "};

TEST_F(NotificationGate, XmlLogonAndLogoffHonouredUpToWindows2000) {
  for (const wchar_t* version : {L"win95", L"win98", L"nt40", L"win2k"}) {
    EXPECT_EQ(eventsUnder(version), kLegacy) << std::string(version, version + wcslen(version));
  }
  // The Winlogon marker stops the shell watching on Windows 2000, not the XML messages.
  setWinLogonMarker(true);
  EXPECT_EQ(eventsUnder(L"win2k"), kLegacy) << "win2k with the Winlogon marker";
}

TEST_F(NotificationGate, XmlLogonAndLogoffIgnoredLaterAndCode14OnlyBelowVista) {
  EXPECT_EQ(eventsUnder(L"winxp"), (std::vector<std::string>{"9 4", "14 4", "1 "}));
  // Wine's win10 reports 6.2 to a program without a compatibility manifest, as Windows does.
  EXPECT_EQ(eventsUnder(L"win10"), (std::vector<std::string>{"9 4", "1 "}));
}

}  // namespace
