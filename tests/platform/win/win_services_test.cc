// The Windows backend against the system's own services: registry semantics, mutex
// ownership, hidden processes and the process list, module and version queries.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/process_list.h"
#include "platform/registry.h"
#include "platform/system_info.h"
#include "platform/version.h"

namespace kiv::platform {
namespace {

// A key of this test process's own under HKEY_LOCAL_MACHINE, removed with what it holds.
class ScratchKey : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"SOFTWARE\\KIV test " + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(kHKeyLocalMachine, path_.c_str(), kKeyAllAccess, &key_),
              kErrorSuccess);
  }
  void TearDown() override {
    if (key_ != nullptr) RegCloseKey(key_);
    ::RegDeleteTreeW(reinterpret_cast<::HKEY>(kHKeyLocalMachine), path_.c_str());
  }
  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(ScratchKey, ValuesRoundTripAndNamesReportTheRoomTheyNeed) {
  const std::wstring text = L"C:\\Program Files\\KIV\\tqwlogon.dll";
  const auto bytes = static_cast<uint32_t>((text.size() + 1) * sizeof(wchar_t));
  ASSERT_EQ(RegSetValueExW(key_, L"DllName", kRegExpandSz, text.c_str(), bytes), kErrorSuccess);
  const uint32_t one = 1;
  ASSERT_EQ(RegSetValueExW(key_, L"Asynchronous", kRegDword, &one, sizeof one), kErrorSuccess);

  uint32_t type = 0;
  uint32_t size = 0;
  ASSERT_EQ(RegQueryValueExW(key_, L"dllname", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(size, bytes);
  std::wstring read(size / sizeof(wchar_t), L'\0');
  uint32_t small = 4;
  EXPECT_EQ(RegQueryValueExW(key_, L"DllName", nullptr, read.data(), &small), kErrorMoreData);
  EXPECT_EQ(small, bytes);
  ASSERT_EQ(RegQueryValueExW(key_, L"DllName", nullptr, read.data(), &size), kErrorSuccess);
  EXPECT_EQ(std::wstring(read.c_str()), text);

  // The enumeration tells how much room a name needs, its NUL included.
  wchar_t name[4];
  uint32_t length = 4;
  const long first = RegEnumValueW(key_, 0, name, &length);
  EXPECT_EQ(first, kErrorMoreData);
  EXPECT_TRUE(length == sizeof "Asynchronous" || length == sizeof "DllName") << length;
  wchar_t whole[64];
  uint32_t room = 64;
  ASSERT_EQ(RegEnumValueW(key_, 0, whole, &room), kErrorSuccess);
  EXPECT_EQ(room + 1, length);

  EXPECT_EQ(RegDeleteValueW(key_, L"DllName"), kErrorSuccess);
  EXPECT_EQ(RegDeleteValueW(key_, L"DllName"), kErrorFileNotFound);
  room = 64;
  EXPECT_EQ(RegEnumValueW(key_, 1, whole, &room), kErrorNoMoreItems);
}

TEST_F(ScratchKey, KeysWithSubkeysAreNotDeletedAndHooksFailWrites) {
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyW(key_, L"Notify\\KIV", &child), kErrorSuccess);
  RegCloseKey(child);
  EXPECT_NE(RegDeleteKeyW(key_, L"Notify"), kErrorSuccess);
  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyW(key_, L"NOTIFY\\kiv", &opened), kErrorSuccess);
  if (opened != nullptr) RegCloseKey(opened);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Notify\\KIV"), kErrorSuccess);
  EXPECT_EQ(RegDeleteKeyW(key_, L"Notify"), kErrorSuccess);
  opened = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyW(key_, L"Notify", &opened), kErrorFileNotFound);
  EXPECT_EQ(opened, nullptr);

  testing::failValueWrites(L"Logon");
  EXPECT_EQ(RegSetValueExW(key_, L"LOGON", kRegSz, L"x", 4), kErrorRegistryIo);
  EXPECT_EQ(RegSetValueExW(key_, L"Logoff", kRegSz, L"x", 4), kErrorSuccess);
  testing::failValueWrites(nullptr);
  EXPECT_EQ(RegSetValueExW(key_, L"Logon", kRegSz, L"x", 4), kErrorSuccess);

  // Narrow reads come back in the system code page.
  HKEY narrow = nullptr;
  const std::string path(path_.begin(), path_.end());
  ASSERT_EQ(RegOpenKeyExA(kHKeyLocalMachine, path.c_str(), kKeyRead, &narrow), kErrorSuccess);
  char data[8] = {};
  uint32_t size = sizeof data - 1;
  EXPECT_EQ(RegQueryValueExA(narrow, "Logon", nullptr, data, &size), kErrorSuccess);
  EXPECT_STREQ(data, "x");
  RegCloseKey(narrow);
}

TEST(NamedMutex, OwnedPerThreadRecursivelyAndTakenOverWhenAbandoned) {
  const std::wstring name = L"Global\\KIV test mutex " + std::to_wstring(GetCurrentProcessId());
  auto first = NamedMutex::open(name);
  auto second = NamedMutex::open(name);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->lock(0));
  EXPECT_TRUE(second->lock(0));  // the same object by name: this thread owns it already
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = NamedMutex::open(name)->lock(50); }).join();
  EXPECT_FALSE(otherGotIt);
  second->unlock();
  first->unlock();

  // A thread that ends while it owns the mutex leaves it abandoned; the next waiter owns it.
  std::thread([&] { EXPECT_TRUE(NamedMutex::open(name)->lock(0)); }).join();
  EXPECT_TRUE(first->lock(kInfinite));
  first->unlock();
  EXPECT_FALSE(NamedMutex::open(L""));
}

