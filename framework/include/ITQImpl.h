// The base of every framework component: reference counting, version check and the
// library that implements the object. Entry order is part of the framework's contract.
#pragma once

#include "TQTypes.h"

struct ITQImpl {
  virtual void AddRef() = 0;
  // Returns the new reference count; the object is gone when it answers 0.
  virtual int Release() = 0;
  // 1 when the required interface version is supported, 0 otherwise.
  virtual int CheckVersion(int required) = 0;
  // The module that implements the object; the last holder unloads it through the
  // factory. Objects that live in tqUtilities itself answer null.
  virtual HTQMODULE GetLibraryHandle() = 0;
  virtual ~ITQImpl() = default;
};
