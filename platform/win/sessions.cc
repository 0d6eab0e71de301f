// Login sessions from terminal services: every session the local server lists, with the
// connection state it reports and the domain and name of the user logged on there.
#include "platform/sessions.h"

#include "platform/win/unique_handle.h"

#include <wtsapi32.h>

#include "platform/utf8.h"

namespace kiv::platform {
namespace {

struct WtsMemoryTraits {
  using type = void*;
  static type empty() { return nullptr; }
  static bool valid(type p) { return p != nullptr; }
  static void close(type p) { WTSFreeMemory(p); }
};
using UniqueWtsMemory = win::Unique<WtsMemoryTraits>;

std::wstring sessionText(DWORD session, WTS_INFO_CLASS what) {
  wchar_t* text = nullptr;
  DWORD bytes = 0;
  if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &bytes)) {
    return {};
  }
  const UniqueWtsMemory owned(text);
  return text != nullptr ? text : L"";
}

// "DOMAIN\user", the bare name when the domain is unknown, empty when nobody is logged on.
std::string loginName(DWORD session) {
  const std::wstring user = sessionText(session, WTSUserName);
  if (user.empty()) return {};
  const std::wstring domain = sessionText(session, WTSDomainName);
  return kiv::utf::narrow(domain.empty() ? user : domain + L"\\" + user);
}

}  // namespace

SessionSource sessionSource() { return SessionSource::kTerminalServices; }

std::vector<LoginSession> listSessions() {
  std::vector<LoginSession> sessions;
  WTS_SESSION_INFOW* list = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) return sessions;
  const UniqueWtsMemory owned(list);
  for (DWORD i = 0; i < count; ++i) {
    LoginSession session;
    session.number = list[i].SessionId;
    session.state = static_cast<int>(list[i].State);
    session.userName = loginName(list[i].SessionId);
    sessions.push_back(std::move(session));
  }
  return sessions;
}

// There is no utmp file on Windows.
std::string utmpPath() { return {}; }

}  // namespace kiv::platform
