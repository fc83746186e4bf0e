#include "base/str_to_int.h"

#include "base/errors.h"

namespace {

bool ParseInteger(std::string_view s, unsigned hex_digits_max, uint64_t decimal_limit_pos,
                  uint64_t decimal_limit_neg, uint64_t* magnitude, bool* negative, bool* hex) {
  size_t i = 0;
  while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32)
    ++i;
  *negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    *negative = s[i] == '-';
    ++i;
  }
  *hex = false;
  if (i < s.size() && s[i] == '$') {
    *hex = true;
    ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    *hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    *hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t v = 0;
  unsigned significant = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (*hex && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (*hex && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (*hex) {
      if (v != 0 || d != 0) ++significant;
      if (significant > hex_digits_max) return false;
      v = (v << 4) | d;
    } else {
      v = v * 10 + d;
      if (v > (*negative ? decimal_limit_neg : decimal_limit_pos)) return false;
    }
  }
  *magnitude = v;
  return true;
}

}  // namespace

bool TryStrToInt(std::string_view text, int32_t* value) {
  uint64_t m = 0;
  bool neg = false, hex = false;
  if (!ParseInteger(text, 8, 0x7FFFFFFFull, 0x80000000ull, &m, &neg, &hex)) return false;
  uint32_t u = static_cast<uint32_t>(m);
  if (neg) u = 0u - u;
  *value = static_cast<int32_t>(u);
  return true;
}

bool TryStrToInt64(std::string_view text, int64_t* value) {
  uint64_t m = 0;
  bool neg = false, hex = false;
  if (!ParseInteger(text, 16, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, &m, &neg, &hex))
    return false;
  if (neg) m = 0u - m;
  *value = static_cast<int64_t>(m);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t v = 0;
  if (!TryStrToInt(text, &v))
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return v;
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) {
  int32_t v = 0;
  return TryStrToInt(text, &v) ? v : fallback;
}
