// Address text parsing.
#include "framework/cmsrslvr/AddressText.h"

#include <cstring>
#include <string>

namespace kiv::resolver {
namespace {

// Longest text worth looking at: a full IPv6 text with an embedded IPv4 part, a zone and a
// prefix fits easily.
constexpr size_t kMaxText = 128;

// The address part as narrow text: zone and prefix cut off; nullopt for text that cannot
// be an address (non-ASCII, too long, a malformed prefix).
std::optional<std::string> addressPart(const wchar_t* text) {
  std::string narrow;
  for (const wchar_t* p = text; *p != L'\0'; ++p) {
    if (*p <= 0 || *p > 0x7E || narrow.size() >= kMaxText) return std::nullopt;
    narrow.push_back(static_cast<char>(*p));
  }
  const size_t slash = narrow.find('/');
  if (slash != std::string::npos) {
    const std::string prefix = narrow.substr(slash + 1);
    if (prefix.empty() || prefix.size() > 3 || prefix.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    narrow.resize(slash);
  }
  const size_t percent = narrow.find('%');
  if (percent != std::string::npos) narrow.resize(percent);
  return narrow;
}

}  // namespace

bool isIpv4Mapped(const in6_addr& address) {
  static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return std::memcmp(address.s6_addr, prefix, sizeof prefix) == 0;
}

std::optional<in6_addr> parseAddress(const wchar_t* text) {
  if (text == nullptr) return std::nullopt;
  const std::optional<std::string> part = addressPart(text);
  if (!part) return std::nullopt;
  in6_addr result{};
  in_addr v4{};
  if (inet_pton(AF_INET, part->c_str(), &v4) == 1) {
    result.s6_addr[10] = 0xFF;
    result.s6_addr[11] = 0xFF;
    std::memcpy(&result.s6_addr[12], &v4, 4);
    return result;
  }
  if (inet_pton(AF_INET6, part->c_str(), &result) == 1) return result;
  return std::nullopt;
}

}  // namespace kiv::resolver
