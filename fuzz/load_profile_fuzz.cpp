// Random answer data through the load-record walk, whole and after a trip
// through follow-up frames. Checks that nothing reads outside the data,
// that records and skipped stretches tile the data in order, that every
// record holds a real time and values within their digits, and that
// splitting an answer into follow-up frames and joining it changes nothing.
//
// Input: the first byte picks the class asked for (low three bits) and the
// part size of the follow-up frames; the rest is the data in plain form.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dlt645/follow_up.h"
#include "dlt645/load_profile.h"

namespace {

using namespace dlt645;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

struct Sink final : ILoadRecordSink {
  size_t Covered = 0;
  std::vector<uint64_t> Events;

  void OnRecord(const TLoadRecord& r) override {
    Check(r.Offset == Covered && r.Length >= 11, "record in order");
    Covered += r.Length;
    Check(IsValidLoadTime(r.Time), "record time");
    for (size_t v = 0; v < kLoadValueCount; ++v) {
      if (!r.Has(static_cast<TLoadValue>(v))) continue;
      const TLoadValueInfo& info = kLoadValues[v];
      Check((r.Classes >> (info.LoadClass - 1) & 1) != 0, "value of a class present");
      // The top digit shares its byte with the sign: at most 7.
      int32_t limit = info.Signed ? 8 : 10;
      for (uint8_t d = 1; d < 2 * info.Size; ++d)
        limit *= 10;
      Check(r.Raw[v] < limit && r.Raw[v] > -limit && (info.Signed || r.Raw[v] >= 0),
            "value digits");
      Events.push_back(static_cast<uint64_t>(static_cast<uint32_t>(r.Raw[v])));
    }
    Events.push_back(r.Offset << 8 | r.Classes);
  }
  void OnSkipped(size_t offset, size_t length, TLoadSkip reason) override {
    Check(offset == Covered && length > 0, "skip in order");
    Check(!LoadSkipText(reason).empty(), "skip text");
    Covered += length;
    Events.push_back(uint64_t{0xF0} | static_cast<uint64_t>(reason));
  }
};

Sink Walk(const std::vector<uint8_t>& wire, uint8_t load_class) {
  Sink sink;
  const size_t records = WalkLoadRecords(wire, load_class, sink);
  Check(sink.Covered == wire.size(), "records and skips cover the data");
  Check(records <= wire.size() / 11, "record count");
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t load_class = data[0] & 0x07;
  const size_t part = 1 + (data[0] >> 3) * 6;  // 1..187 bytes per follow-up frame
  std::vector<uint8_t> wire(data + 1, data + size);
  for (uint8_t& b : wire)
    b = static_cast<uint8_t>(b + kWireOffset);
  const Sink whole = Walk(wire, load_class);

  // The same data over follow-up frames, one exact-size allocation each.
  const TWireAddress address{0x12, 0x90, 0x78, 0x56, 0x34, 0x12};
  const uint32_t id = LoadProfileId(TLoadBlock::Latest, load_class > 6 ? 0 : load_class);
  std::vector<uint8_t> storage(wire.size());
  TAnswerJoin join(storage);
  size_t pos = 0;
  unsigned seq = 0;
  for (;;) {
    const size_t n = std::min(part, wire.size() - pos);
    const bool more = pos + n < wire.size();
    std::vector<uint8_t> plain{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                               static_cast<uint8_t>(id >> 16), static_cast<uint8_t>(id >> 24)};
    for (size_t i = 0; i < n; ++i)
      plain.push_back(static_cast<uint8_t>(wire[pos + i] - kWireOffset));
    uint8_t control = seq == 0 ? 0x91 : 0x92;
    if (more) control |= kControlFollowUp;
    if (seq != 0) plain.push_back(static_cast<uint8_t>(seq));
    std::vector<uint8_t> frame(plain.size() + kFrameOverhead);
    Check(BuildFrame(address, control, plain, frame) == frame.size(), "frame built");
    const TFrameView view{frame.data(), frame.size(), 0};
    const TJoinStep step = seq == 0 ? join.Start(view, id) : join.Add(view);
    pos += n;
    if (step == TJoinStep::TooManyFrames) {
      Check(seq == kMaxFollowUpSeq, "255 follow-up frames");
      return 0;
    }
    Check(step == (more ? TJoinStep::More : TJoinStep::Done), "join step");
    if (seq != 0) Check(join.Add(view) == TJoinStep::Repeated || !more, "repeat refused");
    ++seq;
    if (!more) break;
  }
  Check(join.Complete() && join.FollowUps() == seq - 1, "join complete");
  const std::vector<uint8_t> joined(join.Data().begin(), join.Data().end());
  Check(joined == wire, "joined data");
  Check(Walk(joined, load_class).Events == whole.Events, "the same records after joining");
  return 0;
}