// The exit code of a process the test watches through its handle.
DWORD exitCodeOf(const Process& process) {
  DWORD code = 0;
  GetExitCodeProcess(LongToHandle(process.handle().fd), &code);
  return code;
}

TEST(Process, HiddenCommandLineRunsAsGivenAndIsWaitedOn) {
  auto process = Process::startHidden(L"cmd.exe /c \"exit 7\"");
  ASSERT_TRUE(process);
  EXPECT_GT(process->pid(), 0);
  EXPECT_EQ(process->wait(60000), kWaitObject0);
  EXPECT_EQ(exitCodeOf(*process), 7u);
  EXPECT_EQ(waitOne(process->handle(), 0), kWaitObject0);  // stays signalled

  EXPECT_FALSE(Process::startHidden(L"kiv-no-such-program-anywhere.exe"));
  EXPECT_FALSE(Process::startHidden(L""));
  EXPECT_FALSE(Process::open(-1));
}

// Processes and events wait side by side; the lowest signalled index wins.
TEST(Process, WaitsBesideEventsAndByPid) {
  auto process = Process::startHidden(L"cmd.exe /c exit 0");
  ASSERT_TRUE(process);
  // Our handle keeps the process object, so it can be opened by pid even once it ended.
  auto watched = Process::open(process->pid());
  ASSERT_TRUE(watched);
  Event stop(Event::Reset::kManual);
  const WaitHandle handles[] = {stop.handle(), process->handle()};
  EXPECT_EQ(waitAny(handles, 60000), kWaitObject0 + 1);
  EXPECT_EQ(watched->wait(60000), kWaitObject0);
  stop.set();
  EXPECT_EQ(waitAny(handles, 0), kWaitObject0);
  const WaitHandle closed[] = {WaitHandle{}};
  EXPECT_EQ(waitAny(closed, 0), kWaitFailed);
}

// Names are the same whatever their case, so an override replaces the host's variable
// instead of standing beside it; the host's other variables are kept, its own unchanged.
TEST(Process, ReadProcessGetsTheHostsEnvironmentWithTheOverridesOverIt) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"KIV_TEST_KEPT", L"host"));
  ASSERT_TRUE(SetEnvironmentVariableW(L"KIV_TEST_REPLACED", L"host"));
  auto process = Process::startReading(L"cmd.exe /c set KIV_TEST_",
                                       {L"kiv_test_replaced=child", L"KIV_TEST_NEW=new", L"=nameless"});
  SetEnvironmentVariableW(L"KIV_TEST_KEPT", nullptr);
  ASSERT_TRUE(process);
  std::string out;
  const OutputReceiver receiver = [&](OutputStream stream, std::string_view bytes) {
    if (stream == OutputStream::kStandardOutput) out.append(bytes);
  };
  EXPECT_EQ(process->waitReading(60000, receiver), kWaitObject0);
  wchar_t value[16] = {};
  EXPECT_EQ(GetEnvironmentVariableW(L"KIV_TEST_REPLACED", value, 16), 4u);
  EXPECT_EQ(std::wstring(value), L"host");
  SetEnvironmentVariableW(L"KIV_TEST_REPLACED", nullptr);
  EXPECT_NE(out.find("KIV_TEST_KEPT=host\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("KIV_TEST_NEW=new\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("kiv_test_replaced=child\r\n"), std::string::npos) << out;
  int hostValues = 0;
  for (std::size_t at = out.find("=host"); at != std::string::npos; at = out.find("=host", at + 1)) ++hostValues;
  EXPECT_EQ(hostValues, 1) << "the replaced variable stayed beside its override: " << out;
}

TEST(Process, ListShowsThisProgramByImageName) {
  const int self = static_cast<int>(GetCurrentProcessId());
  const std::wstring path = moduleFileName(nullptr);
  const std::string image(path.begin() + static_cast<long>(path.rfind(L'\\') + 1), path.end());
  bool found = false;
  int previous = 0;
  for (const auto& entry : listProcesses()) {
    EXPECT_LT(previous, entry.pid);
    previous = entry.pid;
    if (entry.pid == self) found = lstrcmpiA(entry.imageName.c_str(), image.c_str()) == 0;
  }
  EXPECT_TRUE(found) << image;
  EXPECT_EQ(lstrcmpiA(processImageName(self).c_str(), image.c_str()), 0);
  auto watched = Process::open(self);
  ASSERT_TRUE(watched);
  EXPECT_EQ(watched->wait(0), kWaitTimeout);
}

TEST(SystemInfo, ModulePathsVersionAndComputerName) {
  const std::wstring path = moduleFileName(nullptr);
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path[1], L':');
  EXPECT_EQ(moduleContaining(reinterpret_cast<const void*>(&exitCodeOf)), GetModuleHandleW(nullptr));
  // A function of the platform library would be reached through this program's import
  // stub; its data is not.
  void* platform = moduleContaining(reinterpret_cast<const void*>(&kHKeyLocalMachine));
  ASSERT_NE(platform, nullptr);
  EXPECT_NE(moduleFileName(platform), path);

  EXPECT_EQ(getVersion(), static_cast<uint32_t>(GetVersion()));
  testing::setWindowsVersion("98");
  EXPECT_TRUE(isNineXFamily(getVersion()));
  testing::setWindowsVersion("5.0");
  EXPECT_EQ(getVersion(), 5u);
  testing::setWindowsVersion(nullptr);
  EXPECT_EQ(getVersion(), static_cast<uint32_t>(GetVersion()));

  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  uint32_t size = 1;
  EXPECT_FALSE(getComputerName(name, &size));
  EXPECT_GT(size, 1u);
  size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(getComputerName(name, &size));
  EXPECT_EQ(size, std::wcslen(name));
}

}  // namespace
}  // namespace kiv::platform
