// Address-change notification through Windows Sockets: per family a socket on which
// SIO_ADDRESS_LIST_CHANGE is requested, selected for FD_ADDRESS_LIST_CHANGE onto a
// manual-reset socket event that the system signals when that family's list changes.
// The socket library must be initialised by the hosting process.
#include "platform/address_change.h"

#include "platform/win/unique_handle.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>

namespace kiv::platform {
namespace {

std::array<std::atomic<testing::AddressChangeStep>, 2> failingStep{
    testing::AddressChangeStep::kNone, testing::AddressChangeStep::kNone};

bool injectedFailure(AddressFamily family, testing::AddressChangeStep step) {
  if (failingStep[static_cast<int>(family)].load() != step) return false;
  WSASetLastError(WSAEACCES);
  return true;
}

// The object carries only its event (the waitable part); the socket that feeds the event
// is kept here, by the event's slot, with its family.
struct OpenSocket {
  SOCKET socket;
  AddressFamily family;
};
std::mutex socketsGuard;
std::map<int, OpenSocket>& sockets() {
  static auto* table = new std::map<int, OpenSocket>;
  return *table;
}

SOCKET socketOf(int eventSlot) {
  std::lock_guard held(socketsGuard);
  const auto found = sockets().find(eventSlot);
  return found != sockets().end() ? found->second.socket : INVALID_SOCKET;
}

WSAEVENT eventOf(int eventSlot) { return win::fromWaitSlot(eventSlot); }

// Asks for one notification of the next change. On a non-blocking socket the request
// stays pending (WSAEWOULDBLOCK); anything else means no notification will come.
bool requestChange(SOCKET socket) {
  DWORD bytes = 0;
  if (WSAIoctl(socket, SIO_ADDRESS_LIST_CHANGE, nullptr, 0, nullptr, 0, &bytes, nullptr,
               nullptr) == 0) {
    // Completed at once: a blocking socket waited for a change instead of leaving a
    // request behind.
    WSASetLastError(WSAEINVAL);
    return false;
  }
  return WSAGetLastError() == WSAEWOULDBLOCK;
}

bool selectChange(SOCKET socket, WSAEVENT event) {
  return WSAEventSelect(socket, event, FD_ADDRESS_LIST_CHANGE) != SOCKET_ERROR;
}

}  // namespace

std::unique_ptr<AddressChangeSocket> AddressChangeSocket::open(AddressFamily family) {
  if (injectedFailure(family, testing::AddressChangeStep::kOpen)) return nullptr;
  win::UniqueSocket socket(::socket(family == AddressFamily::kIPv4 ? AF_INET : AF_INET6,
                                    SOCK_STREAM, 0));
  if (!socket) return nullptr;
  win::UniqueHandle event(WSACreateEvent());
  const int slot = win::toWaitSlot(event.get());
  if (slot < 0) return nullptr;
  {
    std::lock_guard held(socketsGuard);
    sockets()[slot] = {socket.release(), family};
  }
  event.release();
  std::unique_ptr<AddressChangeSocket> made(new AddressChangeSocket(family, slot));
  made->unwaitable_ = failingStep[static_cast<int>(family)].load() == testing::AddressChangeStep::kWait;
  return made;
}

AddressChangeSocket::~AddressChangeSocket() {
  SOCKET socket = INVALID_SOCKET;
  {
    std::lock_guard held(socketsGuard);
    if (const auto found = sockets().find(fd_); found != sockets().end()) {
      socket = found->second.socket;
      sockets().erase(found);
    }
  }
  if (socket != INVALID_SOCKET) closesocket(socket);
  WSACloseEvent(eventOf(fd_));
}

bool AddressChangeSocket::setNonBlocking() {
  if (injectedFailure(family_, testing::AddressChangeStep::kNonBlocking)) return false;
  u_long on = 1;
  return ioctlsocket(socketOf(fd_), FIONBIO, &on) == 0;
}

bool AddressChangeSocket::requestNotification() {
  if (injectedFailure(family_, testing::AddressChangeStep::kRequest)) return false;
  return requestChange(socketOf(fd_));
}

bool AddressChangeSocket::joinChangeGroup() {
  if (injectedFailure(family_, testing::AddressChangeStep::kJoin)) return false;
  return selectChange(socketOf(fd_), eventOf(fd_));
}

bool AddressChangeSocket::rearm() {
  const WSAEVENT event = eventOf(fd_);
  const bool pending = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  // A notification is used up once it fired: clear the event, ask for the next change and
  // select the socket onto the event again.
  WSAResetEvent(event);
  const SOCKET socket = socketOf(fd_);
  requestChange(socket);
  selectChange(socket, event);
  return pending;
}

namespace testing {
void failAddressChangeStep(AddressFamily family, AddressChangeStep step) {
  failingStep[static_cast<int>(family)].store(step);
}

void signalAddressChange(AddressFamily family) {
  std::lock_guard held(socketsGuard);
  for (const auto& [slot, open] : sockets()) {
    if (open.family == family) WSASetEvent(eventOf(slot));
  }
}
}  // namespace testing

}  // namespace kiv::platform
