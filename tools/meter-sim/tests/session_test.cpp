#include <gtest/gtest.h>

#include <algorithm>

#include "answer_decoder.h"
#include "meter_session.h"
#include "wire.h"

namespace {

using metersim::FaultOptions;
using metersim::Frame;
using metersim::FrameScanner;
using metersim::MeterAddress;
using metersim::MeterSession;
using metersim::OutChunk;
using Bytes = std::vector<uint8_t>;

MeterAddress Addr(const char* text) {
  MeterAddress a{};
  EXPECT_TRUE(metersim::ParseAddress(text, &a)) << text;
  return a;
}

Bytes Request(const MeterAddress& a, uint32_t id, bool is1997 = false) {
  Bytes data;
  for (int i = 0; i < (is1997 ? 2 : 4); ++i)
    data.push_back(static_cast<uint8_t>(id >> (8 * i)));
  return metersim::EncodeFrame(a, is1997 ? 0x01 : 0x11, data);
}

Bytes Join(const std::vector<OutChunk>& chunks) {
  Bytes all;
  for (const auto& c : chunks)
    all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  return all;
}

constexpr metersim::SimTime kNow = 3'950'000'000;  // early 2025

TEST(FrameCodec, RequestBytesAsAPlugInSendsThem) {
  EXPECT_EQ(Request(Addr("000000000001"), 0x02010100),
            (Bytes{0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x11, 0x04, 0x33, 0x34, 0x34,
                   0x35, 0xB6, 0x16}));
  EXPECT_EQ(
      Request(Addr("000000000001"), 0xB611, true),
      (Bytes{0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x01, 0x02, 0x44, 0xE9, 0x01, 0x16}));
}

TEST(FrameScanner, FindsRequestsBehindWakeUpAndNoise) {
  FrameScanner scanner;
  Bytes stream = {0xFE, 0xFE, 0xFE, 0xFE, 0x00, 0x16, 0x68, 0x12};
  const Bytes request = Request(Addr("000000000001"), 0x02010100);
  stream.insert(stream.end(), request.begin(), request.end());
  stream.insert(stream.end(), {0xFE, 0xFE});
  scanner.Append(stream.data(), stream.size());
  Frame frame;
  ASSERT_TRUE(scanner.Next(&frame));
  EXPECT_EQ(frame.control, 0x11);
  EXPECT_EQ(frame.data, (Bytes{0x00, 0x01, 0x01, 0x02}));
  EXPECT_FALSE(scanner.Next(&frame));
  EXPECT_EQ(scanner.Buffered(), 0u);  // trailing wake-up bytes can start nothing
}

TEST(FrameScanner, WaitsForAFrameArrivingByteByByte) {
  FrameScanner scanner;
  const Bytes request = Request(Addr("000000000001"), 0x02010100);
  Frame frame;
  for (size_t i = 0; i + 1 < request.size(); ++i) {
    scanner.Append(&request[i], 1);
    EXPECT_FALSE(scanner.Next(&frame)) << i;
  }
  scanner.Append(&request.back(), 1);
  EXPECT_TRUE(scanner.Next(&frame));
}

TEST(FrameScanner, SkipsMalformedFramesAndIsNotHeldUpByFalseStarts) {
  FrameScanner scanner;
  Bytes bad = Request(Addr("000000000001"), 0x02010100);
  bad[14] ^= 0x01;  // checksum
  Bytes no_end = Request(Addr("000000000001"), 0x02010100);
  no_end.back() = 0x17;
  // A false start that announces 255 data bytes, then a real request.
  Bytes stream = {0x68, 1, 2, 3, 4, 5, 6, 0x68, 0x11, 0xFF};
  stream.insert(stream.end(), bad.begin(), bad.end());
  stream.insert(stream.end(), no_end.begin(), no_end.end());
  const Bytes good = Request(Addr("000000000002"), 0x02010200);
  stream.insert(stream.end(), good.begin(), good.end());
  scanner.Append(stream.data(), stream.size());
  Frame frame;
  ASSERT_TRUE(scanner.Next(&frame));
  EXPECT_EQ(metersim::AddressText(frame.address), "000000000002");
  EXPECT_FALSE(scanner.Next(&frame));
  EXPECT_EQ(scanner.Malformed(), 2u);
  EXPECT_EQ(scanner.Buffered(), 0u);
  // Endless noise never grows the buffer beyond one frame.
  const Bytes noise(100000, 0x68);
  scanner.Append(noise.data(), noise.size());
  EXPECT_FALSE(scanner.Next(&frame));
  EXPECT_LE(scanner.Buffered(), metersim::kMaxFrame);
}

struct SessionFixture : ::testing::Test {
  std::vector<MeterAddress> meters = {Addr("000000000001"), Addr("112233445566")};
  FaultOptions faults;

