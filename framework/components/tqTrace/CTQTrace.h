// The trace object: writes through the framework tracer, so its lines reach the same sinks
// as the tqUtilities trace functions.
#pragma once

#include <mutex>
#include <string>

#include "../ComponentBase.h"
#include "ITQTrace.h"

class CTQTrace final : public kiv::components::Component<ITQTrace, 2> {
 public:
  static constexpr int kVersion = 2;

  CTQTrace() : Component(kiv::components::Origin::kCreated) {}

  // Names the trace source of traceAt lines; the other arguments select options this
  // tracer does not have.
  int open(const wchar_t* name, int a, int b, void* reserved, int flags) override;
  void traceAt(int level, const char* sourceFile, int line, int c, const wchar_t* function,
               const wchar_t* fmt, ...) override;
  void trace(const wchar_t* source, int level, const wchar_t* fmt, ...) override;
  int level() override;

 private:
  std::wstring sourceName();

  std::mutex mutex_;
  std::wstring name_;
};
