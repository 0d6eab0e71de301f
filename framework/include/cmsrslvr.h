// The address resolver policy: scope classification and preferred ordering of addresses.
#pragma once

#include <cstdint>

#include "TQTypes.h"

// Scope bits; global unicast addresses have none of them.
constexpr uint32_t kResScopeLoopback = 0x02;
constexpr uint32_t kResScopeLinkLocal = 0x04;
constexpr uint32_t kResScopeSiteLocal = 0x08;  // IPv4 private ranges, fec0::/10, fc00::/7
constexpr uint32_t kResScopeUnspecified = 0x10;
constexpr uint32_t kResScopeMulticast = 0x20;
constexpr uint32_t kResScopeUnusable = 0x3E;

extern "C" {
// Address text, IPv4 or IPv6, with or without "/prefix"; text that is no address gives 0.
TQ_API uint32_t ResGetAddressScopeW(const wchar_t* address);
// Orders a null-terminated array of address texts by the default policy table (RFC 6724):
// precedence, then label, then original order. The result is one allocation, freed with
// ResFreeMemory.
TQ_API int ResApplyPolicyW(int reserved, const wchar_t* const* addresses, wchar_t*** ordered);
TQ_API void ResFreeMemory(void* memory);
}
