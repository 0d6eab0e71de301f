// The local address list: the newer adapter query for both families, the IPv4-only query
// when that yields nothing, then scope classification and, in policy mode, the scope
// filter and the resolver's preferred order.
#include "tqNotify/CTQIP.h"

#include <memory>
#include <string>
#include <vector>

#include "ITQTrace.h"
#include "cmsrslvr.h"
#include "platform/address_list.h"
#include "tqNotify/framework/TQptr.h"
#include "tqUtilities.h"

namespace {

constexpr const wchar_t* kFunction = L"CTQIP::GetLocalAddresses";
constexpr const char* kSourceFile = ".\\CTQIP";

// One line through the trace object, tagged with this file and the line of the call, and
// written only when the object's level reaches the line's.
#define CTQIP_TRACE(tracer, lineLevel, ...)                                              \
  do {                                                                                  \
    if ((tracer) && (tracer)->level() >= (lineLevel))                                   \
      (tracer)->traceAt((lineLevel), kSourceFile, __LINE__, 2, kFunction, __VA_ARGS__); \
  } while (0)

void appendNarrow(std::list<TQStringW>& list, const std::vector<std::string>& texts) {
  for (const auto& text : texts) {
    TQStringW wide;
    wide.assign_mbcs(text.c_str());
    list.push_back(std::move(wide));
  }
}

// The text the resolver classifies: the zone ("%4") is cut out up to a following "/"
// prefix, so fe80::1%4/64 is classified as fe80::1/64; the list keeps the full text.
TQStringW withoutZone(const TQStringW& address) {
  const std::size_t percent = address.find(L"%");
  if (percent == TQStringW::npos) return address;
  const std::size_t slash = address.find(L"/", percent);
  TQStringW cut = address.left(percent);
  if (slash != TQStringW::npos) cut += address.substr(slash);
  return cut;
}

// Drops unusable scopes in policy mode; classifies every address in both modes.
void applyScopes(std::list<TQStringW>& list, bool applyPolicy, ITQTrace* tracer) {
  for (auto it = list.begin(); it != list.end();) {
    const uint32_t scope = ResGetAddressScopeW(withoutZone(*it).c_str());
    if (applyPolicy && (scope & kResScopeUnusable) != 0) {
      CTQIP_TRACE(tracer, 3, L"Address %s, scope type %x, filtered", it->c_str(), scope);
      it = list.erase(it);
    } else {
      CTQIP_TRACE(tracer, 4, L"Added local address %s", it->c_str());
      ++it;
    }
  }
}

struct ResolverMemory {
  void operator()(wchar_t** array) const { ResFreeMemory(array); }
};

void applyPolicyOrder(std::list<TQStringW>& list, ITQTrace* tracer) {
  std::vector<const wchar_t*> texts;
  texts.reserve(list.size() + 1);
  for (const auto& address : list) texts.push_back(address.c_str());
  texts.push_back(nullptr);
  wchar_t** raw = nullptr;
  const int result = ResApplyPolicyW(0, texts.data(), &raw);
  std::unique_ptr<wchar_t*, ResolverMemory> ordered(raw);
  // A success without an array would empty the list; it is treated as the failure it is.
  if (result != 0 || !ordered) {
    CTQIP_TRACE(tracer, 1, L"Resolver was unable to re-order the address list according to policy");
    return;
  }
  std::list<TQStringW> reordered;
  for (wchar_t** entry = ordered.get(); *entry != nullptr; ++entry) reordered.emplace_back(*entry);
  list = std::move(reordered);
}

}  // namespace

void CTQIP::GetLocalAddresses(std::list<TQStringW>& list, bool applyPolicy) {
  TQptr<ITQTrace> tracer;
  TQUtilities_GetTracerEx(tracer.fill(), -1);
  list.clear();

  if (auto addresses = kiv::platform::queryLocalAddresses()) appendNarrow(list, *addresses);

  applyScopes(list, applyPolicy, tracer.get());
  if (list.empty()) {
    CTQIP_TRACE(tracer.get(), 1, L"No local IP addresses found!");
    return;
  }
  if (applyPolicy) applyPolicyOrder(list, tracer.get());
}
