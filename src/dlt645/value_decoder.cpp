#include "dlt645/value_decoder.h"

#include <charconv>
#include <cstdio>

#include "dlt645/frame_codec.h"
#include "platform/datetime.h"

namespace dlt645 {

namespace {

constexpr std::string_view kDateEncodeError = "Invalid argument to date encode";
constexpr std::string_view kTimeEncodeError = "Invalid argument to time encode";

int BcdByte(uint8_t wire) {
  const auto b = static_cast<uint8_t>(wire - kWireOffset);
  return (b >> 4) * 10 + (b & 0x0F);
}

}  // namespace

namespace detail {

double ReadDigitText(const uint8_t* wire, size_t count, bool is_signed, unsigned shift) {
  std::array<char, 2 * 255 + 8> text{};
  size_t n = 0;
  for (size_t j = count; j-- > 0;) {
    auto b = static_cast<uint8_t>(wire[j] - kWireOffset);
    if (is_signed && j + 1 == count) b &= 0x7F;
    text[n++] = static_cast<char>('0' + (b >> 4));
    text[n++] = static_cast<char>('0' + (b & 0x0F));
  }
  n += static_cast<size_t>(std::snprintf(text.data() + n, text.size() - n, "e-%u", shift));
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + n, value);
  return ec == std::errc() ? value : 0.0;
}

std::string_view DateErrorText(const char* error, std::span<char> out) {
  const int n = std::snprintf(out.data(), out.size(), "Unable to encode date: %s", error);
  return {out.data(), std::min(static_cast<size_t>(n < 0 ? 0 : n), out.size() - 1)};
}

}  // namespace detail

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
    f[first + j] = BcdByte(wire[j]);
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
  return DecodeValuesWith(values, row, rate, sink);
}

}  // namespace dlt645
