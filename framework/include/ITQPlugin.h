// The plug-in interface ("ITQPlugin", version 2) that a host drives, and the record it
// passes to Initialize.
#pragma once

#include "ITQEventSink.h"
#include "ITQImpl.h"
#include "TQString.h"
#include "tqNotify/framework/TQptr.h"

// Passed by value; the plug-in owns its copy and so releases `component` when Initialize
// returns. Only `sink` and `component` are read.
struct PluginInitInfo {
  ITQEventSink* sink = nullptr;
  void* hostContext = nullptr;
  int hostFlags = 0;
  TQptr<ITQImpl> component;
};

struct ITQPlugin : ITQImpl {
  // Two consecutive entries hold the one start-up operation.
  virtual bool Initialize(PluginInitInfo info) = 0;
  virtual bool Initialize2(PluginInitInfo info) = 0;
  virtual int Reserved1() = 0;
  virtual int ShutdownA(const char* text, int value) = 0;
  virtual int ShutdownW(TQStringW text, int value) = 0;
  virtual int Shutdown() = 0;
  virtual int Reserved2() = 0;
  virtual bool HandleRequestA(const TQStringA& input, TQStringA& output) = 0;
  virtual bool HandleRequestW(const TQStringW& input, TQStringW& output) = 0;
  virtual int GetNameA(TQStringA& name) = 0;
  virtual int GetNameW(TQStringW& name) = 0;
  virtual int GetDescriptionA(TQStringA& description) = 0;
  virtual int GetDescriptionW(TQStringW& description) = 0;
  virtual int Reserved3(void* argument) = 0;
  virtual int Reserved4(void* argument) = 0;
  virtual int Reserved5(void* argument) = 0;
  virtual int Reserved6(void* argument) = 0;
};
