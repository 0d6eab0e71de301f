// The IP change monitor thread: waits for changes of the IPv4 and IPv6 address lists,
// traces the new list, runs the configured "ipchangescript" and reports code 5.
#include <array>
#include <ctime>
#include <list>
#include <memory>
#include <optional>
#include <vector>

#include "platform/address_change.h"
#include "platform/last_error.h"
#include "tqNotify/CTQIP.h"
#include "tqNotify/notifier/AddressSnapshot.h"
#include "tqNotify/notifier/CTQNotify.h"
#include "tqNotify/notifier/ChangeScript.h"
#include "tqUtilities.h"

namespace {

using kiv::platform::AddressChangeSocket;
using kiv::platform::AddressFamily;
using kiv::platform::WaitHandle;

constexpr const wchar_t* kSource = L"tqNotify";
constexpr const wchar_t* kFunction = L"CTQNotify::IPThreadProcMethod";
// A wait that failed would most likely fail again at once; pause before the next try so
// the thread does not spin, but keep listening for shutdown meanwhile.
constexpr uint32_t kFailedWaitPauseMs = 1000;

// The sockets and the wait array of the thread: stop, IPv4, IPv6, in that order.
struct ChangeWatch {
  std::unique_ptr<AddressChangeSocket> ipv4;
  std::unique_ptr<AddressChangeSocket> ipv6;
  // Holds the IPv4 place in the wait array when there is no IPv4 socket; never set.
  kiv::platform::Event ipv4Placeholder{kiv::platform::Event::Reset::kManual};
  std::array<WaitHandle, 3> waits{};
  std::size_t waitCount = 2;

  // Drops what is pending on both families so that the next change signals afresh. Says,
  // by family, whether anything was pending.
  std::array<bool, 2> rearm() const {
    const bool ipv4Pending = ipv4 && ipv4->rearm();
    const bool ipv6Pending = waitCount == 3 && ipv6->rearm();
    return {ipv4Pending, ipv6Pending};
  }
};

// The address lists last handled, so that notifications that leave a family's addresses
// as they were (the kernel announces every lifetime refresh and the end of duplicate-
// address detection like a new address) neither run the script nor reach the host.
class HandledAddresses {
 public:
  // The addresses there at start-up: what the first change is measured against.
  void baseline() { handled_ = AddressSnapshot::take(); }
  // Whether the wake-up changed the addresses of a family that had something pending.
  // One without a baseline to compare with counts, as does one whose addresses cannot be read.
  bool changed(const std::array<bool, 2>& pending) {
    current_ = AddressSnapshot::take();
    if (!handled_ || !current_) return true;
    for (const AddressFamily family : {AddressFamily::kIPv4, AddressFamily::kIPv6}) {
      if (pending[static_cast<std::size_t>(family)] && !handled_->sameAddresses(*current_, family))
        return true;
    }
    return false;
  }
  // The addresses handled now; what the script is told about them. After a wait (the
  // suspend gate may have held the change long after `changed` read them) they are read
  // afresh; should they not be readable then, the ones `changed` read stand in.
  kiv::notifier::ScriptEvent handling(bool afterWait) {
    if (afterWait) {
      if (auto fresh = AddressSnapshot::take()) current_ = std::move(fresh);
    }
    kiv::notifier::ScriptEvent event{kFunction, "address-change", {}, {}, {}};
    if (current_) {
      event.addresses = current_->addresses();
      event.added = handled_ ? current_->addedSince(*handled_) : current_->addresses();
      if (handled_) event.removed = handled_->addedSince(*current_);
    }
    handled_ = std::move(current_);
    return event;
  }
  // The addresses at start-up, for a run of the script then: all of them are new to it.
  kiv::notifier::ScriptEvent startup() const {
    kiv::notifier::ScriptEvent event{kFunction, "startup", {}, {}, {}};
    if (handled_) event.addresses = event.added = handled_->addresses();
    return event;
  }