  std::vector<OutChunk> Send(MeterSession& s, const Bytes& bytes) {
    std::vector<OutChunk> out;
    s.OnReceive(bytes, kNow, &out);
    return out;
  }
  metersim_test::DecodedFrame Decode(const Bytes& frame, uint32_t id = 0x02010100) {
    return metersim_test::DecodeAnswer(frame, FindFuncType(id, false), false);
  }
};

using MeterBus = SessionFixture;

TEST_F(MeterBus, ReadsTheAddressAndTakesABroadcastTime) {
  std::vector<MeterAddress> one = {Addr("123456789012")};
  MeterSession s(one, faults, 1);
  auto out = Send(s, Bytes{0x68, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x68, 0x13, 0x00, 0xDF, 0x16});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, (Bytes{0x68, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12, 0x68, 0x93, 0x06, 0x45,
                                 0xC3, 0xAB, 0x89, 0x67, 0x45, 0x07, 0x16}));
  // 2024-05-01 12:30:45: no answer, and the clock reads it afterwards.
  EXPECT_TRUE(Send(s, Bytes{0x68, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x68, 0x08, 0x06, 0x78, 0x63,
                            0x45, 0x34, 0x38, 0x57, 0x57, 0x16})
                  .empty());
  out = Send(s, Request(one[0], metersim::kIdMeterTime));
  ASSERT_EQ(out.size(), 1u);
  const Bytes& time = out[0].bytes;
  ASSERT_EQ(time.size(), 12u + 7u);
  EXPECT_EQ(Bytes(time.begin() + 14, time.begin() + 17),
            (Bytes{0x45 + 0x33, 0x30 + 0x33, 0x12 + 0x33}));
  out = Send(s, Request(one[0], metersim::kIdMeterDate));
  ASSERT_EQ(out.size(), 1u);
  // Wednesday, 1 May 2024.
  EXPECT_EQ(Bytes(out[0].bytes.begin() + 14, out[0].bytes.begin() + 18),
            (Bytes{0x03 + 0x33, 0x01 + 0x33, 0x05 + 0x33, 0x24 + 0x33}));
}

TEST_F(MeterBus, OnlyTheAddressedMeterAnswers) {
  MeterSession s(meters, faults, 1);
  auto out = Send(s, Request(meters[1], 0x02010100));
  ASSERT_EQ(out.size(), 1u);
  auto f = Decode(out[0].bytes);
  ASSERT_TRUE(f.sound);
  EXPECT_EQ(std::vector<uint8_t>(f.address, f.address + 6),
            Bytes(meters[1].begin(), meters[1].end()));
  EXPECT_EQ(f.control, 0x91);
  EXPECT_EQ(out[0].bytes,
            metersim::BuildAnswer(meters[1], 0x02010100, false,
                                  metersim::ReadMeter(meters[1], 0x02010100, false, kNow)));
  // Another device on the bus, and a meter's own answer passing by: silence.
  EXPECT_TRUE(Send(s, Request(Addr("000000000003"), 0x02010100)).empty());
  EXPECT_TRUE(Send(s, out[0].bytes).empty());
  EXPECT_EQ(s.Counters().ignored, 2u);
}

