// Start and time limit of the address-change script; how its environment reaches it and
// how an overrunning one is ended depend on the system (ChangeScriptSystem.h).
#include "tqNotify/notifier/ChangeScript.h"

#include <cwchar>
#include <list>

#include "ITQConfig.h"
#include "tqNotify/CTQIP.h"
#include "tqNotify/framework/TQptr.h"
#include "tqNotify/notifier/ChangeScriptSystem.h"
#include "tqUtilities.h"

namespace kiv::notifier {
namespace {

constexpr const wchar_t* kSection = L"dlox/common/kiv/general";
constexpr const wchar_t* kTimeoutKey = L"ipchangescripttimeout";

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

std::unique_ptr<kiv::platform::Process> startChangeScript(const ScriptCommand& command, std::wstring_view commandLine) {
  std::list<TQStringW> addresses;
  CTQIP::GetLocalAddresses(addresses, false);
  return startWithEnvironment(command, commandLine, joined(addresses));
}

uint32_t changeScriptTimeoutSeconds() {
  TQptr<ITQConfig> config;
  TQUtilities_GetConfigEx(config.fill(), 2);
  if (!config || config->prepare(0, 2) != 0) return 0;
  return readTimeout(*config.get());
}

void waitForChangeScript(kiv::platform::Process& script, uint32_t timeoutSeconds, const wchar_t* commandLine) {
  using namespace kiv::platform;
  if (!canEndScriptGroup()) timeoutSeconds = 0;
  if (timeoutSeconds == 0 || waitOne(script.handle(), timeoutSeconds * 1000U) == kWaitObject0) {
    script.wait(kInfinite);
    return;
  }
  endScriptGroup(script);
  TQUtilities_TraceErrorW(L"tqNotify",
                          L"CTQNotify::IPThreadProcMethod: ipchangescript still ran after %u s; its process "
                          L"group was ended: %s",
                          timeoutSeconds, commandLine);
  script.wait(kInfinite);
}

}  // namespace kiv::notifier
