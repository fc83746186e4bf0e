// Random byte streams through the simulator's request side: frame search,
// requests, follow-ups and answers of a session of three meters. Checks
// that nothing reads outside the data, that everything sent (noise off) is
// sound frames from a meter, and that the blocks a stream is cut into never
// change the answers (unless sound frames overlap).
//
// Input: byte 0 seeds the block sizes, byte 1 the faults (echo off, noise
// off: those change the bytes sent); the rest is the stream.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "meter_session.h"
#include "wire.h"

namespace {

using metersim::MeterAddress;

MeterAddress Address(const char* text) {
  MeterAddress a{};
  Check(metersim::ParseAddress(text, &a), "address");
  return a;
}

constexpr metersim::SimTime kNow = 3'950'000'000;

std::vector<uint8_t> Run(const uint8_t* data, size_t size, uint8_t flags, uint32_t seed,
                         bool chunked) {
  static const std::vector<MeterAddress> meters = {Address("000000000001"), Address("112233445566"),
                                                   Address("201900000042")};
  metersim::FaultOptions faults;
  faults.duplicate = (flags & 1) != 0;
  faults.drop_follow_up = (flags & 2) != 0;
  if ((flags & 4) != 0) faults.silent.push_back(meters[1]);
  metersim::MeterSession session(meters, faults, 7, "fuzz");
  std::vector<uint8_t> sent;
  for (size_t pos = 0; pos < size;) {
    seed = seed * 1103515245u + 12345u;
    const size_t n = chunked ? std::min<size_t>(size - pos, 1 + (seed >> 16) % 48) : size - pos;
    std::vector<metersim::OutChunk> out;
    session.OnReceive(std::span<const uint8_t>(data + pos, n), kNow, &out);
    for (const metersim::OutChunk& chunk : out)
      sent.insert(sent.end(), chunk.bytes.begin(), chunk.bytes.end());
    pos += n;
  }
  return sent;
}

// Whether a sound frame starts inside another: then which of the two is
// answered depends on whether the first had fully arrived when the second
// did (the later frame wins over a frame still arriving), so the blocks
// matter.
bool SoundFramesOverlap(const uint8_t* data, size_t size) {
  size_t end_of_last = 0;
  for (size_t i = 0; i + metersim::kMinFrame <= size; ++i) {
    if (data[i] != metersim::kFrameStart || data[i + 7] != metersim::kFrameStart) continue;
    const size_t length = metersim::kMinFrame + data[i + 9];
    if (i + length > size || data[i + length - 1] != metersim::kFrameEnd ||
        metersim::FrameChecksum(std::span<const uint8_t>(data + i, length - 2)) !=
            data[i + length - 2])
      continue;
    if (i < end_of_last) return true;
    end_of_last = i + length;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t seed = data[0] * 2654435761u + 1;
  const uint8_t flags = data[1];
  data += 2;
  size -= 2;

  const std::vector<uint8_t> chunked = Run(data, size, flags, seed, true);
  metersim::FrameScanner scanner;
  scanner.Append(chunked.data(), chunked.size());
  metersim::Frame frame;
  while (scanner.Next(&frame))
    Check((frame.control & metersim::kFromMeter) != 0, "sent by a meter");
  Check(scanner.Buffered() == 0 && scanner.Malformed() == 0, "only sound frames sent");

  if (!SoundFramesOverlap(data, size))
    Check(Run(data, size, flags, seed, false) == chunked, "the same answers whatever the blocks");
  return 0;
}
