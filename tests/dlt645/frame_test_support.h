#pragma once
// Helpers shared by the wire-layer tests: hex bytes, answer frames and a
// sink that writes decoded values as text.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dlt645/frame_codec.h"
#include "dlt645/value_decoder.h"

namespace dlt645::testing {

using Bytes = std::vector<uint8_t>;

// "68 01 00" -> bytes; blanks are ignored.
inline Bytes Hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline std::string HexText(const uint8_t* bytes, size_t n) {
  std::string out;
  char two[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
    out += two;
  }
  return out;
}

// A frame with plain (not yet offset) data bytes.
inline Bytes MakeFrame(const TWireAddress& address, uint8_t control, const Bytes& data) {
  Bytes out(data.size() + kFrameOverhead);
  BuildFrame(address, control, data, out);
  return out;
}

// Identifier (least significant byte first) followed by plain value bytes.
inline Bytes IdData(uint32_t id, bool is1997, const Bytes& values) {
  Bytes out;
  for (size_t i = 0; i < IdLength(is1997); ++i)
    out.push_back(static_cast<uint8_t>(id >> (8 * i)));
  out.insert(out.end(), values.begin(), values.end());
  return out;
}

inline Bytes Offset(const Bytes& plain) {
  Bytes out(plain);
  for (auto& b : out)
    b = static_cast<uint8_t>(b + kWireOffset);
  return out;
}

inline void Append(Bytes& to, const Bytes& more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Writes every decoded item as one text line.
class TextSink : public IValueSink {
 public:
  std::vector<std::string> Lines;

  void OnTimestamp(unsigned k, double date_time) override {
    Lines.push_back(TimestampName(k).Text() + "=" + Number(date_time));
  }
  void OnInteger(const TValueName& name, int32_t value) override {
    Lines.push_back(name.Text() + "=" + std::to_string(value) + "i");
  }
  void OnFloat(const TValueName& name, double value) override {
    Lines.push_back(name.Text() + "=" + Number(value));
  }
  void OnDateError(std::string_view message) override { Lines.push_back(std::string(message)); }

  // Shortest text that reads back as exactly v.
  static std::string Number(double v) {
    char text[400];
    const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
    return std::string(text, result.ptr);
  }
};

}  // namespace dlt645::testing
