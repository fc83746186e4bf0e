#include "dlt645/frame_scanner.h"

#include <gtest/gtest.h>

#include <functional>

#include "dlt645/frame_test_support.h"

namespace dlt645 {
namespace {

using testing::Append;
using testing::Bytes;
using testing::Hex;
using testing::IdData;
using testing::MakeFrame;

const TWireAddress kMeter = AddressFromText("112233445566");

// Records what the scanner reports; each sound frame gets the step decide returns.
struct Recorder {
  std::function<TScanStep(const TFrameView&)> decide = [](const TFrameView&) {
    return TScanStep::Next;
  };
  std::vector<std::string> events;

  TScanStep OnFrame(const TFrameView& frame) {
    static const char* const kClass[] = {"unsolicited", "outgoing", "error", "answer"};
    events.push_back(std::string(kClass[static_cast<int>(frame.Class())]) + "@" +
                     std::to_string(frame.Offset) + "+" + std::to_string(frame.Length));
    return decide(frame);
  }
  void OnChecksumError(const TFrameView& frame, uint8_t received, uint8_t computed) {
    char text[64];
    std::snprintf(text, sizeof text, "crc@%zu %02x,%02x %s,%02X", frame.Offset, received, computed,
                  AddressText(frame.Address()).c_str(), frame.Control());
    events.push_back(text);
  }
};

// Scans an exact-size copy, so that the sanitizers see any read past the end.
TScanResult Scan(const Bytes& bytes, Recorder& recorder) {
  const Bytes exact(bytes);
  return ScanFrames(std::span<const uint8_t>(exact.data(), exact.size()), recorder);
}

Bytes Voltage(uint16_t bcd) {
  return MakeFrame(kMeter, 0x91,
                   IdData(0x02010100, false, {uint8_t(bcd & 0xFF), uint8_t(bcd >> 8)}));
}

TScanStep TakeAnswers(const TFrameView& frame) {
  return frame.Class() == TFrameClass::Answer ? TScanStep::Match : TScanStep::Next;
}

TEST(FrameScanner, ElevenBytesAreKept) {
  Recorder recorder;
  const Bytes frame = Voltage(0x2232);
  const TScanResult r = Scan(Bytes(frame.begin(), frame.begin() + 11), recorder);
  EXPECT_EQ(r.Drop, 0u);
  EXPECT_EQ(r.FrameLength, -1);
  EXPECT_FALSE(r.Again);
  EXPECT_TRUE(recorder.events.empty());
}

TEST(FrameScanner, GarbageBeforeAMatchIsDroppedAndTheFrameStays) {
  Recorder recorder;
  recorder.decide = TakeAnswers;
  Bytes stream = Hex("00 68 16 FE FE FE FE");
  Append(stream, Voltage(0x2232));
  Append(stream, Voltage(0x2233));
  const TScanResult r = Scan(stream, recorder);
  EXPECT_EQ(r.Drop, 7u);
  EXPECT_EQ(r.FrameLength, 18);
  EXPECT_TRUE(r.Again);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"answer@7+18"});
}

TEST(FrameScanner, FrameRunningPastTheBufferStopsTheScan) {
  Recorder recorder;
  Bytes stream = Hex("01 02 03");
  const Bytes frame = Voltage(0x2232);
  Append(stream, Bytes(frame.begin(), frame.end() - 1));
  TScanResult r = Scan(stream, recorder);
  // The bytes before it are only garbage once a complete candidate says so.
  EXPECT_EQ(r.Drop, 0u);
  EXPECT_EQ(r.FrameLength, -1);

  // After a sound frame, an incomplete one keeps everything from its start.
  Bytes two = Voltage(0x2231);
  Append(two, Hex("FE FE"));
  Append(two, Bytes(frame.begin(), frame.end() - 3));
  r = Scan(two, recorder);
  EXPECT_EQ(r.Drop, 18u);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"answer@0+18"});

  // A candidate announcing 255 bytes does not hide a sound frame behind it:
  // that frame wins and the candidate was garbage.
  recorder.events.clear();
  recorder.decide = TakeAnswers;
  Bytes held = Hex("68 00 00 00 00 00 00 68 91 FF");
  held.resize(50, 0x00);
  Append(held, frame);
  r = Scan(held, recorder);
  EXPECT_EQ(r.Drop, 50u);
  EXPECT_EQ(r.FrameLength, 18);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"answer@50+18"});

  // Without one, nothing behind the candidate is judged: it may still
  // complete, and a broken frame inside it would be part of its data.
  recorder.events.clear();
  held.resize(50);
  Append(held, Hex("68 16"));
  Bytes broken = frame;
  broken[broken.size() - 2] ^= 0x01;
  Append(held, broken);
  Append(held, Bytes(frame.begin(), frame.end() - 1));
  r = Scan(held, recorder);
  EXPECT_EQ(r.Drop, 0u);
  EXPECT_EQ(r.FrameLength, -1);
  EXPECT_TRUE(recorder.events.empty());
}

