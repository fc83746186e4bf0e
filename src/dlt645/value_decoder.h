#pragma once
// Decoding the values of an answer by the layout of its table row: BCD
// digits (wire bytes minus 0x33, least significant byte first), an optional
// sign in the top bit, decimals, and time stamps that follow their value.
// Nothing here allocates; values go to a sink as they are decoded.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "dlt645/func_types.h"

namespace dlt645 {

// A value's output name: Field, followed by Suffix in decimal when it is
// not 0 (the value's number, or the request's rate).
struct TValueName {
  std::string_view Field;
  unsigned Suffix = 0;

  // Writes the name (cut to fit, zero-terminated) and returns its length.
  size_t Format(std::span<char> out) const;
  std::string Text() const;
};

// Name of value k (1-based): FieldName + k when the row has several values,
// else FieldName + rate when a rate is given, else FieldName.
TValueName ValueName(const TRequestFuncType& row, unsigned k, uint8_t rate);
// Name of the time stamp that belongs to value k: "TIMESTAMP" + k.
inline TValueName TimestampName(unsigned k) {
  return {"TIMESTAMP", k};
}

class IValueSink {
 public:
  virtual ~IValueSink() = default;
  // "TIMESTAMP" + k, added before value k.
  virtual void OnTimestamp(unsigned k, double date_time) = 0;
  virtual void OnInteger(const TValueName& name, int32_t value) = 0;
  virtual void OnFloat(const TValueName& name, double value) = 0;
  // "Unable to encode date: " and the reason, for a stamp of impossible
  // date or time; the stamp itself is then the zero date.
  virtual void OnDateError(std::string_view message) = 0;
};

// Decodes the value bytes of an answer (the data field after the
// identifier, wire form) as row lays them out. Stops when the data ends: a
// value cut short keeps the digits that came, a value whose time stamp is
// cut off is dropped with everything after it. Returns the number of values.
size_t DecodeValues(std::span<const uint8_t> values, const TRequestFuncType& row, uint8_t rate,
                    IValueSink& sink);
// The same for a sink of a known type (any class with IValueSink's four
// operations), whose calls the compiler can then inline.
template <class Sink>
size_t DecodeValuesWith(std::span<const uint8_t> values, const TRequestFuncType& row, uint8_t rate,
                        Sink& sink);

// A 5-byte (minute, hour, day, month, year) or 6-byte (second first) time
// stamp in wire form as a date-time; the zero date when month or day is out
// of range, or when the date or time cannot be formed (then *error names
// the reason; it is left alone otherwise).
double DecodeTimestamp(std::span<const uint8_t> wire, const char** error);

namespace detail {

// Each wire byte's digit pair (after taking 0x33 off): 0..99, with 0x100
// added when a nibble is not a decimal digit.
constexpr std::array<uint16_t, 256> MakeWireDigits() {
  std::array<uint16_t, 256> table{};
  for (unsigned wire = 0; wire < 256; ++wire) {
    const unsigned b = (wire - 0x33u) & 0xFFu;
    const unsigned hi = b >> 4, lo = b & 0x0Fu;
    table[wire] = static_cast<uint16_t>((hi * 10 + lo) % 100 | (hi > 9 || lo > 9 ? 0x100u : 0u));
  }
  return table;
}
inline constexpr std::array<uint16_t, 256> kWireDigits = MakeWireDigits();

// The digits of one value, read once, most significant byte (the last on
// the wire) first.
struct TDigits {
  uint64_t Value = 0;
  bool Negative = false;
  bool Decimal = false;  // every nibble 0..9, and at least one
  bool Fits = true;      // Value holds all digits (else it exceeded the limit)
};

inline TDigits ReadDigits(const uint8_t* wire, size_t count, bool is_signed, uint64_t limit) {
  TDigits d;
  if (count == 0) return d;
  uint8_t top = wire[count - 1];
  if (is_signed) {
    const auto plain = static_cast<uint8_t>(top - 0x33);
    d.Negative = (plain & 0x80) != 0;
    top = static_cast<uint8_t>((plain & 0x7F) + 0x33);
  }
  unsigned digits = kWireDigits[top];
  unsigned bad = digits;
  uint64_t value = digits & 0xFFu;
  if (count <= 9) {  // at most 18 digits: no overflow on the way
    for (size_t j = count - 1; j-- > 0;) {
      digits = kWireDigits[wire[j]];
      bad |= digits;
      value = value * 100 + (digits & 0xFFu);
    }
    d.Fits = value <= limit;
  } else {
    for (size_t j = count - 1; j-- > 0;) {
      digits = kWireDigits[wire[j]];
      bad |= digits;
      if (d.Fits) {
        value = value * 100 + (digits & 0xFFu);
        d.Fits = value <= limit;
      }
    }
  }
  d.Value = value;
  d.Decimal = (bad & 0x100u) == 0;
  return d;
}

inline constexpr std::array<double, 15> kPow10{1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6, 1e7,
                                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14};
// Largest digit value kept while reading; below 2^53, so exact in a double.
inline constexpr uint64_t kExactLimit = 99999999999999;  // 14 digits
inline constexpr uint64_t kInt32Limit = std::numeric_limits<int32_t>::max();

// Digit texts too long for the exact path are read as text, without any
// locale.
double ReadDigitText(const uint8_t* wire, size_t count, bool is_signed, unsigned shift);
// "Unable to encode date: " + error, into out; returns the text.
std::string_view DateErrorText(const char* error, std::span<char> out);

}  // namespace detail

template <class Sink>
size_t DecodeValuesWith(std::span<const uint8_t> values, const TRequestFuncType& row, uint8_t rate,
                        Sink& sink) {
  const size_t size = values.size();
  const bool is_integer = row.Format == 0;
  const bool is_signed = row.Signed != 0;
  const unsigned decimals = row.Format & 0x0F;
  const size_t stamp = (row.Format & 0x10) != 0 ? 5 : (row.Format & 0x20) != 0 ? 6 : 0;
  const bool numbered = row.ValueCount > 1;  // as ValueName has it
  size_t pos = 0;
  size_t count = 0;
  for (unsigned k = 1; k <= row.ValueCount; ++k) {
    // An answer that ends here carries no further value, not a zero.
    if (pos >= size) break;
    const uint8_t* wire = values.data() + pos;
    const size_t n = std::min<size_t>(row.ValueSize, size - pos);
    const detail::TDigits digits = detail::ReadDigits(
        wire, n, is_signed, is_integer ? detail::kInt32Limit : detail::kExactLimit);
    pos += n;
    const TValueName name{row.FieldName, numbered ? k : rate};
    if (is_integer) {
      // Digits that do not read as a 32-bit integer give 0.
      auto value = static_cast<int32_t>(digits.Decimal && digits.Fits ? digits.Value : 0);
      sink.OnInteger(name, digits.Negative ? -value : value);
    } else {
      if (stamp != 0) {
        if (size - pos < stamp) break;
        const char* error = nullptr;
        const double date_time = DecodeTimestamp(values.subspan(pos, stamp), &error);
        if (error != nullptr) {
          std::array<char, 96> text;
          sink.OnDateError(detail::DateErrorText(error, text));
        }
        sink.OnTimestamp(k, date_time);
        pos += stamp;
      }
      double value = 0.0;
      if (digits.Decimal) {
        // The separator goes in front of the last d digits, or in front of
        // the whole text when it is shorter. Dividing the exact integer by
        // an exact power of ten rounds correctly, as reading the text does.
        const auto shift = static_cast<unsigned>(std::min<size_t>(decimals, 2 * n));
        value =
            digits.Fits && shift < detail::kPow10.size()
                ? static_cast<double>(static_cast<int64_t>(digits.Value)) / detail::kPow10[shift]
                : detail::ReadDigitText(wire, n, is_signed, shift);
      }
      // A sign over zero digits still reads as zero.
      if (digits.Negative && value != 0.0) value = -value;
      sink.OnFloat(name, value);
    }
    ++count;
  }
  return count;
}

}  // namespace dlt645
