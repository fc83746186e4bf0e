#include "dlt645/follow_up.h"

#include <algorithm>
#include <array>

namespace dlt645 {

size_t BuildFollowUpRequest(const TWireAddress& address, uint32_t id, uint8_t seq,
                            std::span<uint8_t, kFollowUpRequestLength> out) {
  const std::array<uint8_t, 5> data{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                                    static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24),
                                    seq};
  return BuildFrame(address, kFunctionReadFollowUp, data, out);
}

TJoinStep TAnswerJoin::Start(const TFrameView& frame, uint32_t id) {
  size_ = 0;
  id_ = id;
  next_seq_ = 1;
  taken_ = 0;
  complete_ = false;
  error_ = 0;
  open_ = true;
  return Append(AnswerValues(frame, false), HasFollowUp(frame.Control()));
}

TJoinStep TAnswerJoin::Add(const TFrameView& frame) {
  const uint8_t control = frame.Control();
  if (!open_ || (control & kControlFromMeter) == 0 ||
      (control & kFunctionMask) != kFunctionReadFollowUp)
    return TJoinStep::Foreign;
  if ((control & kControlErrorAnswer) != 0) {
    error_ = frame.ErrorByte();
    open_ = false;
    return TJoinStep::ErrorAnswer;
  }
  uint32_t id = 0;
  if (frame.DataLength() < 5 || !frame.Id(false, &id) || id != id_) return TJoinStep::Foreign;
  const std::span<const uint8_t> data = frame.Data();
  const unsigned seq = static_cast<uint8_t>(data.back() - kWireOffset);
  if (seq >= 1 && seq < next_seq_) return TJoinStep::Repeated;
  if (seq != next_seq_) return TJoinStep::OutOfOrder;
  ++taken_;
  return Append(data.subspan(4, data.size() - 5), HasFollowUp(control));
}

TJoinStep TAnswerJoin::Append(std::span<const uint8_t> bytes, bool more) {
  if (bytes.size() > storage_.size() - size_) {
    open_ = false;
    return TJoinStep::Overflow;
  }
  std::copy(bytes.begin(), bytes.end(), storage_.begin() + static_cast<std::ptrdiff_t>(size_));
  size_ += bytes.size();
  if (!more) {
    complete_ = true;
    open_ = false;
    return TJoinStep::Done;
  }
  // The first answer's "more" asks for frame 1, which next_seq_ already is.
  if (taken_ == 0) return TJoinStep::More;
  if (next_seq_ >= kMaxFollowUpSeq) {
    open_ = false;
    return TJoinStep::TooManyFrames;
  }
  ++next_seq_;
  return TJoinStep::More;
}

}  // namespace dlt645
