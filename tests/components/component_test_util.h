// Small helpers shared by the component tests.
#pragma once

#include <string>

#include "TQString.h"

namespace componenttest {

inline std::string narrow(const wchar_t* text) {
  TQStringA out;
  out.assign_unicode(text);
  return out.str();
}

}  // namespace componenttest
