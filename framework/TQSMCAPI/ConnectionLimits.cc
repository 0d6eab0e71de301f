// Reading the connection limits, and the process-wide count of connections held.
#include "framework/TQSMCAPI/ConnectionLimits.h"

#include <atomic>

#include "ITQConfig.h"
#include "framework/TQSMCAPI/DescriptorLimit.h"
#include "tqUtilities.h"

namespace kiv::bus {
namespace {

// Descriptors kept back from connections for everything else the process does.
constexpr size_t kReserve = 256;

std::atomic<size_t> connectionsHeld{0};

template <typename Value>
void readPositive(ITQConfig* config, const wchar_t* key, Value* value) {
  int32_t number = 0;
  if (config->getNumber(L"dlox/common/kiv/bus", key, &number, 0) == 0 && number > 0) {
    *value = Value(number);
  }
}

}  // namespace

ConnectionLimits configuredLimits() {
  ConnectionLimits limits;
  ITQConfig* config = nullptr;
  TQUtilities_GetConfigEx(&config, -1);
  if (config == nullptr) return limits;
  readPositive(config, L"localmaxconnections", &limits.localMax);
  readPositive(config, L"localidletimeout", &limits.localIdle);
  readPositive(config, L"tcpmaxconnections", &limits.tcpMax);
  readPositive(config, L"tcpmaxperaddress", &limits.tcpPerAddress);
  readPositive(config, L"tcpidletimeout", &limits.tcpIdle);
  config->Release();
  return limits;
}

ConnectionSlot ConnectionSlot::take() {
  const size_t limit = descriptorLimit();
  const size_t budget = limit > kReserve ? limit - kReserve : 0;
  ConnectionSlot slot;
  size_t held = connectionsHeld.load();
  do {
    if (held >= budget) return slot;
  } while (!connectionsHeld.compare_exchange_weak(held, held + 1));
  slot.held_ = true;
  return slot;
}

ConnectionSlot::~ConnectionSlot() {
  if (held_) connectionsHeld.fetch_sub(1);
}

ConnectionSlot& ConnectionSlot::operator=(ConnectionSlot&& other) noexcept {
  if (this != &other) {
    if (held_) connectionsHeld.fetch_sub(1);
    held_ = other.held_;
    other.held_ = false;
  }
  return *this;
}

}  // namespace kiv::bus
