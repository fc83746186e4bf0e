#include "config/text/message_format.h"

#include <cstdio>
#include <vector>

namespace {

struct ConversionSpecifier {
  size_t length = 0;  // of the whole conversion text, from the "%"
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
  char cls = '?';
};

char ClassOf(char c) {
  switch (c) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'c':
      return 'i';
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return 'f';
    case 's':
      return 's';
    default:
      return '?';
  }
}

// Reads the conversion that starts at format[at] == '%'.
ConversionSpecifier ParseConversion(std::string_view f, size_t at) {
  constexpr int kMax = 512;
  ConversionSpecifier s;
  size_t i = at + 1;
  while (i < f.size() &&
         (f[i] == '-' || f[i] == '+' || f[i] == ' ' || f[i] == '#' || f[i] == '0')) {
    s.flags += f[i++];
  }
  bool star = false;
  auto number = [&](int* out) {
    if (i < f.size() && f[i] == '*') {
      star = true;
      ++i;
      return;
    }
    if (i >= f.size() || f[i] < '0' || f[i] > '9') return;
    long v = 0;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') {
      if (v < kMax) v = v * 10 + (f[i] - '0');
      ++i;
    }
    *out = static_cast<int>(v > kMax ? kMax : v);
  };
  number(&s.width);
  if (i < f.size() && f[i] == '.') {
    ++i;
    s.precision = 0;
    number(&s.precision);
  }
  // Length modifiers say nothing here: the argument carries its own type.
  while (i < f.size() && (f[i] == 'h' || f[i] == 'l' || f[i] == 'L' || f[i] == 'q' || f[i] == 'j' ||
                          f[i] == 'z' || f[i] == 't')) {
    ++i;
  }
  if (i < f.size()) {
    s.conversion = f[i];
    s.cls = star ? '?' : ClassOf(f[i]);
    ++i;
  }
  s.length = i - at;
  return s;
}

std::string CFormat(const ConversionSpecifier& s, const char* length, char conversion) {
  std::string fmt = "%" + s.flags;
  if (s.width >= 0) fmt += std::to_string(s.width);
  if (s.precision >= 0) fmt += "." + std::to_string(s.precision);
  fmt += length;
  fmt += conversion;
  return fmt;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class T>
void Append(std::string* out, const std::string& fmt, T value) {
  char small[128];
  const int n = std::snprintf(small, sizeof small, fmt.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::snprintf(big.data(), big.size(), fmt.c_str(), value);
  out->append(big.data(), static_cast<size_t>(n));
}
#pragma GCC diagnostic pop

}  // namespace

std::string FormatConversions(std::string_view format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      ++i;
      continue;
    }
    const ConversionSpecifier s = ParseConversion(format, i);
    out += s.cls;
    i += s.length - 1;
  }
  return out;
}

std::string FormatMessage(std::string_view format, std::initializer_list<TFormatArg> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    const ConversionSpecifier s = ParseConversion(format, i);
    const std::string_view as_written = format.substr(i, s.length);
    i += s.length - 1;
    if (next == args.end()) {
      out += as_written;
      continue;
    }
    const TFormatArg& a = *next;
    if (s.cls == 'i' && a.kind() == TFormatArg::Kind::kInt) {
      if (s.conversion == 'c') {
        Append(&out, CFormat(s, "", 'c'), static_cast<int>(static_cast<unsigned char>(a.AsInt())));
      } else if (s.conversion == 'd' || s.conversion == 'i') {
        Append(&out, CFormat(s, "ll", 'd'), static_cast<long long>(a.AsInt()));
      } else {
        Append(&out, CFormat(s, "ll", s.conversion), static_cast<unsigned long long>(a.AsInt()));
      }
    } else if (s.cls == 'f' && a.kind() != TFormatArg::Kind::kText) {
      const double v =
          a.kind() == TFormatArg::Kind::kFloat ? a.AsFloat() : static_cast<double>(a.AsInt());
      Append(&out, CFormat(s, "", s.conversion), v);
    } else if (s.cls == 's' && a.kind() == TFormatArg::Kind::kText) {
      // The text may hold zero bytes: pad by hand instead of "%s".
      std::string_view t = a.AsText();
      if (s.precision >= 0 && t.size() > static_cast<size_t>(s.precision))
        t = t.substr(0, static_cast<size_t>(s.precision));
      const size_t pad =
          s.width > 0 && t.size() < static_cast<size_t>(s.width) ? s.width - t.size() : 0;
      const bool left = s.flags.find('-') != std::string::npos;
      if (!left) out.append(pad, ' ');
      out += t;
      if (left) out.append(pad, ' ');
    } else {
      // Arguments stay paired with conversions by position.
      out += as_written;
    }
    ++next;
  }
  return out;
}
