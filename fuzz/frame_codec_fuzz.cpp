// Random byte streams through frame search, value decoding, the join of
// follow-up frames and the load-record walker, fed in
// random blocks through a bounded receive buffer as the receive path feeds
// them. Checks that nothing reads outside the data, that every result stays
// inside the buffer, that the buffer stays bounded, and that the blocks a
// stream is cut into never change what is found.
//
// Input: the first byte seeds the block sizes; the rest is the stream.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dlt645/follow_up.h"
#include "dlt645/frame_codec.h"
#include "dlt645/frame_scanner.h"
#include "dlt645/func_types.h"
#include "dlt645/load_profile.h"
#include "dlt645/value_decoder.h"

namespace {

using namespace dlt645;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// Folds everything decoded into a running hash, and checks each value.
class HashSink final : public IValueSink {
 public:
  uint64_t Hash = 1469598103934665603u;

  void OnTimestamp(unsigned k, double date_time) override {
    Check(std::isfinite(date_time) && date_time >= 0, "time stamp");
    Mix(k);
    Mix(date_time);
  }
  void OnInteger(const TValueName& name, int32_t value) override {
    Name(name);
    Mix(static_cast<uint64_t>(static_cast<uint32_t>(value)));
  }
  void OnFloat(const TValueName& name, double value) override {
    Check(std::isfinite(value), "value");
    Name(name);
    Mix(value);
  }
  void OnDateError(std::string_view message) override {
    Check(message.rfind("Unable to encode date: ", 0) == 0, "date message");
    Mix(message.size());
  }

 private:
  void Name(const TValueName& name) {
    std::array<char, 64> text{};
    const size_t n = name.Format(text);
    Check(n < text.size() && text[n] == '\0', "name");
    for (size_t i = 0; i < n; ++i)
      Mix(static_cast<uint8_t>(text[i]));
  }
  void Mix(double v) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    Mix(bits);
  }
  void Mix(unsigned v) { Mix(uint64_t{v}); }
  void Mix(uint8_t v) { Mix(uint64_t{v}); }
  void Mix(uint64_t v) { Hash = (Hash ^ v) * 1099511628211u; }
};

// Checks every record and skip of a walk against the data walked.
class LoadSink final : public ILoadRecordSink {
 public:
  explicit LoadSink(size_t size) : size_(size) {}
  uint64_t Hash = 1469598103934665603u;

  void OnRecord(const TLoadRecord& record) override {
    Check(record.Offset + record.Length <= size_, "record inside the data");
    Check(IsValidLoadTime(record.Time), "record time");
    for (size_t v = 0; v < kLoadValueCount; ++v) {
      const auto value = static_cast<TLoadValue>(v);
      if (!record.Has(value)) continue;
      Check(std::isfinite(record.Value(value)), "record value");
      Mix(static_cast<uint64_t>(static_cast<uint32_t>(record.RawValue(value))));
    }
    Mix(record.Offset);
  }
  void OnSkipped(size_t offset, size_t length, TLoadSkip reason) override {
    Check(offset + length <= size_, "skip inside the data");
    Check(!LoadSkipText(reason).empty(), "skip text");
    Mix(offset * 16 + static_cast<uint64_t>(reason));
  }

 private:
  void Mix(uint64_t v) { Hash = (Hash ^ v) * 1099511628211u; }
  size_t size_;
};

// A listening client: takes every answer whose identifier some table row
// has, answers unsolicited frames, and passes errors and requests by.
class Client {
 public:
  static constexpr size_t kBufferSize = 16384;
  static constexpr size_t kDiscardStep = 64;

  std::vector<uint64_t> Events;

  void ProcessBlock(const uint8_t* data, size_t n) {
    AddData(data, n);
    bool again = false;
    do {
      const TScanResult r = ScanFrames({buffer_.data(), buffer_.size()}, *this);
      Check(r.Drop <= buffer_.size(), "drop inside the buffer");
      again = r.Again;
      Drop(r.Drop);
      if (r.FrameLength >= 0) {
        const auto length = static_cast<size_t>(r.FrameLength);
        Check(length >= kMinFrameLength && length <= buffer_.size(), "frame inside the buffer");
        ParseFrame(length);
        Drop(length);
      }
    } while (again && !buffer_.empty());
    Check(buffer_.size() <= kBufferSize, "buffer bounded");
  }

