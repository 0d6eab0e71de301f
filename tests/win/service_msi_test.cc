// The installer: an older build installs the service and starts it; a newer build of the
// same version replaces it in place (one product, one service, the units kept); the service
// takes bus messages and writes its events to the Event Log; `net stop` ends the plug-in in
// order; uninstalling removes the service, the files and the logon notification entries
// (the prefix reports Windows 2000 to kiv.exe, where the plug-in writes them) and keeps the
// state root. One scenario, since each msiexec run costs seconds.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/test_process.h"
#include "win/service_test_support.h"

namespace {

using namespace servicetest;

constexpr const wchar_t* kVersionKey = L"Software\\Wine\\AppDefaults\\kiv.exe";
constexpr const wchar_t* kNotifyKey = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\KIV";
constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool keyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool runValueExists() {
  return RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, L"KIV_usrntf", RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The products installed under the upgrade code of dist/windows/kiv.wxs: one while a
// package is installed, whatever it was upgraded from.
int installedProducts() {
  constexpr const wchar_t* kUpgradeCode = L"{0506BD17-506B-4ACC-B4F5-3AB40CDCDA9A}";
  int count = 0;
  wchar_t product[39];
  while (MsiEnumRelatedProductsW(kUpgradeCode, 0, count, product) == ERROR_SUCCESS) ++count;
  return count;
}

// The service's description; empty when there is none.
std::wstring serviceDescription() {
  kiv::tool::UniqueServiceHandle service = openService(SERVICE_QUERY_CONFIG);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  if (!service || !QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &needed)) {
    return {};
  }
  const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.data());
  return description->lpDescription != nullptr ? description->lpDescription : L"";
}

// A path as Windows programs take it ("Z:\..." under Wine): msiexec reads a leading "/" as
// an option.
std::string windowsPath(const std::string& path) {
  wchar_t full[MAX_PATH] = {};
  GetFullPathNameW(kiv::utf::widen(path).c_str(), MAX_PATH, full, nullptr);
  return kiv::utf::narrow(full);
}

fs::path installedProgram() {
  wchar_t folder[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramW6432", folder, MAX_PATH);
  return fs::path(folder) / L"KIV" / L"kiv.exe";
}

class ServiceMsiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = kivtest::home();
    ASSERT_FALSE(fs::exists(machineStateRoot())) << "the prefix has a KIV state root already";
    ASSERT_FALSE(static_cast<bool>(openService(SERVICE_QUERY_STATUS))) << "the prefix has the service already";
    createdRoot_ = true;
    // The installed kiv.exe finds the default state root on its own, as an operator's does.
    kivtest::unsetEnvironment("KIV_HOME");
    // kiv.exe, and so the service, takes the prefix for Windows 2000, where the plug-in
    // registers its logon notifications.
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kVersionKey, L"Version", REG_SZ, L"win2k", 12), ERROR_SUCCESS);
  }

  void TearDown() override {
    if (openService(SERVICE_QUERY_STATUS)) {
      msiexec({"/x", windowsPath(KIV_MSI_NEW), "/qn"});
      msiexec({"/x", windowsPath(KIV_MSI_OLD), "/qn"});
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kVersionKey);
    kivtest::setEnvironment("KIV_HOME", dir_.c_str(), true);
    if (createdRoot_) {
      EXPECT_TRUE(removeMachineStateRoot());
    }
  }

  int msiexec(std::vector<std::string> arguments, std::string* output = nullptr) {
    arguments.insert(arguments.begin(), systemProgram(L"msiexec.exe"));
    return runToFiles(arguments, dir_, output);
  }

  // Installs PACKAGE silently with a verbose log; the log on failure.
  void install(const char* package, const char* logName) {
    const std::string log = dir_ + "/" + logName;
    std::string output;
    ASSERT_EQ(msiexec({"/i", windowsPath(package), "/qn", "/l*v", windowsPath(log)}, &output), 0)
        << output << kivtest::readFile(log);
    ASSERT_TRUE(kivtest::readFile(log).size() > 0) << "no installer log";
    // The service runs once its plug-in has started, which the installer need not wait for.
    ASSERT_TRUE(kivtest::waitFor([] { return serviceStatus().dwCurrentState == SERVICE_RUNNING; }))
        << serviceTrace();
  }

  int kiv(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    std::vector<std::string> argv{kiv::utf::narrow(installedProgram().wstring())};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return kivtest::runProgram(argv, output);
  }

  int net(const char* verb, std::string* output) {
    return runToFiles({systemProgram(L"net.exe"), verb, "kivhost"}, dir_, output);
  }

  std::string dir_;
  bool createdRoot_ = false;
};

