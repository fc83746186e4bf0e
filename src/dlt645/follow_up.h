#pragma once
// Answers that do not fit one frame: a meter sets bit 5 of its control code
// (0xB1) and sends the rest on 0x12 requests carrying the identifier and a
// sequence number 1, 2, …; each follow-up answer repeats the identifier and
// ends with its sequence number, the last one with bit 5 clear (0x92).
// 2007 frames only. The join keeps the data in wire form in storage the
// caller owns, so that following a long answer allocates nothing.
#include <cstddef>
#include <cstdint>
#include <span>

#include "dlt645/frame_codec.h"

namespace dlt645 {

constexpr uint8_t kFunctionReadFollowUp = 0x12;
constexpr uint8_t kControlFollowUp = 0x20;  // more frames follow this one
constexpr size_t kFollowUpRequestLength = kFrameOverhead + 5;
constexpr unsigned kMaxFollowUpSeq = 255;

inline bool HasFollowUp(uint8_t control) {
  return (control & kControlFollowUp) != 0;
}

// The 0x12 request for frame seq (1..255) of the answer to id.
size_t BuildFollowUpRequest(const TWireAddress& address, uint32_t id, uint8_t seq,
                            std::span<uint8_t, kFollowUpRequestLength> out);

// What one frame did to a join.
enum class TJoinStep : uint8_t {
  More,           // taken; ask for frame NextSeq()
  Done,           // taken; the answer is complete
  ErrorAnswer,    // a 0xD2 answer: the join ends, ErrorByte() says why
  Foreign,        // not a follow-up answer to this identifier: not taken
  Repeated,       // the frame already taken again: not taken
  OutOfOrder,     // another sequence number than the one asked for: not taken
  Overflow,       // the data no longer fit the storage: the join ends
  TooManyFrames,  // frame 255 still announced more: the join ends
};

// Joins the values of a first answer and its follow-up answers.
class TAnswerJoin {
 public:
  explicit TAnswerJoin(std::span<uint8_t> storage) : storage_(storage) {}

  // The first answer (0x91 or 0xB1), already matched to id: keeps the bytes
  // after the identifier. Starts a new join.
  TJoinStep Start(const TFrameView& frame, uint32_t id);
  // A follow-up answer: keeps the bytes between the identifier and the
  // trailing sequence number when they belong to frame NextSeq().
  TJoinStep Add(const TFrameView& frame);

  uint32_t Id() const { return id_; }
  uint8_t NextSeq() const { return static_cast<uint8_t>(next_seq_); }
  bool Complete() const { return complete_; }
  uint8_t ErrorByte() const { return error_; }
  // Follow-up frames taken so far.
  unsigned FollowUps() const { return taken_; }
  // The joined values in wire form.
  std::span<const uint8_t> Data() const { return storage_.first(size_); }

 private:
  TJoinStep Append(std::span<const uint8_t> bytes, bool more);

  std::span<uint8_t> storage_;
  size_t size_ = 0;
  uint32_t id_ = 0;
  unsigned next_seq_ = 1;
  unsigned taken_ = 0;
  bool complete_ = false;
  bool open_ = false;
  uint8_t error_ = 0;
};

}  // namespace dlt645
