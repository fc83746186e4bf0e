#include "config/store/value_codec.h"

#include <charconv>
#include <cmath>

#include "platform/strings.h"

namespace {

int HexValue(char c) { return platform::HexDigitValue(c); }

}  // namespace

std::string EncodeSettingText(std::string_view ansi) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  size_t leading = 0;
  while (leading < utf8.size() && utf8[leading] == ' ')
    ++leading;
  std::string out;
  out.reserve(utf8.size() + 8);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == ' ') {
      const bool last = i + 1 == utf8.size();
      const bool run = !last && utf8[i + 1] == ' ';
      out += (i < leading || run || last) ? '+' : ' ';
    } else if (c == '%') {
      out += "%%";
    } else if (c > 32 && c <= 127 && c != '+') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string DecodeSettingText(std::string_view stored) {
  std::string bytes;
  bytes.reserve(stored.size());
  bool high = false;
  for (size_t i = 0; i < stored.size(); ++i) {
    const char c = stored[i];
    if (static_cast<unsigned char>(c) >= 128) high = true;
    if (c == '%' && i + 1 < stored.size() && stored[i + 1] == '%') {
      bytes += '%';
      ++i;
    } else if (c == '%' && i + 2 < stored.size() && HexValue(stored[i + 1]) >= 0 &&
               HexValue(stored[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(stored[i + 1]) * 16 + HexValue(stored[i + 2]));
      i += 2;
    } else if (c == '+') {
      bytes += ' ';
    } else {
      bytes += c;
    }
  }
  if (high) return bytes;
  bool ok = false;
  std::string ansi = platform::Utf8ToAnsi(bytes, &ok);
  if (!ok || ansi.empty()) return bytes;
  return ansi;
}

std::string FormatSettingFloat(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

bool ParseSettingFloat(std::string_view text, double* value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  if (text.empty()) return false;
  std::string t(text);
  if (t.find('.') == std::string::npos) {
    for (char& c : t) {
      if (c == ',') c = '.';
    }
  }
  const char* first = t.data();
  if (*first == '+') ++first;
  double v = 0;
  const auto r = std::from_chars(first, t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
  *value = v;
  return true;
}
