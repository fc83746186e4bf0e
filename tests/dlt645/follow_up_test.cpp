#include "dlt645/follow_up.h"

#include <gtest/gtest.h>

#include <array>

#include "dlt645/frame_test_support.h"

namespace dlt645 {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::HexText;
using testing::IdData;
using testing::MakeFrame;

const TWireAddress kMeter = AddressFromText("123456789012");
constexpr uint32_t kId = 0x06000001;

TFrameView View(const Bytes& frame) {
  return {frame.data(), frame.size(), 0};
}

// A follow-up answer: identifier, part, sequence number.
Bytes FollowUp(uint8_t control, uint32_t id, const Bytes& part, uint8_t seq) {
  Bytes data = IdData(id, false, part);
  data.push_back(seq);
  return MakeFrame(kMeter, control, data);
}

TEST(FollowUpRequest, LayoutByteForByte) {
  std::array<uint8_t, kFollowUpRequestLength> out{};
  ASSERT_EQ(BuildFollowUpRequest(kMeter, kId, 1, out), 17u);
  EXPECT_EQ(HexText(out.data(), out.size()), "68 12 90 78 56 34 12 68 12 05 34 33 33 39 34 A4 16");
  BuildFollowUpRequest(kMeter, 0x04000101, 255, out);
  const TFrameView view{out.data(), out.size(), 0};
  uint32_t id = 0;
  ASSERT_TRUE(view.Id(false, &id));
  EXPECT_EQ(id, 0x04000101u);
  EXPECT_EQ(view.Data()[4], uint8_t(255 + kWireOffset));
}

TEST(AnswerJoin, JoinsPartsInOrderAndDropsIdentifiersAndSequenceNumbers) {
  std::array<uint8_t, 64> storage{};
  TAnswerJoin join(storage);
  const Bytes first = MakeFrame(kMeter, 0xB1, IdData(kId, false, Hex("01 02")));
  ASSERT_EQ(join.Start(View(first), kId), TJoinStep::More);
  EXPECT_EQ(join.NextSeq(), 1);

  // Another identifier, a request (our echo), a plain read answer and a
  // later frame are not taken; the same frame twice is taken once.
  EXPECT_EQ(join.Add(View(FollowUp(0xB2, 0x06000002, Hex("09"), 1))), TJoinStep::Foreign);
  EXPECT_EQ(join.Add(View(FollowUp(0x12, kId, Hex("09"), 1))), TJoinStep::Foreign);
  EXPECT_EQ(join.Add(View(first)), TJoinStep::Foreign);
  EXPECT_EQ(join.Add(View(FollowUp(0xB2, kId, Hex("09"), 2))), TJoinStep::OutOfOrder);
  EXPECT_EQ(join.Add(View(FollowUp(0xB2, kId, Hex("09"), 0))), TJoinStep::OutOfOrder);
  const Bytes one = FollowUp(0xB2, kId, Hex("03 04 05"), 1);
  EXPECT_EQ(join.Add(View(one)), TJoinStep::More);
  EXPECT_EQ(join.Add(View(one)), TJoinStep::Repeated);
  EXPECT_EQ(join.NextSeq(), 2);
  // A part may be empty.
  EXPECT_EQ(join.Add(View(FollowUp(0xB2, kId, {}, 2))), TJoinStep::More);
  EXPECT_EQ(join.Add(View(FollowUp(0x92, kId, Hex("06"), 3))), TJoinStep::Done);
  EXPECT_TRUE(join.Complete());
  EXPECT_EQ(join.FollowUps(), 3u);
  EXPECT_EQ(join.Data().size(), 6u);
  EXPECT_EQ(HexText(join.Data().data(), join.Data().size()), "34 35 36 37 38 39");
  // Once done, nothing more is taken.
  EXPECT_EQ(join.Add(View(FollowUp(0x92, kId, Hex("07"), 4))), TJoinStep::Foreign);

  // A first answer without the bit is complete on its own.
  EXPECT_EQ(join.Start(View(MakeFrame(kMeter, 0x91, IdData(kId, false, Hex("0A")))), kId),
            TJoinStep::Done);
  EXPECT_EQ(join.Data().size(), 1u);
}

TEST(AnswerJoin, ErrorsOverflowAndTooManyFramesEndTheJoin) {
  std::array<uint8_t, 8> storage{};
  TAnswerJoin join(storage);
  const Bytes first = MakeFrame(kMeter, 0xB1, IdData(kId, false, Hex("01 02 03")));
  ASSERT_EQ(join.Start(View(first), kId), TJoinStep::More);
  EXPECT_EQ(join.Add(View(MakeFrame(kMeter, 0xD2, Hex("02")))), TJoinStep::ErrorAnswer);
  EXPECT_EQ(join.ErrorByte(), 0x02);
  EXPECT_FALSE(join.Complete());
  EXPECT_EQ(join.Add(View(FollowUp(0x92, kId, Hex("04"), 1))), TJoinStep::Foreign);

  ASSERT_EQ(join.Start(View(first), kId), TJoinStep::More);
  EXPECT_EQ(join.Add(View(FollowUp(0xB2, kId, Hex("04 05 06 07 08"), 1))), TJoinStep::More);
  EXPECT_EQ(join.Add(View(FollowUp(0x92, kId, Hex("09"), 2))), TJoinStep::Overflow);
  EXPECT_EQ(join.Data().size(), 8u);
  EXPECT_FALSE(join.Complete());

  // A meter that never stops: 255 follow-up frames and still more.
  std::array<uint8_t, 4096> large{};
  TAnswerJoin endless(large);
  ASSERT_EQ(endless.Start(View(first), kId), TJoinStep::More);
  for (unsigned seq = 1; seq < kMaxFollowUpSeq; ++seq)
    ASSERT_EQ(endless.Add(View(FollowUp(0xB2, kId, Hex("00"), static_cast<uint8_t>(seq)))),
              TJoinStep::More);
  EXPECT_EQ(endless.Add(View(FollowUp(0xB2, kId, Hex("00"), 255))), TJoinStep::TooManyFrames);
  EXPECT_EQ(endless.FollowUps(), 255u);
  EXPECT_EQ(endless.Add(View(FollowUp(0x92, kId, Hex("00"), 0))), TJoinStep::Foreign);
}

}  // namespace
}  // namespace dlt645
