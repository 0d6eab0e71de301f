#include "tools/kiv/text_output.h"

#include <cstdio>

#include "platform/utf8.h"

namespace kiv::tool {

// Always UTF-8, never the narrow system code page: on Windows that is the ANSI code page,
// which would print "café" as a byte no UTF-8 reader accepts and anything it cannot show
// as '?'.
std::string utf8(const TQStringW& text) {
  std::string out;
  utf::toUtf8(std::wstring_view(text.c_str(), text.length()), out);
  return out;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace kiv::tool