 private:
  std::optional<AddressSnapshot> handled_;
  std::optional<AddressSnapshot> current_;
};

void openIPv4(ChangeWatch& watch) {
  watch.ipv4 = AddressChangeSocket::open(AddressFamily::kIPv4);
  if (!watch.ipv4) {
    TQUtilities_TraceExW(kSource, 0, L"%s: socket failed for IPv4 socket. No IPv4 support.",
                         kFunction);
    return;
  }
  watch.ipv4->setNonBlocking();
  if (!watch.ipv4->requestNotification()) {
    TQUtilities_TraceExW(kSource, 0, L"%s: WSAIoctl failed for IPv4 socket - WSAGetLastError=%d",
                         kFunction, kiv::platform::lastError());
  }
  watch.ipv4->joinChangeGroup();
}

void openIPv6(ChangeWatch& watch) {
  watch.ipv6 = AddressChangeSocket::open(AddressFamily::kIPv6);
  if (!watch.ipv6) {
    TQUtilities_TraceExW(kSource, 0, L"%s: socket failed for IPv6 socket. No IPv6 support.",
                         kFunction);
    return;
  }
  if (!watch.ipv6->setNonBlocking()) {
    TQUtilities_TraceErrorW(kSource, L"%s: ioctlsocket failed on IPv6 socket", kFunction);
    return;
  }
  if (!watch.ipv6->requestNotification()) {
    TQUtilities_TraceErrorW(kSource, L"%s: WSAIoctl failed for IPv6 socket - WSAGetLastError=%d",
                            kFunction, kiv::platform::lastError());
  }
  if (!watch.ipv6->joinChangeGroup()) {
    TQUtilities_TraceErrorW(kSource,
                            L"%s: WSAEventSelect failed for IPv6 socket - WSAGetLastError=%d",
                            kFunction, kiv::platform::lastError());
    return;
  }
  watch.waits[2] = watch.ipv6->handle();
  watch.waitCount = 3;
  TQUtilities_TraceExW(kSource, 0, L"%s: waiting for ip address change event on IPv6 socket",
                       kFunction);
}

void setUp(ChangeWatch& watch, const kiv::platform::Event& stopEvent) {
  openIPv4(watch);
  watch.waits[0] = stopEvent.handle();
  watch.waits[1] = watch.ipv4 ? watch.ipv4->handle() : watch.ipv4Placeholder.handle();
  openIPv6(watch);
}

void traceAddressList() {
  std::list<TQStringW> addresses;
  CTQIP::GetLocalAddresses(addresses, false);
  TQUtilities_TraceExW(kSource, 0, L"Notifier: System reports %u addresses",
                       static_cast<unsigned>(addresses.size()));
  for (const auto& address : addresses) {
    TQUtilities_TraceExW(kSource, 0, L"Notifier: IP address( %s )", address.c_str());
  }
}

unsigned now() { return static_cast<unsigned>(std::time(nullptr)); }

// One change: the suspend gate, the address-list trace, the script and the report. The
// script hears of the addresses as they are once the gate opens, not as they were when the
// change woke the thread.
void handleAddressChange(CTQNotify& notifier, HandledAddresses& handled) {
  const bool gated = notifier.suspended.load() != 0;
  if (gated) {
    TQUtilities_TraceExW(kSource, 3, L"%s: We are suspending or suspended. Waiting for resume. T=%u",
                         kFunction, now());
    const uint32_t result = kiv::platform::waitOne(notifier.resumeEvent->handle(), notifier.resumeWaitMs);
    TQUtilities_TraceExW(kSource, 3, L"%s: After resume wait. Result was %u. T=%u", kFunction,
                         result, now());
  }
  const kiv::notifier::ScriptEvent event = handled.handling(gated);
  traceAddressList();
  kiv::notifier::runChangeScript(event);
  notifier.report(kTQEventAddressChange);
}

}  // namespace

int ipThreadEntry(void* /*context*/, void* notifier) {
  return static_cast<CTQNotify*>(notifier)->IPThreadProcMethod();
}

int CTQNotify::IPThreadProcMethod() {
  ChangeWatch watch;
  HandledAddresses handled;
  setUp(watch, *stopEvent);
  // Taken once the sockets listen, so a change it does not hold is pending on a socket; and
  // before the start is traced, so no change made after that trace can be part of it.
  handled.baseline();
  TQUtilities_TraceExW(kSource, 0, L"Notifier: IP monitor thread starting");
  traceAddressList();
  // A host that starts after the network came up still hands the machine's addresses to
  // the script; this is no change, so the host hears nothing of it.
  if (kiv::notifier::changeScriptRunsOnStart()) kiv::notifier::runChangeScript(handled.startup());

  for (;;) {
    const uint32_t woken = kiv::platform::waitAny(
        std::span<const WaitHandle>(watch.waits.data(), watch.waitCount), kiv::platform::kInfinite);
    if (woken == kiv::platform::kWaitObject0) break;
    if (woken == kiv::platform::kWaitFailed) {
      TQUtilities_TraceErrorW(kSource, L"%s: waiting for address changes failed (errno %d)",
                              kFunction, kiv::platform::lastError());
      const uint32_t paused = kiv::platform::waitOne(stopEvent->handle(), kFailedWaitPauseMs);
      // Without a working stop event the thread could neither pause nor ever see the
      // shutdown; ending it keeps shutdown from waiting for ever.
      if (paused != kiv::platform::kWaitTimeout) break;
      continue;
    }
    // Re-arm before handling: a change that comes while this one is handled (the script
    // may run for long) stays pending and wakes the next wait, so it is never lost, and
    // any number of such changes is drained together into one further handling.
    std::array<bool, 2> pending = watch.rearm();
    if (woken == 1 || woken == 2) pending[woken - 1] = true;
    if (!handled.changed(pending)) {
      TQUtilities_TraceExW(kSource, 4,
                           L"%s: %s notification left the address list as it was; ignored",
                           kFunction, woken == 2 ? L"IPv6" : L"IPv4");
      continue;
    }
    if (woken == 1) TQUtilities_TraceExW(kSource, 0, L"%s: IPv4 address change detected", kFunction);
    if (woken == 2) TQUtilities_TraceExW(kSource, 0, L"%s: IPv6 address change detected", kFunction);
    handleAddressChange(*this, handled);
  }
  return 0;
}