TEST_F(ServiceMsiTest, InstallUpgradeAndUninstallKeepTheStateAndRemoveTheRest) {
  ASSERT_NO_FATAL_FAILURE(install(KIV_MSI_OLD, "old.log"));
  std::string output;
  ASSERT_EQ(runToFiles({systemProgram(L"sc.exe"), "query", "kivhost"}, dir_, &output), 0) << output;
  EXPECT_NE(output.find("RUNNING"), std::string::npos) << output;
  // The plug-in registered the logon notifications when the service started it.
  EXPECT_TRUE(kivtest::waitFor([] { return keyExists(kNotifyKey); }));
  ASSERT_EQ(kiv({"units", "add", "CORP|alice", "--type", "User"}, &output), 0) << output;

  ASSERT_EQ(installedProducts(), 1);
  // The installer leaves the description to "kiv service configure", which it runs.
  EXPECT_NE(serviceDescription().find(L"tqNotify"), std::wstring::npos);

  // The newer build replaces the older one, though the two differ in the build number only.
  ASSERT_NO_FATAL_FAILURE(install(KIV_MSI_NEW, "new.log"));
  EXPECT_EQ(installedProducts(), 1);
  EXPECT_EQ(kiv({"units", "get", "CORP|alice"}, &output), 0) << output;

  // The upgraded service's plug-in takes a docking message; its event reaches the Event Log.
  ASSERT_EQ(kiv({"send", "docked", "--id", "7", "--type", "dockingDevicePalm"}, &output), 0) << output;
  const std::string docked = eventLine("6 \"7\" \"dockingDevicePalm\" \"\"", 6);
  EXPECT_TRUE(kivtest::waitFor([&] { return serviceTrace().find(docked) != std::string::npos; })) << serviceTrace();

  // `net stop` ends the plug-in in order: its end (code 1) is the last event it reports.
  // Wine's `net stop` may say the service stopped while it still reports STOP_PENDING;
  // the stop itself is waited for.
  ASSERT_EQ(net("stop", &output), 0) << output;
  EXPECT_TRUE(kivtest::waitFor([] { return serviceStatus().dwCurrentState == SERVICE_STOPPED; }))
      << serviceStatus().dwCurrentState;
  const std::string trace = serviceTrace();
  const std::size_t end = trace.rfind(eventLine("1 \"\" \"\" \"\"", 1));
  ASSERT_NE(end, std::string::npos) << trace;
  EXPECT_GT(end, trace.rfind(docked));
  EXPECT_EQ(trace.find("kiv host: event", end + 1), std::string::npos) << trace;
  EXPECT_NE(trace.find("kiv host: session and power sources: service control handler"), std::string::npos);

  ASSERT_EQ(net("start", &output), 0) << output;
  std::string log = dir_ + "/remove.log";
  ASSERT_EQ(msiexec({"/x", windowsPath(KIV_MSI_NEW), "/qn", "/l*v", windowsPath(log)}, &output), 0)
      << output << kivtest::readFile(log);
  EXPECT_EQ(installedProducts(), 0);
  EXPECT_FALSE(static_cast<bool>(openService(SERVICE_QUERY_STATUS)));
  EXPECT_FALSE(fs::exists(installedProgram()));
  EXPECT_FALSE(keyExists(kNotifyKey));
  EXPECT_FALSE(runValueExists());
  EXPECT_FALSE(keyExists(L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\KIV"));
  // The state stays: the unit added before is still in the state root.
  EXPECT_TRUE(fs::exists(machineStateRoot() / L"config.db"));
  EXPECT_TRUE(fs::exists(machineStateRoot() / L"Agent" / L"units"));
  EXPECT_EQ(kivtest::runProgram({KIV_PROGRAM, "units", "get", "CORP|alice"}, &output), 0) << output;
}

}  // namespace
