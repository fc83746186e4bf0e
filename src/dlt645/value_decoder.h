#pragma once
// Decoding the values of an answer by the layout of its table row: BCD
// digits (wire bytes minus 0x33, least significant byte first), an optional
// sign in the top bit, decimals, and time stamps that follow their value.
// Nothing here allocates; values go to a sink as they are decoded.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct TRequestFuncType;

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

// A 5-byte (minute, hour, day, month, year) or 6-byte (second first) time
// stamp in wire form as a date-time; the zero date when month or day is out
// of range, or when the date or time cannot be formed (then *error names
// the reason; it is left alone otherwise).
double DecodeTimestamp(std::span<const uint8_t> wire, const char** error);

}  // namespace dlt645