TEST_F(MeterBus, BroadcastAndWildcardAreAnsweredByTheFirstMeter) {
  MeterSession s(meters, faults, 1);
  for (const char* target : {"999999999999", "AAAAAAAAAAAA"}) {
    const auto out = Send(s, Request(Addr(target), 0x02010100));
    ASSERT_EQ(out.size(), 1u) << target;
    EXPECT_EQ(
        metersim::AddressText(MeterAddress{out[0].bytes[1], out[0].bytes[2], out[0].bytes[3],
                                           out[0].bytes[4], out[0].bytes[5], out[0].bytes[6]}),
        "000000000001");
  }
  // AA stands for any two digits: this one only fits the second meter.
  const auto out = Send(s, Request(Addr("1122AAAAAAAA"), 0x02010100));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes[6], 0x11);
}

TEST_F(MeterBus, ErrorAnswersAndMalformedRequests) {
  MeterSession s(meters, faults, 1);
  auto out = Send(s, Request(meters[0], 0x04000401));
  ASSERT_EQ(out.size(), 1u);
  auto f = Decode(out[0].bytes);
  EXPECT_EQ(f.control, 0xD1);
  EXPECT_EQ(f.data, Bytes{0x02});
  // A function the meters do not offer (write): "Other error".
  out = Send(s, metersim::EncodeFrame(meters[0], 0x14, Bytes{1, 2, 3, 4}));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(Decode(out[0].bytes).control, 0xD4);
  EXPECT_EQ(Decode(out[0].bytes).data, Bytes{0x01});
  // A read without a whole identifier, and a broken checksum: no reply.
  EXPECT_TRUE(Send(s, metersim::EncodeFrame(meters[0], 0x11, Bytes{1, 2})).empty());
  Bytes broken = Request(meters[0], 0x02010100);
  broken[14]++;
  EXPECT_TRUE(Send(s, broken).empty());
  // A 1997 read gets a 1997 answer.
  out = Send(s, Request(meters[0], 0xB611, true));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes[8], 0x81);
}

TEST_F(MeterBus, TwoRequestsInOneBlockGetTwoAnswers) {
  MeterSession s(meters, faults, 1);
  Bytes both = Request(meters[0], 0x02010100);
  const Bytes second = Request(meters[1], 0x02010200);
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(Send(s, both).size(), 2u);
}

TEST_F(MeterBus, SilentMeterNeverAnswers) {
  faults.silent = {meters[0]};
  MeterSession s(meters, faults, 1);
  EXPECT_TRUE(Send(s, Request(meters[0], 0x02010100)).empty());
  EXPECT_TRUE(Send(s, Request(Addr("999999999999"), 0x02010100)).empty());
  EXPECT_EQ(Send(s, Request(meters[1], 0x02010100)).size(), 1u);
  // Its unsolicited frames are skipped too.
  std::vector<OutChunk> out;
  s.Unsolicited(&out);
  s.Unsolicited(&out);
  ASSERT_EQ(out.size(), 2u);
  for (const auto& c : out)
    EXPECT_EQ(c.bytes[6], 0x11);
}

using MeterFaults = SessionFixture;

TEST_F(MeterFaults, EchoSendsTheRequestBackFirst) {
  faults.echo = true;
  faults.delay_ms = 250;
  MeterSession s(meters, faults, 1);
  Bytes request = {0xFE, 0xFE, 0xFE, 0xFE};
  const Bytes frame = Request(meters[0], 0x02010100);
  request.insert(request.end(), frame.begin(), frame.end());
  const auto out = Send(s, request);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes, request);
  EXPECT_EQ(out[0].delay_ms, 0u);
  EXPECT_EQ(out[1].delay_ms, 250u);
  EXPECT_TRUE(Decode(out[1].bytes).sound);
}

TEST_F(MeterFaults, DuplicateSendsTheAnswerTwice) {
  faults.duplicate = true;
  faults.delay_ms = 30;
  MeterSession s(meters, faults, 1);
  const auto out = Send(s, Request(meters[0], 0x02010100));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes, out[1].bytes);
  EXPECT_TRUE(Decode(out[1].bytes).sound);
  EXPECT_EQ(out[1].delay_ms, 30u);
}

