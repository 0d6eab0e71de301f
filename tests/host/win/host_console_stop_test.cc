// `kiv host` on Windows stops in order on Ctrl+C and on Ctrl+Break: the plug-in's end (code 1)
// is its last line, its bus endpoint is closed and it exits 0. The host runs in a process
// group of its own on the test's console, as a supervisor starts it to be able to stop it
// alone; such a group starts with Ctrl+C switched off.
#include <windows.h>

#include <string>

#include "host/HostFixture.h"
#include "support/test_process.h"

namespace hosttest {
namespace {

// Delivers a control event the way the console server does on Windows: on a new thread of
// the process, in the system's own dispatcher (CtrlRoutine), which calls the handlers.
bool deliverThroughDispatcher(int pid, DWORD event) {
  auto* dispatcher = GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                                   PROCESS_VM_WRITE | PROCESS_VM_READ,
                               FALSE, static_cast<DWORD>(pid));
  if (dispatcher == nullptr || process == nullptr) {
    if (process != nullptr) CloseHandle(process);
    return false;
  }
  HANDLE thread = CreateRemoteThread(process, nullptr, 0,
                                     reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(dispatcher)),
                                     reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
  CloseHandle(process);
  return thread != nullptr;
}

class HostConsoleStopTest : public HostTest {
 protected:
  void startWithOneEvent() {
    startHost({"--json"});
    std::string output;
    ASSERT_EQ(runKiv({"send", "undocked", "--type", "T"}, &output), 0) << output;
    ASSERT_TRUE(kivtest::waitFor([&] { return printedText().find("\"code\":7") != std::string::npos; }));
  }

  void expectOrderlyStop() {
    EXPECT_EQ(host_->exitCode(), 0) << kivtest::readFile(err());
    expectEndIsLastLine();
    EXPECT_FALSE(endpointOpen("tqHost"));
  }
};

TEST_F(HostConsoleStopTest, CtrlCStopsTheHostInOrder) {
  startWithOneEvent();
  ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, static_cast<DWORD>(host_->pid())))
      << "error " << GetLastError();
  expectOrderlyStop();
}

// Wine 8's console server answers Ctrl+Break with "not implemented" (only Ctrl+C is
// generated there); under Wine the event is then handed to the host's dispatcher directly.
TEST_F(HostConsoleStopTest, CtrlBreakStopsTheHostInOrder) {
  startWithOneEvent();
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(host_->pid()))) {
    const DWORD error = GetLastError();
    ASSERT_TRUE(kivtest::underWine()) << "Ctrl+Break could not be sent: error " << error;
    RecordProperty("ctrl_break", "through CtrlRoutine: Wine refused GenerateConsoleCtrlEvent, error " +
                                     std::to_string(error));
    ASSERT_TRUE(deliverThroughDispatcher(host_->pid(), CTRL_BREAK_EVENT)) << "error " << GetLastError();
  }
  expectOrderlyStop();
}

}  // namespace
}  // namespace hosttest
