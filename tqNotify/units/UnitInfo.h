// The unit record exchanged with callers of the units exports, in its wide and narrow
// twins. Field order is part of the exported interface.
#pragma once

#include <cstdint>

#include "TQString.h"

// Field-selection bits, walked from the lowest to the highest.
enum UnitField : uint32_t {
  kUnitType = 0x0001,
  kUnitExecutionContext = 0x0002,
  kUnitTriggable = 0x0004,
  kUnitPreviousManagerAddress = 0x0008,
  kUnitReferenceCount = 0x0010,
  kUnitDomain = 0x0020,
  kUnitUser = 0x0040,
  kUnitLocalUser = 0x0080,
  kUnitUri = 0x0100,
  kUnitPreviousServerAddress = 0x0200,
  kUnitPreviousDomainUuid = 0x0400,
  kUnitLastMsiSource = 0x0800,
  kUnitCurrentManagerAddress = 0x1000,
  kUnitCurrentDomainUuid = 0x2000,
  kUnitPreviousUri = 0x4000,
};

// Unit-type bits of the enumeration.
enum UnitTypeBit : uint32_t {
  kUnitTypeDockingDeviceWindows = 0x01,
  kUnitTypeDockingDevicePalm = 0x02,
  kUnitTypeDockingDeviceNokia = 0x04,
  kUnitTypeUser = 0x08,
  kUnitTypeComputerUser = 0x10,
  kUnitTypeComputer = 0x20,
};

template <class String, class Self>
struct UnitInfoT {
  String name;
  String unittype;
  String homedirectory;
  String executioncontext;
  int32_t triggable = 0;
  String previousmanageraddress;
  int32_t referencecount = 0;
  String domain;
  String user;
  String previousserveraddress;
  String previousdomainuuid;
  int32_t localuser = 0;
  String uri;
  String lastmsisource;
  String currentmanageraddress;
  String currentdomainuuid;
  String previousuri;
  Self* next = nullptr;
};

struct UnitInfoW : UnitInfoT<TQStringW, UnitInfoW> {};
struct UnitInfoA : UnitInfoT<TQStringA, UnitInfoA> {};
