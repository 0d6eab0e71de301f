// Preferred order of addresses by the default policy table of RFC 6724: higher precedence
// first, then lower label, then the order given. The result is a single block, the pointer
// array followed by the texts, so that one free releases it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

#include "cmsrslvr.h"
#include "framework/cmsrslvr/AddressText.h"

namespace kiv::resolver {
namespace {

constexpr int kResultInvalidArgument = 87;
constexpr int kResultOutOfMemory = 8;

struct PolicyEntry {
  unsigned char prefix[16];
  int bits;
  int precedence;
  int label;
};

// Longest matching prefix wins, so the table is searched most specific first.
const PolicyEntry kPolicyTable[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128, 50, 0},  // ::1/128
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 96, 35, 4},         // ::ffff:0:0/96
    {{0}, 96, 1, 3},                                                 // ::/96
    {{0x20, 0x01, 0, 0}, 32, 5, 5},                                  // 2001::/32
    {{0x20, 0x02}, 16, 30, 2},                                       // 2002::/16
    {{0x3F, 0xFE}, 16, 1, 12},                                       // 3ffe::/16
    {{0xFE, 0xC0}, 10, 1, 11},                                       // fec0::/10
    {{0xFC}, 7, 3, 13},                                              // fc00::/7
    {{0}, 0, 40, 1},                                                 // ::/0
};

bool matches(const in6_addr& address, const PolicyEntry& entry) {
  const int whole = entry.bits / 8;
  if (std::memcmp(address.s6_addr, entry.prefix, whole) != 0) return false;
  const int rest = entry.bits % 8;
  if (rest == 0) return true;
  const unsigned char mask = static_cast<unsigned char>(0xFF << (8 - rest));
  return (address.s6_addr[whole] & mask) == (entry.prefix[whole] & mask);
}

struct Ranked {
  const wchar_t* text;
  int precedence;
  int label;
};

// Text that is no address sorts after every address.
Ranked rank(const wchar_t* text) {
  const std::optional<in6_addr> address = parseAddress(text);
  if (!address) return {text, -1, 0x7FFFFFFF};
  for (const PolicyEntry& entry : kPolicyTable) {
    if (matches(*address, entry)) return {text, entry.precedence, entry.label};
  }
  return {text, -1, 0x7FFFFFFF};
}

}  // namespace
}  // namespace kiv::resolver

extern "C" {

TQ_API int ResApplyPolicyW(int /*reserved*/, const wchar_t* const* addresses, wchar_t*** ordered) {
  using namespace kiv::resolver;
  if (addresses == nullptr || ordered == nullptr) return kResultInvalidArgument;
  *ordered = nullptr;
  std::vector<Ranked> ranked;
  size_t characters = 0;
  for (const wchar_t* const* p = addresses; *p != nullptr; ++p) {
    ranked.push_back(rank(*p));
    characters += std::wcslen(*p) + 1;
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
    return a.precedence != b.precedence ? a.precedence > b.precedence : a.label < b.label;
  });
  const size_t pointerBytes = (ranked.size() + 1) * sizeof(wchar_t*);
  void* block = std::malloc(pointerBytes + characters * sizeof(wchar_t));
  if (block == nullptr) return kResultOutOfMemory;
  auto** pointers = static_cast<wchar_t**>(block);
  auto* texts = reinterpret_cast<wchar_t*>(static_cast<char*>(block) + pointerBytes);
  for (size_t i = 0; i < ranked.size(); ++i) {
    const size_t length = std::wcslen(ranked[i].text) + 1;
    std::wmemcpy(texts, ranked[i].text, length);
    pointers[i] = texts;
    texts += length;
  }
  pointers[ranked.size()] = nullptr;
  *ordered = pointers;
  return 0;
}

TQ_API void ResFreeMemory(void* memory) { std::free(memory); }

}  // extern "C"
