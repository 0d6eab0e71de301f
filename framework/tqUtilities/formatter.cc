// One formatter for both character widths. Specifiers are parsed here; integers and text
// are rendered without the C library so that both widths behave exactly alike.
#include "formatter.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "platform/utf8.h"

namespace kiv::format {
namespace {

// Field widths and precisions beyond this are clamped: no real format needs them, and
// an absurd one must not exhaust memory.
constexpr int kMaxField = 1 << 20;

// C's 't' length is not known here: in this framework %t is always a narrow string.
enum class Length { None, hh, h, l, ll, z, j, L };

struct Field {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = 0;
  int precision = -1;  // -1: not given
  Length length = Length::None;
  char conversion = 0;
};

// The most bytes a UTF-8 sequence with this lead byte can have; 1 for a byte that cannot
// lead one, which the decoder then replaces on its own.
std::size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

template <class Char>
bool isDigit(Char c) {
  return c >= '0' && c <= '9';
}

template <class Char>
class Formatter {
 public:
  Formatter(std::basic_string<Char>& out, va_list args) : out_(out) { va_copy(args_, args); }
  ~Formatter() { va_end(args_); }
  Formatter(const Formatter&) = delete;
  Formatter& operator=(const Formatter&) = delete;

  void run(const Char* fmt) {
    while (*fmt != 0) {
      if (*fmt != '%') {
        out_ += *fmt++;
        continue;
      }
      fmt = specifier(fmt);
    }
  }

 private:
  // Handles one specifier starting at '%'; answers where the text continues.
  const Char* specifier(const Char* start) {
    const Char* p = start + 1;
    Field field;
    p = parseFlags(p, field);
    p = parseWidth(p, field);
    p = parsePrecision(p, field);
    p = parseLength(p, field);
    if (*p == 0 || static_cast<uint32_t>(*p) > 0x7F) {
      out_.append(start, p);  // incomplete or foreign: copied through
      return p;
    }
    field.conversion = static_cast<char>(*p);
    if (!convert(field)) out_.append(start, p + 1);
    return p + 1;
  }

  const Char* parseFlags(const Char* p, Field& field) {
    for (;; ++p) {
      switch (*p) {
        case '-': field.left = true; break;
        case '+': field.plus = true; break;
        case ' ': field.space = true; break;
        case '#': field.alt = true; break;
        case '0': field.zero = true; break;
        default: return p;
      }
    }
  }

  static const Char* parseNumber(const Char* p, int& value) {
    value = 0;
    for (; isDigit(*p); ++p) value = value >= kMaxField ? kMaxField : value * 10 + (*p - '0');
    if (value > kMaxField) value = kMaxField;
    return p;
  }

  const Char* parseWidth(const Char* p, Field& field) {
    if (*p == '*') {
      int width = va_arg(args_, int);
      if (width < 0) {
        field.left = true;
        width = width == INT32_MIN ? kMaxField : -width;
      }
      field.width = width > kMaxField ? kMaxField : width;
      return p + 1;
    }
    return parseNumber(p, field.width);
  }

  const Char* parsePrecision(const Char* p, Field& field) {
    if (*p != '.') return p;
    ++p;
    if (*p == '*') {
      const int precision = va_arg(args_, int);
      field.precision = precision < 0 ? -1 : (precision > kMaxField ? kMaxField : precision);
      return p + 1;
    }
    return parseNumber(p, field.precision);
  }

  static const Char* parseLength(const Char* p, Field& field) {
    switch (*p) {
      case 'h':
        if (p[1] == 'h') { field.length = Length::hh; return p + 2; }
        field.length = Length::h; return p + 1;
      case 'l':
        if (p[1] == 'l') { field.length = Length::ll; return p + 2; }
        field.length = Length::l; return p + 1;
      case 'z': field.length = Length::z; return p + 1;
      case 'j': field.length = Length::j; return p + 1;
      case 'L': field.length = Length::L; return p + 1;
      default: return p;
    }
  }

  // Answers false for a conversion it does not know (the caller copies it through).
  bool convert(const Field& field) {
    switch (field.conversion) {
      case 'd': case 'i': signedNumber(field); return true;
      case 'u': unsignedNumber(field, 10, false); return true;
      case 'x': unsignedNumber(field, 16, false); return true;
      case 'X': unsignedNumber(field, 16, true); return true;
      case 'o': unsignedNumber(field, 8, false); return true;
      case 'p': pointer(field); return true;
      case 'c': character(field); return true;
      case 's': case 'S': case 'T': case 't': text(field); return true;
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        floating(field);
        return true;
      case 'n': (void)va_arg(args_, void*); return true;  // never written through
      case '%': out_ += static_cast<Char>('%'); return true;
      default: return false;
    }
  }

