// The endpoint side of the bus: initialisation count, the table of open endpoints and the
// process's TCP listener, which runs while at least one endpoint is open and the
// configuration asks for it.
//
// The listener is configured in section "dlox/common/kiv/bus", key "tcplisten": either a
// TCP address ("tcp://127.0.0.1:0", "tcp://*:5570") or a bare port number, which
// listens on every interface. Absent or empty: no listener. The address actually bound is
// traced, so that a port chosen by the system (":0") can be found.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ITQConfig.h"
#include "TQSMCAPI.h"
#include "framework/TQSMCAPI/BusPaths.h"
#include "framework/TQSMCAPI/Endpoint.h"
#include "framework/TQSMCAPI/TcpRelay.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

struct BusState {
  std::mutex mutex;
  int initCount = 0;
  SMENDPOINT nextHandle = 1;
  std::map<SMENDPOINT, std::shared_ptr<Endpoint>> endpoints;
  std::weak_ptr<TcpRelay> relay;
};

BusState& state() {
  static BusState* busState = new BusState;  // outlives every endpoint thread
  return *busState;
}

std::string configuredListenAddress() {
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  if (config == nullptr) return {};
  char value[256] = {};
  uint32_t size = sizeof value;
  const int result = config->getStringA("dlox/common/kiv/bus", "tcplisten", value, &size, 0);
  config->Release();
  if (result != 0) return {};
  std::string address(value);
  if (!address.empty() && address.find_first_not_of("0123456789") == std::string::npos) {
    address = "tcp://*:" + address;
  }
  return address;
}

bool deliverRemote(const std::string& name, uint64_t ticket, std::string text) {
  BusState& bus = state();
  std::lock_guard lock(bus.mutex);
  for (auto& [handle, endpoint] : bus.endpoints) {
    if (endpoint->name() == name) return endpoint->enqueueRemote(ticket, std::move(text));
  }
  return false;
}

// The running listener, started when configured and not yet running. Called with the state
// locked.
std::shared_ptr<TcpRelay> currentRelay(BusState& bus) {
  if (auto running = bus.relay.lock()) return running;
  const std::string address = configuredListenAddress();
  if (address.empty()) return nullptr;
  std::string error;
  std::shared_ptr<TcpRelay> relay = TcpRelay::start(address, deliverRemote, &error);
  if (relay == nullptr) {
    TQUtilities_TraceErrorW(L"TQSMCAPI", L"TCP listener not started: %hs", error.c_str());
    return nullptr;
  }
  TQUtilities_TraceW(L"TQSMCAPI", L"TCP listener on %hs", relay->boundAddress().c_str());
  bus.relay = relay;
  return relay;
}

}  // namespace
}  // namespace kiv::bus

using kiv::bus::Endpoint;
using kiv::bus::state;

extern "C" {

TQ_API int SmInitialize(const unsigned char options[4], ITQTrace* /*tracer*/) {
  // The bus traces through the framework's tracing functions, which reach the same sinks
  // as the trace object, so the object itself is not kept.
  if (options == nullptr) return kSmErrInvalidArgument;
  std::lock_guard lock(state().mutex);
  ++state().initCount;
  return 0;
}

TQ_API int SmOpenEndPointU(const char* name, int /*reserved*/, SmCallback callback,
                           int /*flags*/, void* context, SMENDPOINT* handle) {
  if (!kiv::bus::isValidEndpointName(name) || callback == nullptr || handle == nullptr) {
    return kSmErrInvalidArgument;
  }
  auto& bus = state();
  // Declared before the lock: should the listener's last owner go away here, it must stop
  // with the table unlocked, since its thread looks endpoints up in that table.
  std::shared_ptr<kiv::bus::TcpRelay> relay;
  std::lock_guard lock(bus.mutex);
  if (bus.initCount <= 0) return kSmErrNotInitialized;
  relay = kiv::bus::currentRelay(bus);
  std::shared_ptr<Endpoint> endpoint;
  const int result = Endpoint::open(name, callback, context, relay, &endpoint);
  if (result != 0) return result;
  const SMENDPOINT id = bus.nextHandle++;
  if (bus.nextHandle == 0) bus.nextHandle = 1;
  // The handle is out before the first callback can run: a callback may need it to close
  // its own endpoint.
  *handle = id;
  bus.endpoints.emplace(id, endpoint);
  endpoint->start();
  return 0;
}

TQ_API int SmIsLocalMessage(void* /*first*/, void* third, int* isLocal) {
  if (isLocal == nullptr) return kSmErrInvalidArgument;
  if (third == &kiv::bus::kLocalOrigin) {
    *isLocal = 1;
  } else if (third == &kiv::bus::kRemoteOrigin) {
    *isLocal = 0;
  } else {
    return kSmErrInvalidArgument;
  }
  return 0;
}

// Waits for a running callback of the endpoint (see Endpoint::close). A callback that
// closes its own endpoint does not wait for itself. A closer must not hold a lock that the
// endpoint's callback may be waiting for: the close would wait for ever (and say so in the
// trace every few seconds).
TQ_API int SmCloseEndPoint(SMENDPOINT handle) {
  std::shared_ptr<Endpoint> endpoint;
  {
    auto& bus = state();
    std::lock_guard lock(bus.mutex);
    auto found = bus.endpoints.find(handle);
    if (found == bus.endpoints.end()) return kSmErrInvalidArgument;
    endpoint = std::move(found->second);
    bus.endpoints.erase(found);
  }
  endpoint->close();
  return 0;
}

// The last de-initialisation closes whatever endpoints are still open.
TQ_API int SmDeinitialize() {
  std::vector<std::shared_ptr<Endpoint>> leftovers;
  {
    auto& bus = state();
    std::lock_guard lock(bus.mutex);
    if (bus.initCount <= 0) return kSmErrNotInitialized;
    if (--bus.initCount > 0) return 0;
    for (auto& [handle, endpoint] : bus.endpoints) leftovers.push_back(std::move(endpoint));
    bus.endpoints.clear();
  }
  for (auto& endpoint : leftovers) endpoint->close();
  return 0;
}

}  // extern "C"
