// A bus_peer process for the Windows bus tests: started with its input and output on pipes,
// read line by line, ended by closing its input or killed. Never outlives the test.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "support/kiv_test.h"

namespace bustest {

class PeerProcess {
 public:
  explicit PeerProcess(const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &input_, &inherit, 0)) return;
    if (!CreatePipe(&output_, &childOut, &inherit, 0)) return;
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + kiv::utf::widen(kivtest::binDir()) + L"\\bus_peer.exe\"";
    for (const std::string& argument : arguments) command += L" " + quoted(kiv::utf::widen(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION created{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &created)) {
      process_ = created.hProcess;
      CloseHandle(created.hThread);
    }
    // Only the child keeps its ends: its output ends when it does.
    CloseHandle(childIn);
    CloseHandle(childOut);
  }
  ~PeerProcess() {
    if (process_ != nullptr) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 30000);
      CloseHandle(process_);
    }
    if (input_ != nullptr) CloseHandle(input_);
    if (output_ != nullptr) CloseHandle(output_);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  int pid() const { return static_cast<int>(GetProcessId(process_)); }

  // One argument as the C runtime splits command lines: quotes escaped, and the backslashes
  // before a quote (or before the closing one) doubled.
  static std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
      backslashes = 0;
      out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
  }

  // The next line the peer printed, without its end; empty once its output has ended or
  // when nothing comes for a long time (a peer that hangs fails the test, not hangs it).
  std::string readLine() {
    std::string line;
    char c = 0;
    DWORD got = 0;
    while (readable() && ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // Ends the peer's input: a holding peer closes its endpoint and exits.
  void closeInput() {
    CloseHandle(input_);
    input_ = nullptr;
  }

  void kill() { TerminateProcess(process_, 9); }

  // The exit code once the peer has ended, -1 when it does not end in time.
  int exitCode() {
    if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
  }

 private:
  // Output is waiting, or the peer has ended (a read then sees the end at once).
  bool readable() {
    return kivtest::waitFor([this] {
      DWORD available = 0;
      return !PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) || available > 0 ||
             WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
    }, std::chrono::seconds(60));
  }

  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
};

// Runs `bus_peer ... send NAME TEXT` and answers what it printed: "<result> <status>".
inline std::string sendFromPeer(std::vector<std::string> arguments) {
  PeerProcess peer(arguments);
  if (!peer.started()) return "not started";
  std::string line = peer.readLine();
  return peer.exitCode() == 0 ? line : "failed: " + line;
}

}  // namespace bustest
