#include "dlt645/frame_codec.h"

#include <gtest/gtest.h>

#include <array>

#include "dlt645/frame_test_support.h"
#include "dlt645/func_types.h"

namespace dlt645 {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::HexText;
using testing::IdData;
using testing::MakeFrame;

const TWireAddress kDevice1 = AddressFromText("000000000001");

std::string Request(const TWireAddress& address, uint32_t id, bool is1997) {
  std::array<uint8_t, kMaxReadRequestLength> out{};
  const size_t n = BuildReadRequest(address, id, is1997, FindFuncType(id, is1997), out);
  EXPECT_EQ(n, ReadRequestLength(is1997, FindFuncType(id, is1997)));
  return HexText(out.data(), n);
}

TEST(FrameChecksum, SumsAllButTheLastTwoBytesAndStoresOnRequest) {
  Bytes frame = Hex("68 01 00 00 00 00 00 68 11 04 33 34 34 35 00 16");
  EXPECT_EQ(FrameChecksum(frame.data(), frame.size(), false), 0xB6);
  EXPECT_EQ(frame[14], 0x00);
  EXPECT_EQ(FrameChecksum(frame.data(), frame.size(), true), 0xB6);
  EXPECT_EQ(frame[14], 0xB6);
  EXPECT_EQ(frame[15], 0x16);

  Bytes tiny = Hex("FF FF");
  EXPECT_EQ(FrameChecksum(tiny.data(), tiny.size(), true), 0);
  EXPECT_EQ(tiny, Hex("FF FF"));
  Bytes three = Hex("FF 00 16");
  EXPECT_EQ(FrameChecksum(three.data(), three.size(), true), 0xFF);
  EXPECT_EQ(three, Hex("FF FF 16"));
}

TEST(FrameChecksum, AgreesWithAPlainSumAtEveryLength) {
  Bytes bytes(5000);
  uint32_t seed = 7;
  for (auto& b : bytes)
    b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 300; ++length)
    lengths.push_back(length);
  // Long inputs, where partial sums must not overflow into each other.
  for (size_t length : {1030, 1031, 1033, 1040, 4099, 5000})
    lengths.push_back(length);
  for (size_t length : lengths) {
    unsigned sum = 0;
    for (size_t i = 0; i + 2 < length; ++i)
      sum += bytes[i];
    // Exact-size copy: the sum must not read the two bytes it leaves out
    // beyond the end either.
    const Bytes exact(bytes.begin(), bytes.begin() + static_cast<long>(length));
    EXPECT_EQ(FrameChecksum(exact.data(), length), static_cast<uint8_t>(sum)) << length;
  }
}

TEST(FrameAddress, TextIsUpperCaseMostSignificantFirst) {
  const Bytes wire = Hex("66 55 44 33 22 11");
  EXPECT_EQ(AddressText(wire.data()), "112233445566");
  const Bytes hex = Hex("EF CD AB 09 00 AA");
  EXPECT_EQ(AddressText(hex.data()), "AA0009ABCDEF");
  EXPECT_EQ(AddressFromText("AA0009ABCDEF"), (TWireAddress{0xEF, 0xCD, 0xAB, 0x09, 0x00, 0xAA}));
  EXPECT_EQ(AddressFromText("aa0009abcdef"), (TWireAddress{0xEF, 0xCD, 0xAB, 0x09, 0x00, 0xAA}));
}

TEST(FrameAddress, UnreadablePairsGiveZero) {
  EXPECT_EQ(AddressFromText("11G23344556-"), (TWireAddress{0x00, 0x55, 0x44, 0x33, 0x00, 0x11}));
  EXPECT_EQ(AddressFromText("1122"), (TWireAddress{0, 0, 0, 0, 0x22, 0x11}));
  EXPECT_EQ(AddressFromText(""), (TWireAddress{}));
}

