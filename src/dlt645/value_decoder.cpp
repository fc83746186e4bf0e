#include "dlt645/value_decoder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <limits>

#include "dlt645/frame_codec.h"
#include "dlt645/func_types.h"
#include "platform/datetime.h"

namespace dlt645 {

namespace {

constexpr std::array<double, 15> kPow10{1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6, 1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14};

constexpr std::string_view kDateEncodeError = "Invalid argument to date encode";
constexpr std::string_view kTimeEncodeError = "Invalid argument to time encode";

uint8_t Plain(uint8_t wire) {
  return static_cast<uint8_t>(wire - kWireOffset);
}

int BcdByte(uint8_t b) {
  return (b >> 4) * 10 + (b & 0x0F);
}

// The digits of one value, read once: most significant byte (the last on
// the wire) first.
struct TDigits {
  const uint8_t* Wire = nullptr;  // least significant byte first
  size_t Count = 0;
  bool Signed = false;
  bool Negative = false;
  bool Decimal = false;  // every nibble 0..9, and at least one
  bool Fits = true;      // Value holds all digits (else it exceeded the limit)
  uint64_t Value = 0;

  TDigits(const uint8_t* wire, size_t count, bool is_signed, uint64_t limit)
      : Wire(wire), Count(count), Signed(is_signed) {
    if (count == 0) return;
    uint8_t top = Plain(wire[count - 1]);
    Negative = is_signed && (top & 0x80) != 0;
    if (is_signed) top &= 0x7F;
    // A nibble above 9 carries into bit 4 (low) or bit 8 (high) when 6 is added.
    unsigned carries = Carries(top);
    uint64_t value = static_cast<uint64_t>(BcdByte(top));
    if (count <= 9) {  // at most 18 digits: no overflow on the way
      for (size_t j = count - 1; j-- > 0;) {
        const uint8_t b = Plain(wire[j]);
        carries |= Carries(b);
        value = value * 100 + static_cast<uint64_t>(BcdByte(b));
      }
      Fits = value <= limit;
    } else {
      for (size_t j = count - 1; j-- > 0;) {
        const uint8_t b = Plain(wire[j]);
        carries |= Carries(b);
        if (Fits) {
          value = value * 100 + static_cast<uint64_t>(BcdByte(b));
          Fits = value <= limit;
        }
      }
    }
    Value = value;
    Decimal = (carries & 0x110) == 0;
  }

  static unsigned Carries(uint8_t b) {
    return (((b & 0x0Fu) + 0x06u) & 0x10u) | (((b & 0xF0u) + 0x60u) & 0x100u);
  }

  uint8_t Byte(size_t j) const {
    uint8_t b = Plain(Wire[j]);
    if (Signed && j + 1 == Count) b &= 0x7F;
    return b;
  }
};

// Largest digit value kept while reading; below 2^53, so exact in a double.
constexpr uint64_t kExactLimit = 99999999999999;  // 14 digits

// Digit texts too long for the exact path are read as text, still without
// any locale.
[[gnu::noinline]] double ReadDigitText(const TDigits& digits, unsigned shift) {
  std::array<char, 2 * 255 + 8> text{};
  size_t n = 0;
  for (size_t j = digits.Count; j-- > 0;) {
    const uint8_t b = digits.Byte(j);
    text[n++] = static_cast<char>('0' + (b >> 4));
    text[n++] = static_cast<char>('0' + (b & 0x0F));
  }
  n += static_cast<size_t>(std::snprintf(text.data() + n, text.size() - n, "e-%u", shift));
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + n, value);
  return ec == std::errc() ? value : 0.0;
}

// The decimal digit text with the separator in front of its last decimals
// digits (in front of the whole text when it is shorter). Dividing the exact
// integer by an exact power of ten rounds correctly, as reading the text
// does.
double FloatValue(const TDigits& digits, unsigned decimals) {
  const size_t text_length = 2 * digits.Count;
  const unsigned shift = static_cast<unsigned>(std::min<size_t>(decimals, text_length));
  if (digits.Fits && shift < kPow10.size()) {
    return static_cast<double>(digits.Value) / kPow10[shift];
  }
  return ReadDigitText(digits, shift);
}

constexpr uint64_t kInt32Limit = static_cast<uint64_t>(std::numeric_limits<int32_t>::max());

[[gnu::noinline]] void ReportDateError(const char* error, IValueSink& sink) {
  std::array<char, 96> message{};
  std::snprintf(message.data(), message.size(), "Unable to encode date: %s", error);
  sink.OnDateError(message.data());
}

int32_t IntegerValue(const TDigits& digits) {
  if (!digits.Decimal || !digits.Fits) return 0;
  const auto value = static_cast<int32_t>(digits.Value);
  return digits.Negative ? -value : value;
}

}  // namespace

