// Environment and time limit of the address-change script. The command line runs through
// /bin/sh -c, so the environment is set by the shell itself: no other thread of the host
// sees its environment change.
#include "tqNotify/notifier/ChangeScript.h"

#include <cwchar>

#ifndef _WIN32
#include <signal.h>
#else
#include <windows.h>
#endif

#include "ITQConfig.h"
#include "tqNotify/CTQIP.h"
#include "tqNotify/framework/TQptr.h"
#include "tqUtilities.h"

namespace kiv::notifier {
namespace {

constexpr const wchar_t* kSection = L"dlox/common/kiv/general";
constexpr const wchar_t* kTimeoutKey = L"ipchangescripttimeout";
// How long an ended script's group gets to exit on SIGTERM before SIGKILL.
constexpr uint32_t kGraceMs = 2000;

// Single-quoted for the shell, whatever the text holds.
std::wstring shellQuoted(const std::wstring& text) {
  std::wstring quoted = L"'";
  for (wchar_t c : text) {
    if (c == L'\'') quoted += L"'\\''"; else quoted += c;
  }
  return quoted + L"'";
}

std::wstring joined(const std::list<TQStringW>& addresses) {
  std::wstring list;
  for (const auto& address : addresses) {
    if (!list.empty()) list += L' ';
    list += address.c_str();
  }
  return list;
}

// A number, or decimal text as left by a value written as a string.
uint32_t readTimeout(ITQConfig& config) {
  int32_t number = 0;
  if (config.getNumber(kSection, kTimeoutKey, &number, 0) == 0) return number > 0 ? static_cast<uint32_t>(number) : 0;
  wchar_t text[32] = {};
  uint32_t size = 32;
  if (config.getStringW(kSection, kTimeoutKey, text, &size, 0) != 0) return 0;
  text[31] = L'\0';
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  return end != text && *end == L'\0' && value > 0 ? static_cast<uint32_t>(value) : 0;
}

}  // namespace

#ifndef _WIN32

std::wstring withChangeEnvironment(std::wstring_view commandLine, const std::list<TQStringW>& addresses) {
  return L"export KIV_EVENT=address-change KIV_ADDRESSES=" + shellQuoted(joined(addresses)) + L"\n" +
         std::wstring(commandLine);
}

#else

// CreateProcessW hands the host's own environment on; Windows guards it with a lock.
std::wstring withChangeEnvironment(std::wstring_view commandLine, const std::list<TQStringW>& addresses) {
  SetEnvironmentVariableW(L"KIV_EVENT", L"address-change");
  SetEnvironmentVariableW(L"KIV_ADDRESSES", joined(addresses).c_str());
  return std::wstring(commandLine);
}

#endif

std::wstring withChangeEnvironment(std::wstring_view commandLine) {
  std::list<TQStringW> addresses;
  CTQIP::GetLocalAddresses(addresses, false);
  return withChangeEnvironment(commandLine, addresses);
}

uint32_t changeScriptTimeoutSeconds() {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), 2);
  if (!config || config->prepare(0, 2) != 0) return 0;
  return readTimeout(*config.get());
}

void waitForChangeScript(kiv::platform::Process& script, uint32_t timeoutSeconds, const wchar_t* commandLine) {
  using namespace kiv::platform;
#ifdef _WIN32
  timeoutSeconds = 0;  // nothing here ends a process tree yet, so the wait has no limit
#endif
  if (timeoutSeconds == 0 || waitOne(script.handle(), timeoutSeconds * 1000U) == kWaitObject0) {
    script.wait(kInfinite);
    return;
  }
#ifndef _WIN32  // (never reached on Windows)
  // The script leads its own process group. Until it is reaped its pid cannot be reused,
  // so both signals reach only the script and what it started.
  killpg(script.pid(), SIGTERM);
  waitOne(script.handle(), kGraceMs);
  killpg(script.pid(), SIGKILL);
#endif
  TQUtilities_TraceErrorW(L"tqNotify",
                          L"CTQNotify::IPThreadProcMethod: ipchangescript still ran after %u s; its process "
                          L"group was ended: %s",
                          timeoutSeconds, commandLine);
  script.wait(kInfinite);
}

}  // namespace kiv::notifier