  TScanStep OnFrame(const TFrameView& frame) {
    Check(frame.Bytes >= buffer_.data() &&
              frame.Bytes + frame.Length <= buffer_.data() + buffer_.size(),
          "frame view inside the buffer");
    Check(frame.Length == frame.DataLength() + kFrameOverhead, "frame length");
    Check(frame.Bytes[frame.Length - 1] == kFrameEnd &&
              FrameChecksum(frame.Bytes, frame.Length) == frame.Bytes[frame.Length - 2],
          "sound frame");
    const TAddressChars address = AddressChars(frame.Address());
    Event(1, frame.Offset, frame.Control(),
          Hash(reinterpret_cast<const uint8_t*>(address.data()), address.size()));
    // Follow-up answers (and their error answers) go to an open join.
    if (join_open_ && (frame.Control() & kControlFromMeter) != 0 &&
        (frame.Control() & kFunctionMask) == kFunctionReadFollowUp) {
      FollowUp(frame);
      return TScanStep::Next;
    }
    switch (frame.Class()) {
      case TFrameClass::Unsolicited: {
        std::array<uint8_t, kUnsolicitedReplyLength> reply{};
        BuildUnsolicitedReply(frame.Address(), reply);
        Check(FrameChecksum(reply.data(), reply.size()) == reply[10], "reply checksum");
        return TScanStep::Answered;
      }
      case TFrameClass::Outgoing:
      case TFrameClass::ErrorAnswer: {
        const std::string text = FrameErrorText(frame);
        Event(2, text.size(), 0, Hash(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        return TScanStep::Next;
      }
      case TFrameClass::Answer:
        for (bool is1997 : {false, true}) {
          uint32_t id = 0;
          if (!frame.Id(is1997, &id)) continue;
          const TRequestFuncType* row = LookupFuncType(id, is1997);
          if (row == nullptr || !FrameCarriesId(frame, is1997, id)) continue;
          row_ = row;
          is1997_ = is1997;
          return TScanStep::Match;
        }
        return TScanStep::Next;
    }
    return TScanStep::Next;
  }

  void OnChecksumError(const TFrameView& frame, uint8_t received, uint8_t computed) {
    Check(received != computed, "checksum mismatch");
    Event(3, frame.Offset, static_cast<uint64_t>(received) << 8 | computed, frame.Control());
  }

 private:
  void AddData(const uint8_t* data, size_t n) {
    if (n >= kBufferSize) {
      buffer_.assign(data + n - kBufferSize, data + n);
      return;
    }
    if (buffer_.size() + n > kBufferSize) {
      const size_t excess = buffer_.size() + n - kBufferSize;
      Drop(std::min(buffer_.size(), (excess + kDiscardStep - 1) / kDiscardStep * kDiscardStep));
    }
    buffer_.insert(buffer_.end(), data, data + n);
  }

  void Drop(size_t n) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  }

  // The matched frame is at the front; decode it from an exact copy, so
  // that reading past it is caught.
  void ParseFrame(size_t length) {
    const std::vector<uint8_t> copy(buffer_.begin(),
                                    buffer_.begin() + static_cast<std::ptrdiff_t>(length));
    const TFrameView frame{copy.data(), copy.size(), 0};
    const std::span<const uint8_t> values = AnswerValues(frame, is1997_);
    Check(values.size() + IdLength(is1997_) == frame.DataLength() || values.empty(),
          "values inside the data field");
    HashSink sink;
    const size_t n = DecodeValues(values, *row_, 0, sink);
    Check(n <= row_->ValueCount, "value count");

    // The same bytes under a layout made from them: wide values, every
    // format, signs, rates.
    if (!values.empty()) {
      TRequestFuncType custom = *row_;
      custom.ValueSize = values[0];
      custom.Format = values.size() > 1 ? values[1] : 0;
      custom.Signed = values.size() > 2 ? values[2] & 1 : 0;
      custom.ValueCount = values.size() > 3 ? values[3] : 1;
      DecodeValues(values, custom, values.back(), sink);
    }

    // A request for the identifier carries it back.
    uint32_t id = 0;
    Check(frame.Id(is1997_, &id), "identifier");
    std::array<uint8_t, kMaxReadRequestLength> request{};
    const TWireAddress address = AddressFromText(AddressText(frame.Address()));
    Check(std::equal(address.begin(), address.end(), frame.Address()), "address round trip");
    const size_t request_length = BuildReadRequest(address, id, is1997_, row_, request);
    const TFrameView request_view{request.data(), request_length, 0};
    Check(FrameCarriesId(request_view, is1997_, id), "request identifier");
    Event(4, n, id, sink.Hash);

    if (!is1997_ && (id >> 24) == 0x06) Walk(values, id);
    if (!is1997_ && HasFollowUp(frame.Control())) {
      const TJoinStep step = join_.Start(frame, id);
      Check(step == TJoinStep::More, "a first answer announcing more");
      join_open_ = true;
      AskNext();
    }
  }

  void FollowUp(const TFrameView& frame) {
    const TJoinStep step = join_.Add(frame);
    Check(join_.Data().size() <= storage_.size(), "join inside its storage");
    Event(5, static_cast<uint64_t>(step), join_.FollowUps(), join_.Data().size());
    switch (step) {
      case TJoinStep::More:
        AskNext();
        return;
      case TJoinStep::Foreign:
      case TJoinStep::Repeated:
      case TJoinStep::OutOfOrder:
        return;
      case TJoinStep::Done:
        Check(join_.Complete(), "complete");
        [[fallthrough]];
      default:
        // Whatever arrived is walked, complete or not.
        join_open_ = false;
        Walk(join_.Data(), join_.Id());
        return;
    }
  }

  // The request for the frame a join waits for names it and its number.
  void AskNext() {
    std::array<uint8_t, kFollowUpRequestLength> ask{};
    const size_t n = BuildFollowUpRequest(kWildcardAddress, join_.Id(), join_.NextSeq(), ask);
    Check(n == ask.size() && FrameChecksum(ask.data(), n) == ask[n - 2], "follow-up request");
    Check(static_cast<uint8_t>(ask[14] - kWireOffset) == join_.NextSeq(), "follow-up number");
  }

  void Walk(std::span<const uint8_t> values, uint32_t id) {
    // A copy of exactly the data, so that reading past it is caught.
    const std::vector<uint8_t> copy(values.begin(), values.end());
    TLoadBlock block{};
    uint8_t load_class = kLoadClassAll;
    SplitLoadProfileId(id, &block, &load_class);
    LoadSink sink(copy.size());
    const size_t n = WalkLoadRecords(copy, load_class, sink);
    Check(n * 8 <= copy.size(), "record count");
    Event(6, n, id, sink.Hash);
  }

  static uint64_t Hash(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603u;
    for (size_t i = 0; i < n; ++i)
      h = (h ^ p[i]) * 1099511628211u;
    return h;
  }

  void Event(uint64_t kind, uint64_t a, uint64_t b, uint64_t c) {
    Events.push_back(kind);
    // Offsets depend on where blocks were cut; only their kind counts.
    Events.push_back(kind == 1 || kind == 3 ? 0 : a);
    Events.push_back(b);
    Events.push_back(c);
  }

  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> storage_ = std::vector<uint8_t>((kMaxFollowUpSeq + 1) * 255);
  TAnswerJoin join_{storage_};
  bool join_open_ = false;
  const TRequestFuncType* row_ = nullptr;
  bool is1997_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t seed = data[0] * 2654435761u + 1;
  ++data;
  --size;

  // Every block in its own exact-size allocation, as the host hands it over.
  Client chunked;
  for (size_t pos = 0; pos < size;) {
    seed = seed * 1103515245u + 12345u;
    const size_t n = std::min<size_t>(size - pos, 1 + (seed >> 16) % 48);
    const std::vector<uint8_t> block(data + pos, data + pos + n);
    chunked.ProcessBlock(block.data(), block.size());
    pos += n;
  }

  // Below the buffer's size nothing is discarded, so one block must find
  // exactly what the many found.
  if (size < Client::kBufferSize) {
    Client whole;
    const std::vector<uint8_t> block(data, data + size);
    whole.ProcessBlock(block.data(), block.size());
    Check(whole.Events == chunked.Events, "the same frames whatever the blocks");
  }
  return 0;
}
