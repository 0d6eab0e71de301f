// Everything libtqNotify.so exports under plain names: the plug-in entry points, the units
// database and the logon registration. Other agent components load the module through the
// factory and look these names up.
#pragma once

#include <cstdint>

#include "ITQImpl.h"
#include "TQOSServices.h"
#include "TQString.h"
#include "tqNotify/units/UnitInfo.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {

// ---- Plug-in entry points.
TQ_API int TQInit(HTQMODULE library);
TQ_API int TQTerminate();
TQ_API bool TQGetVersionInfo(uint32_t* major, uint32_t* minor, uint32_t* revision,
                             uint32_t* build);
TQ_API ITQImpl* TQCreateInstance(const char* interfaceName, int requiredVersion);

// ---- Units store location and lock.
TQ_API TQStringA getUnitsPathA();
TQ_API TQStringW getUnitsPathW();
// 0: held, the mutex object (one reference for the caller) in *mutex; 3: no thread-control
// component; 4: the mutex could not be created, opened or acquired.
TQ_API int lockUnitsDB(ITQOSLock** mutex);
TQ_API int unlockUnitsDB(ITQOSLock* mutex);

// ---- Unit records. 0 done; 1 no configuration object; 5 no such unit or refused.
TQ_API int addUnitW(UnitInfoW* unit, uint32_t mask);
TQ_API int addUnitA(UnitInfoA* unit, uint32_t mask);
TQ_API int getUnitExW(UnitInfoW* unit, uint32_t mask);
TQ_API int getUnitExA(UnitInfoA* unit, uint32_t mask);
TQ_API int getUnitW(UnitInfoW* unit);
TQ_API int getUnitA(UnitInfoA* unit);

// ---- Unit enumeration. Lists are owned by the caller and given back to be freed.
TQ_API int enumerateUnitsExW(UnitInfoW** list, uint32_t typeMask, uint32_t fieldMask);
TQ_API int enumerateUnitsExA(UnitInfoA** list, uint32_t typeMask, uint32_t fieldMask);
TQ_API int enumerateUnitsW(UnitInfoW** list, uint32_t typeMask);
TQ_API int enumerateUnitsA(UnitInfoA** list, uint32_t typeMask);
TQ_API int freeUnitListW(UnitInfoW* list);
TQ_API int freeUnitListA(UnitInfoA* list);

// ---- Logon notification registration; both always answer 1.
TQ_API int RegisterNotifications();
TQ_API int UnregisterNotifications();

}  // extern "C"

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