TEST(FrameAddress, WildcardAndBroadcastTextsAreExact) {
  EXPECT_TRUE(IsWildcardDevice("*"));
  EXPECT_TRUE(IsWildcardDevice("AAAAAAAAAAAA"));
  for (const char* text : {"aaaaaaaaaaaa", "**", " *", "AAAAAAAAAAA", "AAAAAAAAAAAAA", ""})
    EXPECT_FALSE(IsWildcardDevice(text)) << text;
  EXPECT_TRUE(IsBroadcastDevice("999999999999"));
  for (const char* text : {"99999999999", "9999999999999", "*", "099999999999"})
    EXPECT_FALSE(IsBroadcastDevice(text)) << text;
}

TEST(FrameAddress, RequestAddressFollowsTheLearnedAddress) {
  const TWireAddress learned{0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  // No meter answers the all-zero address; the protocol wildcard reaches any.
  EXPECT_EQ(RequestAddress("*", "00000000000*", {}, false), kWildcardAddress);
  EXPECT_EQ(RequestAddress("AAAAAAAAAAAA", "AAAAAAAAAAAA", {}, false), kWildcardAddress);
  EXPECT_EQ(RequestAddress("*", "00000000000*", learned, true), learned);
  EXPECT_EQ(RequestAddress("999999999999", "999999999999", {}, false),
            (TWireAddress{0x99, 0x99, 0x99, 0x99, 0x99, 0x99}));
  EXPECT_EQ(RequestAddress("999999999999", "999999999999", learned, true), learned);
  EXPECT_EQ(RequestAddress("1", "000000000001", learned, true), kDevice1);
}

TEST(ReadRequest, LayoutsByteForByte) {
  EXPECT_EQ(Request(kDevice1, 0x02010100, false),
            "68 01 00 00 00 00 00 68 11 04 33 34 34 35 B6 16");
  EXPECT_EQ(Request(kDevice1, 0xB611, true), "68 01 00 00 00 00 00 68 01 02 44 E9 01 16");
  EXPECT_EQ(Request(kDevice1, 0x06000002, false),
            "68 01 00 00 00 00 00 68 11 05 35 33 33 39 34 EF 16");
  // A rate folded into the identifier goes out as is.
  EXPECT_EQ(Request(kDevice1, 0x00010200, false),
            "68 01 00 00 00 00 00 68 11 04 33 35 34 33 B5 16");
}

TEST(ReadRequest, WildcardBeforeAndAfterLearning) {
  std::array<uint8_t, kMaxReadRequestLength> out{};
  const size_t n = BuildReadRequest(RequestAddress("*", "00000000000*", {}, false), 0x02010100,
                                    false, nullptr, out);
  EXPECT_EQ(HexText(out.data(), n), "68 AA AA AA AA AA AA 68 11 04 33 34 34 35 B1 16");
}

TEST(ReadRequest, UnsolicitedReplyAndPreamble) {
  const Bytes address = Hex("66 55 44 33 22 11");
  std::array<uint8_t, kUnsolicitedReplyLength> out{};
  BuildUnsolicitedReply(address.data(), out);
  EXPECT_EQ(HexText(out.data(), out.size()), "68 66 55 44 33 22 11 68 1F 00 54 16");
  EXPECT_EQ(HexText(kWakeUpPreamble.data(), kWakeUpPreamble.size()), "FE FE FE FE");
}

TEST(FrameBuild, RefusesWhatDoesNotFit) {
  Bytes data(256);
  Bytes out(400);
  EXPECT_EQ(BuildFrame(kDevice1, 0x91, data, out), 0u);
  data.resize(255);
  EXPECT_EQ(BuildFrame(kDevice1, 0x91, data, out), kMaxFrameLength);
  EXPECT_EQ(BuildFrame(kDevice1, 0x91, data, std::span<uint8_t>(out.data(), 266)), 0u);
}

TEST(FrameClass, ControlCodes) {
  EXPECT_EQ(ClassifyControl(0x91), TFrameClass::Answer);
  EXPECT_EQ(ClassifyControl(0x81), TFrameClass::Answer);
  EXPECT_EQ(ClassifyControl(0xB1), TFrameClass::Answer);
  EXPECT_EQ(ClassifyControl(0xD1), TFrameClass::ErrorAnswer);
  EXPECT_EQ(ClassifyControl(0xC1), TFrameClass::ErrorAnswer);
  // 0x9F is the only unsolicited code; 0xDF is an error answer like any other.
  EXPECT_EQ(ClassifyControl(0x9F), TFrameClass::Unsolicited);
  EXPECT_EQ(ClassifyControl(0xDF), TFrameClass::ErrorAnswer);
  EXPECT_EQ(ClassifyControl(0x11), TFrameClass::Outgoing);
  EXPECT_EQ(ClassifyControl(0x1F), TFrameClass::Outgoing);
  EXPECT_EQ(ClassifyControl(0x51), TFrameClass::Outgoing);
}

TEST(FrameMatch, FunctionAndIdentifierOfTheGeneration) {
  const Bytes answer2007 = MakeFrame(kDevice1, 0x91, IdData(0x02010100, false, Hex("32 22")));
  const TFrameView view{answer2007.data(), answer2007.size(), 0};
  EXPECT_TRUE(FrameCarriesId(view, false, 0x02010100));
  EXPECT_FALSE(FrameCarriesId(view, false, 0x02010200));
  // The low two bytes happen to be 0x0100: a 1997 request with that id must
  // still not take a 2007 answer.
  EXPECT_FALSE(FrameCarriesId(view, true, 0x0100));

  const Bytes answer1997 = MakeFrame(kDevice1, 0x81, IdData(0xB611, true, Hex("20 02")));
  const TFrameView view97{answer1997.data(), answer1997.size(), 0};
  EXPECT_TRUE(FrameCarriesId(view97, true, 0xB611));
  EXPECT_FALSE(FrameCarriesId(view97, false, 0xB611));
}

TEST(FrameMatch, DataShorterThanTheIdentifierNeverMatches) {
  // Two data bytes 00 00 would read as identifier 0 with whatever follows.
  const Bytes shorter = MakeFrame(kDevice1, 0x91, Hex("00 00"));
  const TFrameView view{shorter.data(), shorter.size(), 0};
  EXPECT_FALSE(FrameCarriesId(view, false, 0x00000000));
  EXPECT_TRUE(AnswerValues(view, false).empty());

  const Bytes empty = MakeFrame(kDevice1, 0x81, {});
  const TFrameView empty_view{empty.data(), empty.size(), 0};
  EXPECT_FALSE(FrameCarriesId(empty_view, true, 0));
  uint32_t id = 0xFFFF;
  EXPECT_FALSE(empty_view.Id(true, &id));
  EXPECT_EQ(id, 0xFFFFu);
  EXPECT_TRUE(AnswerValues(empty_view, true).empty());
}

TEST(FrameErrors, MessagesOfTheErrorBits) {
  EXPECT_EQ(ErrorBitsText(0x06), "No request data, Access denied");
  EXPECT_EQ(ErrorBitsText(0x00), "");
  EXPECT_EQ(ErrorBitsText(0x80), "");
  EXPECT_EQ(ErrorBitsText(0x41), "Other error, Exceed rate number");

  const Bytes error = MakeFrame(kDevice1, 0xD1, Hex("06"));
  EXPECT_EQ(FrameErrorText({error.data(), error.size(), 0}), "No request data, Access denied");
  const Bytes echo = MakeFrame(kDevice1, 0x11, IdData(0x02010100, false, {}));
  EXPECT_EQ(FrameErrorText({echo.data(), echo.size(), 0}), "Outgoing data received!");
  // An error answer without its error byte must not read the checksum.
  const Bytes bare = MakeFrame(kDevice1, 0xD1, {});
  EXPECT_EQ(TFrameView({bare.data(), bare.size(), 0}).ErrorByte(), 0);
  EXPECT_EQ(FrameErrorText({bare.data(), bare.size(), 0}), "");
}

}  // namespace
}  // namespace dlt645