size_t TValueName::Format(std::span<char> out) const {
  if (out.empty()) return 0;
  size_t n = std::min(Field.size(), out.size() - 1);
  std::copy_n(Field.data(), n, out.data());
  if (Suffix != 0) {
    std::array<char, 12> number{};
    const auto [end, ec] = std::to_chars(number.data(), number.data() + number.size(), Suffix);
    const size_t digits = std::min(static_cast<size_t>(end - number.data()), out.size() - 1 - n);
    std::copy_n(number.data(), digits, out.data() + n);
    n += digits;
  }
  out[n] = '\0';
  return n;
}

std::string TValueName::Text() const {
  std::array<char, 256> buffer{};
  const size_t n = Format(buffer);
  return std::string(buffer.data(), n);
}

TValueName ValueName(const TRequestFuncType& row, unsigned k, uint8_t rate) {
  if (row.ValueCount > 1) return {row.FieldName, k};
  return {row.FieldName, rate};
}

double DecodeTimestamp(std::span<const uint8_t> wire, const char** error) {
  if (wire.size() != 5 && wire.size() != 6) return 0.0;
  std::array<int, 6> f{};  // second, minute, hour, day, month, year
  const size_t first = 6 - wire.size();
  for (size_t j = 0; j < wire.size(); ++j)
    f[first + j] = BcdByte(Plain(wire[j]));
  const int second = f[0], minute = f[1], hour = f[2], day = f[3], month = f[4];
  const int year = 2000 + f[5];
  if (month < 1 || month > 12 || day < 1 || day > 31) return 0.0;
  int64_t days = 0;
  if (!platform::TryEncodeDate(year, month, day, &days)) {
    if (error != nullptr) *error = kDateEncodeError.data();
    return 0.0;
  }
  if (hour > 23 || minute > 59 || second > 59) {
    if (error != nullptr) *error = kTimeEncodeError.data();
    return 0.0;
  }
  return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

size_t DecodeValues(std::span<const uint8_t> values, const TRequestFuncType& row, uint8_t rate,
                    IValueSink& sink) {
  const size_t size = values.size();
  const unsigned decimals = row.Format & 0x0F;
  const size_t stamp = (row.Format & 0x10) != 0 ? 5 : (row.Format & 0x20) != 0 ? 6 : 0;
  const bool numbered = row.ValueCount > 1;  // as ValueName has it
  size_t pos = 0;
  size_t count = 0;
  for (unsigned k = 1; k <= row.ValueCount; ++k) {
    // An answer that ends here carries no further value, not a zero.
    if (pos >= size) break;
    const bool is_integer = row.Format == 0;
    const TDigits digits(values.data() + pos, std::min<size_t>(row.ValueSize, size - pos),
                         row.Signed != 0, is_integer ? kInt32Limit : kExactLimit);
    pos += digits.Count;
    const TValueName name{row.FieldName, numbered ? k : rate};
    if (is_integer) {
      sink.OnInteger(name, IntegerValue(digits));
    } else {
      if (stamp != 0) {
        if (size - pos < stamp) break;
        const char* error = nullptr;
        const double date_time = DecodeTimestamp(values.subspan(pos, stamp), &error);
        if (error != nullptr) ReportDateError(error, sink);
        sink.OnTimestamp(k, date_time);
        pos += stamp;
      }
      double value = digits.Decimal ? FloatValue(digits, decimals) : 0.0;
      // A sign over zero digits still reads as zero.
      if (digits.Negative && value != 0.0) value = -value;
      sink.OnFloat(name, value);
    }
    ++count;
  }
  return count;
}

}  // namespace dlt645
