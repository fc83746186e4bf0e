#pragma once
// A small decoder of answer frames written from the protocol's rules alone,
// as a plug-in reads them, so that the simulator's encoder is checked against
// something it does not share code with.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dlt645/func_types.h"

namespace metersim_test {

struct DecodedStamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct DecodedValue {
  double value = 0;
  std::string digits;  // as the frame carries them, sign bit removed
  bool negative = false;
  bool has_stamp = false;
  DecodedStamp stamp;
};

struct DecodedFrame {
  bool sound = false;  // framing, length and checksum all right
  uint8_t address[6] = {};
  uint8_t control = 0;
  std::vector<uint8_t> data;  // offset removed
  uint32_t id = 0;
  std::vector<DecodedValue> values;
};

inline int Bcd(uint8_t b) {
  return (b >> 4) * 10 + (b & 0x0F);
}

// Decodes every value the data holds (not only ValueCount of them).
inline DecodedFrame DecodeAnswer(const std::vector<uint8_t>& f, const TRequestFuncType* row,
                                 bool is1997) {
  DecodedFrame out;
  if (f.size() < 12 || f[0] != 0x68 || f[7] != 0x68) return out;
  const size_t len = f[9];
  if (f.size() != len + 12 || f.back() != 0x16) return out;
  uint8_t sum = 0;
  for (size_t i = 0; i < f.size() - 2; ++i)
    sum = static_cast<uint8_t>(sum + f[i]);
  if (sum != f[f.size() - 2]) return out;
  out.sound = true;
  for (int i = 0; i < 6; ++i)
    out.address[i] = f[1 + i];
  out.control = f[8];
  for (size_t i = 0; i < len; ++i)
    out.data.push_back(static_cast<uint8_t>(f[10 + i] - 0x33));
  if ((out.control & 0x40) || !row) return out;
  const size_t id_size = is1997 ? 2 : 4;
  if (out.data.size() < id_size) return out;
  for (size_t i = 0; i < id_size; ++i)
    out.id |= static_cast<uint32_t>(out.data[i]) << (8 * i);
  size_t pos = id_size;
  while (pos < out.data.size()) {
    DecodedValue v;
    std::vector<uint8_t> bytes;
    for (size_t k = 0; k < row->ValueSize && pos < out.data.size(); ++k)
      bytes.push_back(out.data[pos++]);
    if (row->Signed && !bytes.empty() && (bytes.back() & 0x80)) {
      v.negative = true;
      bytes.back() &= 0x7F;
    }
    static const char* hex = "0123456789ABCDEF";
    for (size_t k = bytes.size(); k-- > 0;) {
      v.digits += hex[bytes[k] >> 4];
      v.digits += hex[bytes[k] & 0x0F];
    }
    std::string text = v.digits;
    if (row->Format != 0) {
      const size_t stamp = (row->Format & 0x10) ? 5 : (row->Format & 0x20) ? 6 : 0;
      if (stamp) {
        if (out.data.size() - pos < stamp) break;
        const uint8_t* s = out.data.data() + pos;
        size_t i = 0;
        v.has_stamp = true;
        if (stamp == 6) v.stamp.second = Bcd(s[i++]);
        v.stamp.minute = Bcd(s[i++]);
        v.stamp.hour = Bcd(s[i++]);
        v.stamp.day = Bcd(s[i++]);
        v.stamp.month = Bcd(s[i++]);
        v.stamp.year = 2000 + Bcd(s[i++]);
        pos += stamp;
      }
      const size_t d = row->Format & 0x0F;
      if (d > 0) text.insert(text.size() > d ? text.size() - d : 0, ".");
    }
    char* end = nullptr;
    const double magnitude = std::strtod(text.c_str(), &end);
    v.value = (end == text.c_str() + text.size()) ? magnitude : 0;
    if (v.negative) v.value = -v.value;
    out.values.push_back(v);
  }
  return out;
}

}  // namespace metersim_test
