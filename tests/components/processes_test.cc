// The process enumerator: finding a running program by image name in any letter case, with
// or without a directory, and its handle signalled when it ends.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <cctype>
#include <filesystem>
#include <memory>
#include <string>

#include "TQOSServices.h"
#include "platform/process.h"
#include "platform/utf8.h"
#include "support/kiv_test.h"
#include "support/test_process.h"
#include "tqNotify/framework/TQptr.h"

namespace {

#ifdef _WIN32
constexpr const char* kProgramSuffix = ".exe";
// Whether two wait handles are on one process. The handle found may only wait (it carries
// no right to ask its pid), so the kernel compares the objects (Windows 10 and later).
bool sameProcess(const kiv::platform::WaitHandle& found, const kiv::platform::Process& child) {
  using Compare = BOOL(WINAPI*)(HANDLE, HANDLE);
  static const auto compare =
      reinterpret_cast<Compare>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CompareObjectHandles")));
  if (compare == nullptr) return true;  // older systems: the unique name has to do
  return compare(LongToHandle(found.fd), LongToHandle(child.handle().fd)) != 0;
}
#else
constexpr const char* kProgramSuffix = "";
// Whether the pidfd found is on the child, as the kernel reports its pid.
bool sameProcess(const kiv::platform::WaitHandle& found, const kiv::platform::Process& child) {
  const std::string info = kivtest::readFile("/proc/self/fdinfo/" + std::to_string(found.fd));
  const size_t at = info.find("Pid:");
  return at != std::string::npos && std::stoi(info.substr(at + 4)) == child.pid();
}
#endif

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// A sleeping copy of the sleeper helper under a name nothing else on the machine uses, so
// that the process found is ours.
class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(processes_.CreateInstanceV1(L"tqOSServices", "TQOSProcessEnum"));
    // The test's home is named uniquely on this machine.
    name_ = "KivSleeper-" + std::filesystem::path(kivtest::home()).filename().string() + kProgramSuffix;
    const std::string copy = kivtest::home() + "/" + name_;
    std::filesystem::copy_file(KIV_SLEEPER, copy, std::filesystem::copy_options::overwrite_existing);
    const std::string command = "\"" + copy + "\" 300";
    child_ = kiv::platform::Process::startHidden(kiv::utf::widen(command));
    ASSERT_TRUE(child_);
  }
  void TearDown() override {
    if (child_) {
      kivtest::killProcess(child_->pid());
      child_->wait(kiv::platform::kInfinite);
    }
  }

  // Looks the child up, waiting until it runs under its own name (on Linux it is a shell
  // until it has executed the copy).
  bool findChild(const std::wstring& query, TQptr<TQOSProcess>& process) {
    return kivtest::waitFor(
        [&] { return processes_->refresh() == 0 && processes_->findProcess(query.c_str(), process.fill()); });
  }

  TQptr<TQOSProcessEnum> processes_;
  std::string name_;
  std::unique_ptr<kiv::platform::Process> child_;
};

}  // namespace

TEST_F(Processes, FindsAProgramByItsUpperCaseName) {
  TQptr<TQOSProcess> process;
  ASSERT_TRUE(findChild(kiv::utf::widen(upperCase(name_)), process));
  EXPECT_TRUE(sameProcess(process->handle(), *child_));
  EXPECT_FALSE(processes_->findProcess(L"NO-SUCH-PROGRAM", process.fill()));
}

TEST_F(Processes, HandleIsSignalledWhenTheProcessEnds) {
  // The query may carry a directory and any letter case.
  TQptr<TQOSProcess> process;
  ASSERT_TRUE(findChild(L"C:\\Programs\\" + kiv::utf::widen(upperCase(name_)), process));
  ASSERT_TRUE(sameProcess(process->handle(), *child_));
  EXPECT_EQ(kiv::platform::waitOne(process->handle(), 0), kiv::platform::kWaitTimeout);

  kivtest::killProcess(child_->pid());
  EXPECT_EQ(kiv::platform::waitOne(process->handle(), 20000), kiv::platform::kWaitObject0);
}
