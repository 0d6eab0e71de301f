// The trace object: a component view of the framework tracer.
#pragma once

#include "ITQImpl.h"

struct ITQTrace : ITQImpl {
  virtual int open(const wchar_t* name, int a, int b, void* reserved, int flags) = 0;
  // One line tagged with its source position; callers check level() first.
  virtual void traceAt(int level, const char* sourceFile, int line, int c,
                       const wchar_t* function, const wchar_t* fmt, ...) = 0;
  virtual void trace(const wchar_t* source, int level, const wchar_t* fmt, ...) = 0;
  virtual int level() = 0;
};