TEST_F(MeterFaults, SplitKeepsTheBytesInSmallTimedPieces) {
  faults.split = true;
  faults.delay_ms = 40;
  MeterSession s(meters, faults, 7);
  const auto out = Send(s, Request(meters[0], 0x0001FF00));
  ASSERT_GT(out.size(), 3u);
  EXPECT_EQ(out[0].delay_ms, 40u);
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_GE(out[i].bytes.size(), 1u);
    EXPECT_LE(out[i].bytes.size(), 6u);
    if (i > 0) {
      EXPECT_GE(out[i].delay_ms, 2u);
      EXPECT_LE(out[i].delay_ms, 20u);
    }
  }
  const Bytes all = Join(out);
  EXPECT_EQ(all, metersim::BuildAnswer(meters[0], 0x0001FF00, false,
                                       metersim::ReadMeter(meters[0], 0x0001FF00, false, kNow)));
}

TEST_F(MeterFaults, NoiseAddsGarbageThatNeverStartsAFrame) {
  faults.noise = 0.2;
  MeterSession s(meters, faults, 3);
  const Bytes clean = metersim::BuildAnswer(
      meters[0], 0x02010100, false, metersim::ReadMeter(meters[0], 0x02010100, false, kNow));
  size_t intact = 0, extra = 0;
  for (int i = 0; i < 200; ++i) {
    const Bytes got = Join(Send(s, Request(meters[0], 0x02010100)));
    ASSERT_GE(got.size(), clean.size());
    extra += got.size() - clean.size();
    EXPECT_EQ(std::count(got.begin(), got.end(), 0x68),
              std::count(clean.begin(), clean.end(), 0x68))
        << "garbage holds no start byte";
    // The answer is still there, either whole behind garbage or hit inside.
    if (std::search(got.begin(), got.end(), clean.begin(), clean.end()) != got.end()) ++intact;
  }
  EXPECT_GT(intact, 0u);
  EXPECT_LT(intact, 200u);
  // About one byte in five is garbage.
  const double rate = static_cast<double>(extra) / (200.0 * clean.size() + extra);
  EXPECT_GT(rate, 0.1);
  EXPECT_LT(rate, 0.3);
}

TEST_F(MeterFaults, UnsolicitedFramesAndTheirReply) {
  MeterSession s(meters, faults, 1);
  std::vector<OutChunk> out;
  s.Unsolicited(&out);
  s.Unsolicited(&out);
  ASSERT_EQ(out.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto f = Decode(out[i].bytes);
    ASSERT_TRUE(f.sound);
    EXPECT_EQ(f.control, 0x9F);
    EXPECT_EQ(std::vector<uint8_t>(f.address, f.address + 6),
              Bytes(meters[i].begin(), meters[i].end()));
  }
  // The host's 0x1F reply (12 bytes, no data) is taken without an answer.
  EXPECT_TRUE(Send(s, metersim::EncodeFrame(meters[0], 0x1F, {})).empty());
  EXPECT_EQ(s.Counters().acks, 1u);
  EXPECT_EQ(s.Counters().unsolicited, 2u);
}

TEST_F(MeterFaults, SameSeedSameStream) {
  faults.noise = 0.1;
  faults.split = true;
  MeterSession a(meters, faults, 42), b(meters, faults, 42);
  for (int i = 0; i < 20; ++i) {
    const auto x = Send(a, Request(meters[0], 0x02020100));
    const auto y = Send(b, Request(meters[0], 0x02020100));
    ASSERT_EQ(x.size(), y.size());
    for (size_t k = 0; k < x.size(); ++k) {
      EXPECT_EQ(x[k].bytes, y[k].bytes);
      EXPECT_EQ(x[k].delay_ms, y[k].delay_ms);
    }
  }
}

}  // namespace
