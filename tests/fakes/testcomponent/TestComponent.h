// The interface of the test component module, for tests of the factory and of TQptr.
#pragma once

#include "ITQImpl.h"

// Module "kivTestComponent", class "ITQTest", interface version 2.
struct ITQTest : ITQImpl {
  virtual int answer() = 0;
  // Hands out a new object of the same module, as components hand out sub-objects: it
  // carries its own load of the module.
  virtual bool makeChild(ITQTest** child) = 0;
};

inline constexpr const wchar_t* kTestModule = L"kivTestComponent";
inline constexpr const char* kTestClass = "ITQTest";
inline constexpr int kTestVersion = 2;

// Exported probes, looked up with TQFactory_GetProcAddress.
using TestProbeFn = int (*)();
inline constexpr const char* kLiveObjectsProbe = "TestComponent_LiveObjects";
inline constexpr const char* kInitCallsProbe = "TestComponent_InitCalls";
