#pragma once
// The meter's side of the DL/T 645 wire: answer frames built from readings,
// and a tolerant search for request frames in whatever the line delivers.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "meter_model.h"

namespace metersim {

constexpr uint8_t kFrameStart = 0x68;
constexpr uint8_t kFrameEnd = 0x16;
constexpr uint8_t kDataOffset = 0x33;
constexpr size_t kMinFrame = 12;
constexpr size_t kMaxFrame = 12 + 255;

// Control codes (the low five bits are the function).
constexpr uint8_t kRead2007 = 0x11;
constexpr uint8_t kRead1997 = 0x01;
constexpr uint8_t kFromMeter = 0x80;
constexpr uint8_t kErrorAnswer = 0x40;
constexpr uint8_t kUnsolicited = 0x9F;
constexpr uint8_t kUnsolicitedReply = 0x1F;
constexpr uint8_t kReadFollowUp = 0x12;
constexpr uint8_t kMoreFollows = 0x20;
constexpr uint8_t kTimeSync = 0x08;     // broadcast, never answered
constexpr uint8_t kReadAddress = 0x13;  // to the wildcard address
// The meter's date (YYMMDDWW) and time (hhmmss).
constexpr uint32_t kIdMeterDate = 0x04000101;
constexpr uint32_t kIdMeterTime = 0x04000102;  // in an answer's control code: more frames follow

// The most data one answer frame carries; longer answers go on in
// follow-up frames.
constexpr size_t kMaxAnswerData = 200;

struct Frame {
  MeterAddress address{};
  uint8_t control = 0;
  std::vector<uint8_t> data;  // the data field with the 0x33 offset removed
};

uint8_t FrameChecksum(std::span<const uint8_t> bytes);  // sum of all bytes given, modulo 256
// A whole frame; `data` is plain (the offset is added here). Throws
// std::length_error beyond 255 data bytes.
std::vector<uint8_t> EncodeFrame(const MeterAddress& address, uint8_t control,
                                 std::span<const uint8_t> data);

// The time of a 0x08 data field (ss mm hh DD MM YY, BCD); false when it is
// not six bytes of a valid time.
bool DecodeTimeSync(std::span<const uint8_t> data, SimTime* out);
// The plain data field of a 04000101 (week day, day, month, year) or
// 04000102 (second, minute, hour) answer at time t, identifier first.
std::vector<uint8_t> ClockAnswerData(uint32_t id, SimTime t);

// The plain data field of an answer: the identifier (4 or 2 bytes, least
// significant first), then per value its BCD digits (least significant byte
// first, the sign in bit 7 of the top byte on signed rows) and its time stamp
// (minute hour day month year, or second first for six bytes).
std::vector<uint8_t> EncodeAnswerData(uint32_t id, bool is1997, const SimReading& reading);

// The complete answer to a read of `id`: a normal answer (0x91/0x81) or,
// when the reading carries an error, an error answer (0xD1/0xC1) whose one
// data byte is the error byte.
std::vector<uint8_t> BuildAnswer(const MeterAddress& address, uint32_t id, bool is1997,
                                 const SimReading& reading);

// The plain records of a load-profile read: A0 A0, length (to the last AA),
// time, the classes each closed by AA (a class read: only that class and
// its separator), checksum, E5.
std::vector<uint8_t> EncodeLoadRecords(const SimLoadRead& read);

// How many frames an answer with this many value bytes (after the
// identifier) takes: the answer to the read and its follow-up frames.
size_t AnswerFrameCount(size_t value_bytes);
// Frame seq of a 2007 answer to id: 0 is the answer to the read (0x91, or
// 0xB1 when more follow), 1.. the follow-up frames (0xB2, the last 0x92),
// which end with their sequence number. Empty beyond the last frame.
std::vector<uint8_t> BuildAnswerPart(const MeterAddress& address, uint32_t id,
                                     std::span<const uint8_t> values, size_t seq);

// Finds request frames in a byte stream. Wake-up bytes, noise and frames
// with a bad checksum or end byte are skipped; a frame that has not fully
// arrived waits for more bytes, but a sound frame after it is not held up by
// it. The buffer never holds more than one frame's worth of bytes.
class FrameScanner {
 public:
  void Append(const uint8_t* data, size_t size);
  // Takes the next sound frame; false when none is complete.
  bool Next(Frame* frame);
  size_t Buffered() const { return buffer_.size(); }
  // Frames skipped for a bad checksum or end byte since the start.
  uint64_t Malformed() const { return malformed_; }

 private:
  std::vector<uint8_t> buffer_;
  uint64_t malformed_ = 0;
};

// Hexadecimal bytes separated by blanks, for the log.
std::string HexText(std::span<const uint8_t> bytes);

}  // namespace metersim
