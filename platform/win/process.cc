// Hidden processes started with CreateProcessW and watched through their process handles.
// The command line goes to the system as it is, program and arguments alike. A process
// whose output is read gets an environment block of its own, so the host's environment,
// shared by all its threads, never changes for it.
#include "platform/process.h"

#include "platform/win/output_pipes.h"
#include "platform/win/unique_handle.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace kiv::platform {
namespace {

// The name part of an environment entry: up to the first '=' after its first character
// (the per-drive directories are kept as "=C:=C:\\...").
std::wstring_view nameOf(std::wstring_view entry) {
  const std::size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

// Windows compares environment names without regard to case, ordinally.
int compareNames(std::wstring_view left, std::wstring_view right) {
  return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(), static_cast<int>(right.size()),
                              TRUE);
}
bool nameLess(std::wstring_view left, std::wstring_view right) { return compareNames(left, right) == CSTR_LESS_THAN; }
bool sameName(std::wstring_view left, std::wstring_view right) { return compareNames(left, right) == CSTR_EQUAL; }

// The host's environment with `overrides` ("NAME=value") put over it, sorted by name as
// Windows keeps an environment, as one block of terminated entries ending in an empty one.
// The host's own environment is left as it is. Entries without a name are skipped.
std::wstring environmentBlock(const std::vector<std::wstring>& overrides) {
  std::vector<std::wstring> entries;
  for (const auto& entry : overrides) {
    if (entry.find(L'=', 1) != std::wstring::npos) entries.push_back(entry);
  }
  const std::size_t overridden = entries.size();
  struct Strings {
    void operator()(wchar_t* block) const { FreeEnvironmentStringsW(block); }
  };
  const std::unique_ptr<wchar_t, Strings> host(GetEnvironmentStringsW());
  for (const wchar_t* entry = host.get(); entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring_view name = nameOf(entry);
    bool replaced = false;
    for (std::size_t i = 0; i < overridden && !replaced; ++i) {
      const std::wstring_view other = nameOf(entries[i]);
      replaced = sameName(name, other);
    }
    if (!replaced) entries.emplace_back(entry);
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::wstring& left, const std::wstring& right) { return nameLess(nameOf(left), nameOf(right)); });
  std::wstring block;
  for (const auto& entry : entries) {
    block += entry;
    block += L'\0';
  }
  if (entries.empty()) block += L'\0';
  block += L'\0';
  return block;
}

struct AttributeListDeleter {
  void operator()(LPPROC_THREAD_ATTRIBUTE_LIST list) const {
    DeleteProcThreadAttributeList(list);
    delete[] reinterpret_cast<char*>(list);
  }
};
using AttributeList = std::unique_ptr<std::remove_pointer_t<LPPROC_THREAD_ATTRIBUTE_LIST>, AttributeListDeleter>;

// An attribute list that lets the child inherit `handles` and nothing else the host holds.
AttributeList inheritOnly(HANDLE* handles, std::size_t count) {
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0) return nullptr;
  auto* raw = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(new char[size]);
  if (!InitializeProcThreadAttributeList(raw, 1, 0, &size)) {
    delete[] reinterpret_cast<char*>(raw);
    return nullptr;
  }
  AttributeList list(raw);
  if (!UpdateProcThreadAttribute(list.get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                 nullptr, nullptr)) {
    return nullptr;
  }
  return list;
}

// Starts the command line hidden; with `pipes`, its output goes to them, it inherits those
// handles and no other, its environment is the host's with `environment` put over it, and
// it runs in their job from its first instruction on, so nothing it starts escapes the job.
win::UniqueHandle create(std::wstring_view commandLine, OutputPipes* pipes, const std::vector<std::wstring>& environment,
                         DWORD* processId) {
  if (commandLine.empty() || commandLine.find(L'\0') != std::wstring_view::npos) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return {};
  }
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring writable(commandLine);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup.StartupInfo;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  DWORD flags = CREATE_NO_WINDOW;
  win::UniqueHandle input;
  AttributeList attributes;
  std::wstring block;
  HANDLE inherited[3] = {};
  if (pipes != nullptr) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    input.reset(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                            nullptr));
    if (!input) return {};
    startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inherited[0] = input.get();
    startup.StartupInfo.hStdOutput = inherited[1] = pipes->streams[0].write.get();
    startup.StartupInfo.hStdError = inherited[2] = pipes->streams[1].write.get();
    attributes = inheritOnly(inherited, 3);
    if (!attributes) return {};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes.get();
    block = environmentBlock(environment);
    flags |= CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT;
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, pipes != nullptr, flags,
                      pipes != nullptr ? block.data() : nullptr, nullptr, &startup.StartupInfo, &info)) {
    return {};
  }
  win::UniqueHandle process(info.hProcess);
  win::UniqueHandle thread(info.hThread);
  if (pipes != nullptr) {
    if (!AssignProcessToJobObject(pipes->job.get(), process.get())) {
      const DWORD error = GetLastError();
      TerminateProcess(process.get(), 1);
      SetLastError(error);
      return {};
    }
    // A child that never resumes would hold its job and pipes for ever; the job ends it.
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
      const DWORD error = GetLastError();
      TerminateJobObject(pipes->job.get(), 1);
      SetLastError(error);
      return {};
    }
    pipes->closeChildEnds();
  }
  *processId = info.dwProcessId;
  return process;
}

}  // namespace

Process::Process(int pid, int pidfd, bool child, std::unique_ptr<OutputPipes> pipes)
    : pid_(pid), pidfd_(pidfd), child_(child), pipes_(std::move(pipes)) {}

std::unique_ptr<Process> Process::startHidden(std::wstring_view commandLine) {
  DWORD id = 0;
  win::UniqueHandle process = create(commandLine, nullptr, {}, &id);
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(static_cast<int>(id), slot, true));
}

std::unique_ptr<Process> Process::startReading(std::wstring_view commandLine,
                                               const std::vector<std::wstring>& environment) {
  auto pipes = OutputPipes::open();
  if (!pipes) return nullptr;
  DWORD id = 0;
  win::UniqueHandle process = create(commandLine, pipes.get(), environment, &id);
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(static_cast<int>(id), slot, true, std::move(pipes)));
}

std::unique_ptr<Process> Process::open(int pid) {
  if (pid <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  win::UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  const int slot = win::toWaitSlot(process.get());
  if (slot < 0) return nullptr;
  process.release();
  return std::unique_ptr<Process>(new Process(pid, slot, false));
}

// A process still running keeps running; only the handle on it is given up.
Process::~Process() {
  if (pidfd_ >= 0) CloseHandle(win::fromWaitSlot(pidfd_));
}

void Process::noteEnd() {
  DWORD code = 0;
  if (child_ && GetExitCodeProcess(win::fromWaitSlot(pidfd_), &code)) exitCode_ = static_cast<int>(code);
}

uint32_t Process::wait(uint32_t timeoutMs) {
  const uint32_t result = waitOne(handle(), timeoutMs);
  if (result == kWaitObject0) noteEnd();
  return result;
}

uint32_t Process::waitReading(uint32_t timeoutMs, const OutputReceiver& receiver) {
  if (!pipes_) return wait(timeoutMs);
  const uint32_t result = pipes_->readUntilEnd(win::fromWaitSlot(pidfd_), timeoutMs, receiver);
  if (result == kWaitObject0) noteEnd();
  return result;
}

bool Process::endTree(uint32_t exitCode) {
  return pipes_ && TerminateJobObject(pipes_->job.get(), exitCode) != 0;
}

}  // namespace kiv::platform