  long long fetchSigned(Length length) {
    switch (length) {
      case Length::hh: return static_cast<signed char>(va_arg(args_, int));
      case Length::h: return static_cast<short>(va_arg(args_, int));
      case Length::l: return va_arg(args_, long);
      case Length::ll: return va_arg(args_, long long);
      case Length::z: return va_arg(args_, ssize_t);
      case Length::j: return va_arg(args_, intmax_t);
      default: return va_arg(args_, int);
    }
  }

  unsigned long long fetchUnsigned(Length length) {
    switch (length) {
      case Length::hh: return static_cast<unsigned char>(va_arg(args_, unsigned));
      case Length::h: return static_cast<unsigned short>(va_arg(args_, unsigned));
      case Length::l: return va_arg(args_, unsigned long);
      case Length::ll: return va_arg(args_, unsigned long long);
      case Length::z: return va_arg(args_, size_t);
      case Length::j: return va_arg(args_, uintmax_t);
      default: return va_arg(args_, unsigned);
    }
  }

  void signedNumber(const Field& field) {
    const long long value = fetchSigned(field.length);
    const unsigned long long magnitude =
        value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    const char* sign = value < 0 ? "-" : field.plus ? "+" : field.space ? " " : "";
    number(field, magnitude, 10, false, sign);
  }

  void unsignedNumber(const Field& field, unsigned base, bool upper) {
    const unsigned long long value = fetchUnsigned(field.length);
    const char* prefix = "";
    if (field.alt && base == 16 && value != 0) prefix = upper ? "0X" : "0x";
    number(field, value, base, upper, prefix);
  }

  void pointer(const Field& field) {
    const auto value = reinterpret_cast<uintptr_t>(va_arg(args_, void*));
    number(field, value, 16, false, "0x");
  }

  // Digits with the precision's minimum count, then sign or prefix, then the field width.
  void number(const Field& field, unsigned long long value, unsigned base, bool upper,
              const char* prefix) {
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char buffer[64];
    int count = 0;
    for (unsigned long long v = value; v != 0; v /= base) buffer[count++] = digitSet[v % base];
    if (value == 0 && field.precision != 0) buffer[count++] = '0';
    std::basic_string<Char> digits;
    const int zeros = field.precision > count ? field.precision - count : 0;
    digits.append(zeros, static_cast<Char>('0'));
    while (count > 0) digits += static_cast<Char>(buffer[--count]);
    if (field.alt && base == 8 && (digits.empty() || digits[0] != '0')) digits.insert(0, 1, '0');

    std::basic_string<Char> head;
    for (const char* c = prefix; *c != 0; ++c) head += static_cast<Char>(*c);
    const std::size_t used = head.size() + digits.size();
    const std::size_t fill = static_cast<std::size_t>(field.width) > used ? field.width - used : 0;
    if (field.left) {
      out_ += head;
      out_ += digits;
      out_.append(fill, static_cast<Char>(' '));
    } else if (field.zero && field.precision < 0) {
      out_ += head;
      out_.append(fill, static_cast<Char>('0'));
      out_ += digits;
    } else {
      out_.append(fill, static_cast<Char>(' '));
      out_ += head;
      out_ += digits;
    }
  }

  void padded(const Field& field, const std::basic_string<Char>& piece) {
    const std::size_t fill =
        static_cast<std::size_t>(field.width) > piece.size() ? field.width - piece.size() : 0;
    if (!field.left) out_.append(fill, static_cast<Char>(' '));
    out_ += piece;
    if (field.left) out_.append(fill, static_cast<Char>(' '));
  }

  // Wide output: %c and %lc are wide, %hc narrow. Narrow output: %c narrow, %lc wide.
  void character(const Field& field) {
    const auto value = static_cast<uint32_t>(va_arg(args_, int));
    std::basic_string<Char> piece;
    if constexpr (sizeof(Char) == 1) {
      if (field.length == Length::l) {
        const wchar_t wide[2] = {static_cast<wchar_t>(value), 0};
        appendWide(piece, wide, static_cast<std::size_t>(-1));
      } else {
        piece += static_cast<Char>(value & 0xFF);
      }
    } else {
      if (field.length == Length::h) {
        const auto byte = static_cast<unsigned char>(value & 0xFF);
        piece += static_cast<Char>(byte < 0x80 ? byte : utf::kReplacement);
      } else {
        appendCodePoint(piece, value);
      }
    }
    padded(field, piece);
  }

  // One character as code units of the output: a surrogate pair where wchar_t is UTF-16.
  static std::size_t unitsOf(char32_t c) { return sizeof(Char) == 2 && c >= 0x10000 ? 2 : 1; }
  static void appendCodePoint(std::basic_string<Char>& piece, char32_t c) {
    if (unitsOf(c) == 2) {
      c -= 0x10000;
      piece += static_cast<Char>(0xD800 + (c >> 10));
      piece += static_cast<Char>(0xDC00 + (c & 0x3FF));
    } else {
      piece += static_cast<Char>(c);
    }
  }
  static bool isHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

