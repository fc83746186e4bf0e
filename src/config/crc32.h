#pragma once
// CRC-32 with the reflected polynomial 0xEDB88320, table built once. Callers
// choose the start value and the final inversion (gzip inverts both ends; the
// module configuration identifiers do not invert at the end).
#include <array>
#include <cstdint>
#include <string_view>

inline uint32_t Crc32Update(uint32_t crc, std::string_view data) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  for (char ch : data) crc = table[(crc ^ static_cast<uint8_t>(ch)) & 0xFF] ^ (crc >> 8);
  return crc;
}
