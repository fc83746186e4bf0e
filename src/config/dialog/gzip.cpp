#include "config/dialog/gzip.h"

#include <algorithm>
#include <array>
#include <vector>

#include "config/crc32.h"

namespace {

class BitWriter {
 public:
  // LSB first, as deflate packs its fields.
  void Bits(uint32_t value, int count) {
    acc_ |= static_cast<uint64_t>(value) << fill_;
    fill_ += count;
    while (fill_ >= 8) {
      out_ += static_cast<char>(acc_ & 0xFF);
      acc_ >>= 8;
      fill_ -= 8;
    }
  }
  // Huffman codes go most significant bit first.
  void Code(uint32_t code, int length) {
    uint32_t rev = 0;
    for (int i = 0; i < length; ++i)
      rev |= ((code >> i) & 1) << (length - 1 - i);
    Bits(rev, length);
  }
  std::string Finish() {
    if (fill_ > 0) out_ += static_cast<char>(acc_ & 0xFF);
    acc_ = 0;
    fill_ = 0;
    return std::move(out_);
  }

 private:
  std::string out_;
  uint64_t acc_ = 0;
  int fill_ = 0;
};

void LiteralOrLength(BitWriter& w, int symbol) {
  if (symbol < 144)
    w.Code(0x30 + symbol, 8);
  else if (symbol < 256)
    w.Code(0x190 + (symbol - 144), 9);
  else if (symbol < 280)
    w.Code(symbol - 256, 7);
  else
    w.Code(0xC0 + (symbol - 280), 8);
}

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                               33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void Match(BitWriter& w, int length, int distance) {
  int li = 28;
  while (kLengthBase[li] > length)
    --li;
  LiteralOrLength(w, 257 + li);
  if (kLengthExtra[li]) w.Bits(static_cast<uint32_t>(length - kLengthBase[li]), kLengthExtra[li]);
  int di = 29;
  while (kDistBase[di] > distance)
    --di;
  w.Code(static_cast<uint32_t>(di), 5);
  if (kDistExtra[di]) w.Bits(static_cast<uint32_t>(distance - kDistBase[di]), kDistExtra[di]);
}

}  // namespace

uint32_t GzipCrc32(std::string_view data) {
  return Crc32Update(0xFFFFFFFFu, data) ^ 0xFFFFFFFFu;
}

std::string DeflateFixed(std::string_view data) {
  constexpr size_t kWindow = 32768, kMaxLen = 258, kMinLen = 3, kHashSize = 1 << 15, kChain = 64;
  BitWriter w;
  w.Bits(1, 1);  // final block
  w.Bits(1, 2);  // fixed Huffman codes
  std::vector<int64_t> head(kHashSize, -1), prev(data.size(), -1);
  auto hash = [&](size_t i) {
    return ((static_cast<uint8_t>(data[i]) << 10) ^ (static_cast<uint8_t>(data[i + 1]) << 5) ^
            static_cast<uint8_t>(data[i + 2])) &
           (kHashSize - 1);
  };
  auto insert = [&](size_t i) {
    if (i + kMinLen > data.size()) return;
    const size_t h = hash(i);
    prev[i] = head[h];
    head[h] = static_cast<int64_t>(i);
  };
  size_t i = 0;
  while (i < data.size()) {
    size_t best_len = 0, best_dist = 0;
    if (i + kMinLen <= data.size()) {
      int64_t cand = head[hash(i)];
      for (size_t n = 0; cand >= 0 && n < kChain; ++n, cand = prev[static_cast<size_t>(cand)]) {
        const size_t c = static_cast<size_t>(cand);
        if (i - c > kWindow) break;
        size_t len = 0;
        const size_t max = std::min(kMaxLen, data.size() - i);
        while (len < max && data[c + len] == data[i + len])
          ++len;
        if (len > best_len) {
          best_len = len;
          best_dist = i - c;
          if (len == max) break;
        }
      }
    }
    if (best_len >= kMinLen) {
      Match(w, static_cast<int>(best_len), static_cast<int>(best_dist));
      for (size_t k = 0; k < best_len; ++k)
        insert(i + k);
      i += best_len;
    } else {
      LiteralOrLength(w, static_cast<uint8_t>(data[i]));
      insert(i);
      ++i;
    }
  }
  LiteralOrLength(w, 256);
  return w.Finish();
}

std::string GzipMember(std::string_view data, std::string_view file_name, uint32_t mtime) {
  std::string out;
  out += '\x1f';
  out += '\x8b';
  out += '\x08';                                           // deflate
  out += static_cast<char>(file_name.empty() ? 0 : 0x08);  // FNAME
  for (int k = 0; k < 4; ++k)
    out += static_cast<char>((mtime >> (8 * k)) & 0xFF);
  out += '\x00';  // no extra flags
  out += '\x00';  // FAT file system: the host reads it on Windows
  if (!file_name.empty()) {
    out += file_name;
    out += '\0';
  }
  out += DeflateFixed(data);
  const uint32_t crc = GzipCrc32(data);
  const auto size = static_cast<uint32_t>(data.size());
  for (int k = 0; k < 4; ++k)
    out += static_cast<char>((crc >> (8 * k)) & 0xFF);
  for (int k = 0; k < 4; ++k)
    out += static_cast<char>((size >> (8 * k)) & 0xFF);
  return out;
}