  // Which kind of string argument a specifier takes in this width of format.
  bool takesWide(const Field& field) const {
    switch (field.conversion) {
      case 'T': return true;
      case 't': return false;
      case 'S':  // the other width, as the framework's original compiler had it
        return sizeof(Char) == 1 ? field.length != Length::h : field.length == Length::l;
      default:
        if (field.length == Length::h) return false;
        if (field.length == Length::l) return true;
        return sizeof(Char) != 1;
    }
  }

  void text(const Field& field) {
    std::basic_string<Char> piece;
    const std::size_t limit = field.precision < 0 ? static_cast<std::size_t>(-1) : field.precision;
    if (takesWide(field)) {
      const wchar_t* value = va_arg(args_, const wchar_t*);
      if (value == nullptr) value = L"(null)";
      appendWide(piece, value, limit);
    } else {
      const char* value = va_arg(args_, const char*);
      if (value == nullptr) value = "(null)";
      appendNarrow(piece, value, limit);
    }
    padded(field, piece);
  }

  // Appends wide text up to its NUL, writing at most `limit` output units (never a partial
  // character) and reading nothing beyond what it writes, as a precision allows arrays
  // without a terminator.
  static void appendWide(std::basic_string<Char>& piece, const wchar_t* value, std::size_t limit) {
    if constexpr (sizeof(Char) == sizeof(wchar_t)) {
      for (std::size_t i = 0; piece.size() < limit && value[i] != 0; ++i) {
        // A surrogate pair that does not fit whole is left out whole.
        if (sizeof(wchar_t) == 2 && isHighSurrogate(value[i]) && piece.size() + 1 == limit) break;
        piece += value[i];
      }
    } else {
      std::string encoded;
      for (std::size_t i = 0; piece.size() < limit && value[i] != 0;) {
        const bool highSurrogate = isHighSurrogate(value[i]);
        std::size_t used = 0;
        bool valid = true;
        const char32_t c = utf::readWide(value + i, highSurrogate && value[i + 1] != 0 ? 2 : 1, &used, &valid);
        encoded.clear();
        utf::appendUtf8(encoded, c);
        if (piece.size() + encoded.size() > limit) break;
        piece += encoded;
        i += used;
      }
    }
  }

  // Appends narrow (UTF-8) text, decoding one character at a time so that a precision
  // never makes it read past the character it prints.
  static void appendNarrow(std::basic_string<Char>& piece, const char* value, std::size_t limit) {
    if constexpr (sizeof(Char) == 1) {
      for (std::size_t i = 0; piece.size() < limit && value[i] != 0; ++i) piece += value[i];
    } else {
      for (std::size_t i = 0; piece.size() < limit && value[i] != 0;) {
        // The lead byte tells how long its sequence may be; the decoder stops at the first
        // byte that does not continue it (a NUL among them), so nothing past it is read.
        const std::size_t available = sequenceLength(static_cast<unsigned char>(value[i]));
        std::size_t used = 0;
        bool valid = true;
        const char32_t c = utf::decodeOne(value + i, available, &used, &valid);
        if (piece.size() + unitsOf(c) > limit) break;
        appendCodePoint(piece, c);
        i += used;
      }
    }
  }

  // Floating point goes through the C library, with width and precision already resolved.
  void floating(const Field& field) {
    char layout[32];
    int n = 0;
    layout[n++] = '%';
    if (field.left) layout[n++] = '-';
    if (field.plus) layout[n++] = '+';
    if (field.space) layout[n++] = ' ';
    if (field.alt) layout[n++] = '#';
    if (field.zero) layout[n++] = '0';
    layout[n++] = '*';
    layout[n++] = '.';
    layout[n++] = '*';
    if (field.length == Length::L) layout[n++] = 'L';
    layout[n++] = field.conversion;
    layout[n] = 0;
    const int precision = field.precision < 0 ? 6 : field.precision;
    const bool isLong = field.length == Length::L;
    const long double longValue = isLong ? va_arg(args_, long double) : 0.0L;
    const double value = isLong ? 0.0 : va_arg(args_, double);
    auto print = [&](char* buffer, std::size_t size) {
      return isLong ? std::snprintf(buffer, size, layout, field.width, precision, longValue)
                    : std::snprintf(buffer, size, layout, field.width, precision, value);
    };
    const int size = print(nullptr, 0);
    if (size <= 0) return;
    std::string rendered(static_cast<std::size_t>(size) + 1, '\0');
    print(rendered.data(), rendered.size());
    rendered.resize(size);
    for (char c : rendered) out_ += static_cast<Char>(c);
  }

  std::basic_string<Char>& out_;
  va_list args_;
};

}  // namespace

template <class Char>
void appendFormatted(std::basic_string<Char>& out, const Char* fmt, va_list args) {
  if (fmt == nullptr) return;
  Formatter<Char> formatter(out, args);
  formatter.run(fmt);
}

template void appendFormatted<char>(std::string&, const char*, va_list);
template void appendFormatted<wchar_t>(std::wstring&, const wchar_t*, va_list);

}  // namespace kiv::format