TEST(FrameScanner, LongestAndEmptyDataFields) {
  Recorder recorder;
  recorder.decide = TakeAnswers;
  const Bytes longest = MakeFrame(kMeter, 0x91, Bytes(255, 0x68 - 0x33));
  ASSERT_EQ(longest.size(), kMaxFrameLength);
  TScanResult r = Scan(longest, recorder);
  EXPECT_EQ(r.FrameLength, 267);
  EXPECT_EQ(r.Drop, 0u);

  // Every shorter cut ends inside the announced length.
  for (size_t n = 0; n < longest.size(); ++n) {
    Recorder quiet;
    r = Scan(Bytes(longest.begin(), longest.begin() + static_cast<long>(n)), quiet);
    EXPECT_EQ(r.FrameLength, -1) << n;
    EXPECT_TRUE(quiet.events.empty()) << n;
  }

  const Bytes empty = MakeFrame(kMeter, 0x91, {});
  ASSERT_EQ(empty.size(), 12u);
  recorder.events.clear();
  r = Scan(empty, recorder);
  EXPECT_EQ(r.FrameLength, 12);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"answer@0+12"});
}

TEST(FrameScanner, ChecksumMismatchCostsOneByte) {
  // A broken frame whose data field holds a sound one is garbage before
  // it, as it would be had the sound one arrived first.
  const Bytes inner = Voltage(0x2232);
  Bytes outer = MakeFrame(kMeter, 0x91, testing::Bytes(inner.size(), 0));
  std::copy(inner.begin(), inner.end(), outer.begin() + 10);
  outer[outer.size() - 2] ^= 0x5A;
  Recorder recorder;
  recorder.decide = TakeAnswers;
  const TScanResult r = Scan(outer, recorder);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"answer@10+18"});
  EXPECT_EQ(r.Drop, 10u);
  EXPECT_EQ(r.FrameLength, 18);

  // Alone, the broken frame costs its first byte and nothing else.
  Bytes broken = Voltage(0x2232);
  broken[10] ^= 1;
  Recorder quiet;
  const TScanResult alone = Scan(broken, quiet);
  EXPECT_EQ(alone.Drop, 1u);
  EXPECT_EQ(alone.FrameLength, -1);
  EXPECT_FALSE(alone.Again);
}

TEST(FrameScanner, ErrorAndOutgoingFramesAreConsumedWhenPassed) {
  Bytes stream = MakeFrame(kMeter, 0xD1, Hex("06"));
  Append(stream, MakeFrame(kMeter, 0xC1, Hex("01")));
  Append(stream, MakeFrame(kMeter, 0x11, IdData(0x02010100, false, {})));
  Append(stream, Hex("68 00"));  // a tail too short to judge
  Recorder recorder;
  const TScanResult r = Scan(stream, recorder);
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"error@0+13", "error@13+13", "outgoing@26+16"}));
  EXPECT_EQ(r.Drop, 42u);
  EXPECT_EQ(r.FrameLength, -1);
  EXPECT_FALSE(r.Again);
}

TEST(FrameScanner, AnsweredFrameStopsTheScanAfterIt) {
  Bytes stream = Hex("FE FE");
  Append(stream, MakeFrame(kMeter, 0x9F, {}));
  Append(stream, Voltage(0x2232));
  Recorder recorder;
  recorder.decide = [](const TFrameView& frame) {
    return frame.Class() == TFrameClass::Unsolicited ? TScanStep::Answered : TScanStep::Match;
  };
  TScanResult r = Scan(stream, recorder);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"unsolicited@2+12"});
  EXPECT_EQ(r.Drop, 14u);
  EXPECT_EQ(r.FrameLength, -1);
  EXPECT_TRUE(r.Again);

  stream.erase(stream.begin(), stream.begin() + static_cast<long>(r.Drop));
  r = Scan(stream, recorder);
  EXPECT_EQ(r.Drop, 0u);
  EXPECT_EQ(r.FrameLength, 18);
}

TEST(FrameScanner, FalseStartsAreSkipped) {
  // 68 at i and i+7 but no end byte where L says; then a real frame.
  Bytes stream = Hex("68 00 00 00 00 00 00 68 91 00 00 00");
  Append(stream, Voltage(0x2232));
  Recorder recorder;
  recorder.decide = TakeAnswers;
  const TScanResult r = Scan(stream, recorder);
  EXPECT_EQ(r.Drop, 12u);
  EXPECT_EQ(r.FrameLength, 18);
}

}  // namespace
}  // namespace dlt645
