// The Windows version the module behaves as, packed like GetVersion: low byte major,
// next byte minor, top bit set for the 95/98/ME family. Set by KIV_WINDOWS_VERSION
// ("10.0" when unset; "4.0", "5.0", "5.1", "6.0", ...; "95", "98", "ME", or 98 and ME by
// their numbers "4.10" and "4.90").
#pragma once

#include <cstdint>

namespace kiv::platform {

uint32_t getVersion();

inline bool isNineXFamily(uint32_t version) { return (version & 0x80000000u) != 0; }
inline uint32_t majorVersion(uint32_t version) { return version & 0xFF; }
inline uint32_t minorVersion(uint32_t version) { return (version >> 8) & 0xFF; }

// Parses a version text as KIV_WINDOWS_VERSION takes it; false for text it does not know.
bool parseWindowsVersion(const char* text, uint32_t* version);

namespace testing {
// Overrides the setting for this process; null goes back to KIV_WINDOWS_VERSION.
void setWindowsVersion(const char* text);
}  // namespace testing

}  // namespace kiv::platform
