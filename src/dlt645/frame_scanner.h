#pragma once
// Frame search over the bytes of a receive buffer, in place. The scanner
// finds sound frames and hands each to a visitor, which decides: go on past
// it, take it (the caller's match), or stop after it (a frame answered on
// the spot). Matching, logging and answering are the visitor's business,
// so the scanner can run bare in benchmarks and fuzzing.
//
// A visitor provides
//   TScanStep OnFrame(const TFrameView& frame);
//   void OnChecksumError(const TFrameView& frame, uint8_t received, uint8_t computed);
//
// A receive buffer's frame search is one scan over its bytes: drop Drop
// bytes from its front, ask again when Again is set, and a FrameLength of 0
// or more is the taken frame, now at the front.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "dlt645/frame_codec.h"

namespace dlt645 {

enum class TScanStep : uint8_t {
  Next,      // go on after this frame; it is consumed
  Match,     // stop: the frame is the caller's; it stays at the front
  Answered,  // stop: the frame is consumed and the caller should search again
};

struct TScanResult {
  size_t Drop = 0;       // bytes to remove from the front of the buffer now
  int FrameLength = -1;  // >= 0: the taken frame, at the front once Drop bytes are gone
  bool Again = false;    // the caller should search once more
};

namespace detail {

// First position p in [from, last] holding a start byte, or last + 1. Every
// position up to last has 12 readable bytes behind it, so eight bytes are
// looked at at once: a run of wake-up bytes or noise then costs one
// predictable step instead of a branch per byte.
inline size_t FindFrameStart(const uint8_t* data, size_t from, size_t last) {
  size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    while (i <= last) {
      uint64_t word = 0;
      std::memcpy(&word, data + i, sizeof word);
      word ^= kOnes * kFrameStart;
      // Marks the zero bytes of word; the lowest mark is always exact.
      const uint64_t zero = (word - kOnes) & ~word & kHigh;
      if (zero != 0) {
        i += static_cast<size_t>(std::countr_zero(zero)) / 8;
        return i <= last ? i : last + 1;
      }
      i += sizeof word;
    }
    return last + 1;
  } else {
    while (i <= last && data[i] != kFrameStart)
      ++i;
    return i;
  }
}

}  // namespace detail

namespace detail {

// Whether a sound frame (both start bytes, end byte, checksum) lies wholly
// in [from, end).
inline bool SoundFrameWithin(const uint8_t* data, size_t from, size_t end) {
  if (end < from + kMinFrameLength) return false;
  const size_t last = end - kMinFrameLength;
  for (size_t k = from;; ++k) {
    k = FindFrameStart(data, k, last);
    if (k > last) return false;
    if (data[k + 7] != kFrameStart) continue;
    const size_t length = size_t{data[k + 9]} + kFrameOverhead;
    if (length > end - k || data[k + length - 1] != kFrameEnd) continue;
    if (FrameChecksum(data + k, length) == data[k + length - 2]) return true;
  }
}

}  // namespace detail

// Fewer than 12 bytes give nothing. A candidate needs 0x68 at i and i+7 and
// 0x16 at its announced end. Frames do not interleave: a candidate with a
// sound frame wholly inside it (before its last byte) is garbage, whether
// it runs past the buffer or not, so a length byte in noise hides no answer
// behind it, and the outcome does not depend on where the blocks were cut.
// Otherwise a candidate that runs past the buffer stops the scan: it and
// everything after it stay for the next block. Bytes before a candidate are
// garbage; a checksum mismatch costs one byte, so a frame starting inside
// the broken one is still found. Nothing outside buffer is read.
template <class Visitor>
TScanResult ScanFrames(std::span<const uint8_t> buffer, Visitor& visitor) {
  TScanResult result;
  const size_t size = buffer.size();
  if (size < kMinFrameLength) return result;
  const uint8_t* const data = buffer.data();
  const size_t last = size - kMinFrameLength;
  size_t consumed = 0;
  size_t i = 0;
  for (;;) {
    i = detail::FindFrameStart(data, i, last);
    if (i > last) break;
    if (data[i + 7] != kFrameStart) {
      ++i;
      continue;
    }
    const size_t length = size_t{data[i + 9]} + kFrameOverhead;
    if (length > size - i) {
      if (!detail::SoundFrameWithin(data, i + 1, size)) break;
      ++i;
      continue;
    }
    if (data[i + length - 1] != kFrameEnd ||
        detail::SoundFrameWithin(data, i + 1, i + length - 1)) {
      ++i;
      continue;
    }
    if (consumed < i) consumed = i;
    const TFrameView frame{data + i, length, i};
    const uint8_t computed = FrameChecksum(frame.Bytes, length);
    const uint8_t received = data[i + length - 2];
    if (computed != received) {
      visitor.OnChecksumError(frame, received, computed);
      consumed = i + 1;
      ++i;
      continue;
    }
    consumed = i + length;
    switch (visitor.OnFrame(frame)) {
      case TScanStep::Match:
        result.Drop = i;
        result.FrameLength = static_cast<int>(length);
        result.Again = true;
        return result;
      case TScanStep::Answered:
        result.Drop = consumed;
        result.Again = true;
        return result;
      case TScanStep::Next:
        break;
    }
    i += length;
  }
  result.Drop = consumed;
  return result;
}

}  // namespace dlt645
