#include "dlt645/value_decoder.h"

#include <gtest/gtest.h>

#include <cmath>

#include "dlt645/frame_test_support.h"
#include "dlt645/func_types.h"
#include "platform/datetime.h"

namespace dlt645 {
namespace {

using testing::Bytes;
using testing::Hex;
using testing::Offset;
using testing::TextSink;
using Lines = std::vector<std::string>;

const TRequestFuncType& Row(uint32_t id, bool is1997 = false) {
  const TRequestFuncType* row = FindFuncType(id, is1997);
  EXPECT_NE(row, nullptr);
  return *row;
}

// Decodes plain value bytes (offset here as a meter sends them).
Lines Decode(const TRequestFuncType& row, const Bytes& plain, uint8_t rate = 0,
             size_t* count = nullptr) {
  TextSink sink;
  const Bytes wire = Offset(plain);
  const size_t n = DecodeValues(wire, row, rate, sink);
  if (count != nullptr) *count = n;
  return sink.Lines;
}

TRequestFuncType Custom(uint8_t value_count, uint8_t value_size, uint8_t format, bool is_signed) {
  return TRequestFuncType{0x01020304, 1,      0,         value_count, 0,
                          value_size, format, is_signed, "X",         "X"};
}

int64_t StampMs(int year, int month, int day, int hour, int minute, int second) {
  int64_t seconds = 0;
  EXPECT_TRUE(platform::TryEncodeDateTime(year, month, day, hour, minute, second, &seconds));
  return seconds * 1000;
}

TEST(ValueDecoder, DecimalsAndSign) {
  EXPECT_EQ(Decode(Row(0x02010100), Hex("32 22")), Lines{"VOLTAGE_A=223.2"});
  EXPECT_EQ(Decode(Row(0x02030000), Hex("00 95 92")), Lines{"INSTANT_ACTIVE_POWER=-12.95"});
  EXPECT_EQ(Decode(Row(0x02030000), Hex("00 95 12")), Lines{"INSTANT_ACTIVE_POWER=12.95"});
  // Unsigned rows keep bit 7 as a digit.
  EXPECT_EQ(Decode(Row(0x02010100), Hex("00 92")), Lines{"VOLTAGE_A=920"});
}

TEST(ValueDecoder, NonDecimalDigitsGiveZeroAndDecodingGoesOn) {
  // Wire byte 32 is FF once reduced.
  EXPECT_EQ(Decode(Row(0x02010100), Hex("FF 22")), Lines{"VOLTAGE_A=0"});
  // "1E05" must not read as a number with an exponent.
  EXPECT_EQ(Decode(Custom(1, 2, 0x04, false), Hex("05 1E")), Lines{"X=0"});
  EXPECT_EQ(Decode(Row(0xB611, true), Hex("0A 02")), Lines{"PHASE_A_VOLTAGE=0i"});
  EXPECT_EQ(Decode(Row(0x0201FF00), Hex("FF FF 01 22 02 22")),
            (Lines{"VOLTAGE1=0", "VOLTAGE2=220.1", "VOLTAGE3=220.2"}));
}

TEST(ValueDecoder, IntegersOfFormatZero) {
  EXPECT_EQ(Decode(Row(0xB611, true), Hex("20 02")), Lines{"PHASE_A_VOLTAGE=220i"});
  EXPECT_EQ(Decode(Custom(1, 2, 0, true), Hex("34 92")), Lines{"X=-1234i"});
  EXPECT_EQ(Decode(Custom(1, 5, 0, false), Hex("45 23 01 00 00")), Lines{"X=12345i"});
  EXPECT_EQ(Decode(Custom(1, 5, 0, false), Hex("47 36 48 47 21")), Lines{"X=2147483647i"});
  // Out of the 32-bit range it does not read as an integer.
  EXPECT_EQ(Decode(Custom(1, 5, 0, false), Hex("48 36 48 47 21")), Lines{"X=0i"});
}

TEST(ValueDecoder, AllRatesUntilTheDataEnds) {
  size_t count = 0;
  EXPECT_EQ(
      Decode(Row(0x0001FF00),
             Hex("00 50 34 12  00 00 00 10  00 00 00 20  00 00 00 30  50 34 12 00"), 0, &count),
      (Lines{"TOTAL_POSITIVE_ACTIVE1=123450", "TOTAL_POSITIVE_ACTIVE2=100000",
             "TOTAL_POSITIVE_ACTIVE3=200000", "TOTAL_POSITIVE_ACTIVE4=300000",
             "TOTAL_POSITIVE_ACTIVE5=1234.5"}));
  EXPECT_EQ(count, 5u);
  // The 1997 all-rates row the same way.
  EXPECT_EQ(Decode(Row(0x901F, true), Hex("00 01 00 00  00 02 00 00"), 0, &count),
            (Lines{"CURRENT_POSITIVE_ACTIVE1=1", "CURRENT_POSITIVE_ACTIVE2=2"}));
}

TEST(ValueDecoder, ValueNames) {
  EXPECT_EQ(Decode(Row(0x00010000), Hex("00 00 00 01"), 2), Lines{"TOTAL_POSITIVE_ACTIVE2=10000"});
  // A row with several values numbers them whatever the rate.
  EXPECT_EQ(Decode(Row(0x0201FF00), Hex("00 22"), 5), Lines{"VOLTAGE1=220"});
  EXPECT_EQ(Decode(Row(0x9010, true), Hex("00 00 00 01"), 18),
            Lines{"CURRENT_POSITIVE_ACTIVE18=10000"});

  std::array<char, 8> small{};
  EXPECT_EQ((TValueName{"VOLTAGE", 12}).Format(small), 7u);
  EXPECT_STREQ(small.data(), "VOLTAGE");
  EXPECT_EQ((TValueName{"V", 12}).Text(), "V12");
}

TEST(ValueDecoder, DemandStampPrecedesItsValue) {
  // 12.3456 kW at 2025-03-14 10:30, wire order minute first.
  struct Sink : TextSink {
    double stamp = -1;
    void OnTimestamp(unsigned k, double date_time) override {
      stamp = date_time;
      TextSink::OnTimestamp(k, date_time);
    }
  } sink;
  const Bytes wire = Offset(Hex("56 34 12  30 10 14 03 25"));
  EXPECT_EQ(DecodeValues(wire, Row(0x01150000), 0, sink), 1u);
  ASSERT_EQ(sink.Lines.size(), 2u);
  EXPECT_EQ(sink.Lines[0].rfind("TIMESTAMP1=", 0), 0u);
  EXPECT_EQ(sink.Lines[1], "DEMAND_CURRENT_PHASE_A_PAE=12.3456");
  EXPECT_EQ(platform::DateTimeToMs(sink.stamp), StampMs(2025, 3, 14, 10, 30, 0));

  // The six-byte form carries seconds.
  const Bytes six = Offset(Hex("56 34 12  59 30 10 14 03 25"));
  Sink sink6;
  EXPECT_EQ(DecodeValues(six, Custom(1, 3, 0x24, false), 0, sink6), 1u);
  EXPECT_EQ(platform::DateTimeToMs(sink6.stamp), StampMs(2025, 3, 14, 10, 30, 59));
}

TEST(ValueDecoder, ImpossibleStampsGiveTheZeroDate) {
  // 31 April cannot be formed: reported, zero date, value still there.
  EXPECT_EQ(Decode(Row(0x01150000), Hex("00 00 01  00 00 31 04 25")),
            (Lines{"Unable to encode date: Invalid argument to date encode", "TIMESTAMP1=0",
                   "DEMAND_CURRENT_PHASE_A_PAE=1"}));
  EXPECT_EQ(Decode(Row(0x01150000), Hex("00 00 01  00 25 30 04 25")),
            (Lines{"Unable to encode date: Invalid argument to time encode", "TIMESTAMP1=0",
                   "DEMAND_CURRENT_PHASE_A_PAE=1"}));
  // Month or day out of range is silent.
  EXPECT_EQ(Decode(Row(0x01150000), Hex("00 00 01  00 00 01 13 25")),
            (Lines{"TIMESTAMP1=0", "DEMAND_CURRENT_PHASE_A_PAE=1"}));
  EXPECT_EQ(Decode(Row(0x01150000), Hex("00 00 01  00 00 00 01 25")),
            (Lines{"TIMESTAMP1=0", "DEMAND_CURRENT_PHASE_A_PAE=1"}));
  // Non-BCD bytes read as high nibble times ten plus low nibble: 0x0F is day 15.
  const char* error = nullptr;
  const double stamp = DecodeTimestamp(Offset(Hex("00 00 0F 01 25")), &error);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(platform::DateTimeToMs(stamp), StampMs(2025, 1, 15, 0, 0, 0));
}

TEST(ValueDecoder, TruncatedAnswersYieldWhatFits) {
  size_t count = 0;
  // The third value has only one of its two bytes.
  EXPECT_EQ(Decode(Row(0x0201FF00), Hex("00 22 01 22 30"), 0, &count),
            (Lines{"VOLTAGE1=220", "VOLTAGE2=220.1", "VOLTAGE3=3"}));
  EXPECT_EQ(count, 3u);
  // A cut-off stamp drops its value and everything after it.
  EXPECT_EQ(Decode(Row(0x0101FF00), Hex("00 00 01  00 00 01 01 25  00 00 02  00 00 01"), 0, &count)
                .size(),
            2u);
  EXPECT_EQ(count, 1u);
  // A signed value cut short takes its sign from the last byte that came.
  EXPECT_EQ(Decode(Row(0x02030000), Hex("00 95")), Lines{"INSTANT_ACTIVE_POWER=-0.15"});
  // No value bytes at all: no value, rather than a zero the meter never sent.
  EXPECT_TRUE(Decode(Row(0x02010100), {}, 0, &count).empty());
  EXPECT_EQ(count, 0u);
}

TEST(ValueDecoder, DecimalsBeyondTheDigitText) {
  // Four digits, five decimals: the separator goes in front of the text.
  EXPECT_EQ(Decode(Custom(1, 2, 0x05, false), Hex("34 12")), Lines{"X=0.1234"});
  // Load-profile rows: one byte, fifteen decimals, a five-byte stamp.
  const Lines lines = Decode(Row(0x06000002), Hex("12  00 00 01 01 25"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "LOAD_PROFILE1=0.12");
}

TEST(ValueDecoder, WideValuesReadExactly) {
  EXPECT_EQ(Decode(Custom(1, 9, 0x02, false), Hex("78 56 34 12 90 78 56 34 12")),
            Lines{"X=" + TextSink::Number(1234567890123456.78)});
  EXPECT_EQ(Decode(Custom(1, 7, 0x0E, false), Hex("78 56 34 12 90 78 56")),
            Lines{"X=" + TextSink::Number(0.56789012345678)});
}

TEST(ValueDecoder, SignOverZeroIsPlainZero) {
  TextSink sink;
  struct Zero : TextSink {
    bool negative = false;
    void OnFloat(const TValueName&, double value) override { negative = std::signbit(value); }
  } zero;
  const Bytes wire = Offset(Hex("00 00 80"));
  EXPECT_EQ(DecodeValues(wire, Row(0x02030000), 0, zero), 1u);
  EXPECT_FALSE(zero.negative);
}

}  // namespace
}  // namespace dlt645
