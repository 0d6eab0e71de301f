// The two-entry event interface: the plug-in reports numbered events to its host through
// it, and the host delivers session (15) and power (16) events to the plug-in.
#pragma once

#include "TQString.h"

struct ITQEventSink {
  virtual bool OnEventA(int code, void* sender, const TQStringA& s1, const TQStringA& s2,
                        const TQStringA& s3) = 0;
  virtual bool OnEventW(int code, void* sender, const TQStringW& s1, const TQStringW& s2,
                        const TQStringW& s3) = 0;

 protected:
  ~ITQEventSink() = default;
};

// The narrow entry of a sink that works with wide strings: converts the three strings from
// the system code page and hands them to OnEventW with the same code and sender.
inline bool forwardToOnEventW(ITQEventSink& sink, int code, void* sender, const TQStringA& s1,
                              const TQStringA& s2, const TQStringA& s3) {
  TQStringW w1, w2, w3;
  w1.assign_mbcs(s1.c_str());
  w2.assign_mbcs(s2.c_str());
  w3.assign_mbcs(s3.c_str());
  return sink.OnEventW(code, sender, w1, w2, w3);
}

// Codes the plug-in reports to its host.
enum TQEventCode : int {
  kTQEventShutdown = 1,
  kTQEventUserLogon = 2,
  kTQEventUserLogoff = 3,
  kTQEventAddressChange = 5,
  kTQEventDocked = 6,
  kTQEventUndocked = 7,
  kTQEventSessionLogon = 8,
  kTQEventSessionLogoff = 9,
  kTQEventConsoleConnect = 13,
  kTQEventConsoleDisconnect = 14,
  // Codes the host delivers to the plug-in.
  kTQEventSessionChange = 15,
  kTQEventPowerChange = 16,
};
