#include "dlt645/load_profile.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "dlt645/frame_test_support.h"

namespace dlt645 {
namespace {

using testing::Append;
using testing::Bytes;
using testing::Hex;
using testing::HexText;
using testing::Offset;

const TWireAddress kMeter = AddressFromText("123456789012");

// The record of the notes' example, before the wire offset.
const Bytes kWorkedRecord =
    Hex("A0 A0 62 15 00 01 05 24 01 22 98 21 05 22 34 12 00 00 12 00 00 11 00 00 50 AA 23 81 00 00 "
        "27 00 01 27 00 22 27 00 00 10 00 00 03 00 50 03 00 50 03 00 AA 85 09 90 09 80 09 85 09 AA "
        "56 34 12 00 00 00 00 00 34 12 00 00 00 00 00 00 AA 00 10 00 00 00 00 00 00 00 00 00 00 34 "
        "02 00 00 AA 00 80 00 00 10 00 AA 84 E5");

// A record around class areas given plain, separators included; the length
// byte counts to the last AA (plus extra), the checksum is computed.
Bytes Record(const std::string& time, const std::string& classes, uint8_t extra = 0,
             uint8_t start = kLoadStart) {
  Bytes body = Hex(time);
  Append(body, Hex(classes));
  Bytes out{start, start, static_cast<uint8_t>(body.size() + extra)};
  Append(out, body);
  unsigned sum = 0;
  for (uint8_t b : out)
    sum += b;
  out.push_back(static_cast<uint8_t>(sum));
  out.push_back(kLoadEnd);
  return out;
}

const std::string kClass1 = "01 22 98 21 05 22 34 12 00 00 12 00 00 11 00 00 50";
const std::string kClass2 =
    "23 81 00 00 27 00 01 27 00 22 27 00 00 10 00 00 03 00 50 03 00 50 03 00";
const std::string kClass3 = "85 09 90 09 80 09 85 09";

struct Collect final : ILoadRecordSink {
  std::vector<TLoadRecord> Records;
  std::vector<std::string> Skipped;  // "offset+length reason"

  void OnRecord(const TLoadRecord& record) override { Records.push_back(record); }
  void OnSkipped(size_t offset, size_t length, TLoadSkip reason) override {
    Skipped.push_back(std::to_string(offset) + "+" + std::to_string(length) + " " +
                      std::string(LoadSkipText(reason)));
  }
};

// Walks an exact-size wire copy, so that a read past the end is caught.
Collect Walk(const Bytes& plain, uint8_t load_class = kLoadClassAll) {
  const Bytes wire = Offset(plain);
  Collect sink;
  const size_t records = WalkLoadRecords(wire, load_class, sink);
  EXPECT_EQ(records, sink.Records.size());
  return sink;
}

TEST(LoadProfileRequest, LayoutsByteForByte) {
  std::array<uint8_t, kMaxLoadProfileRequestLength> out{};
  const TLoadTime at{15, 0, 1, 5, 24};
  ASSERT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::AtTime, 0, 2, &at, out), 22u);
  EXPECT_EQ(HexText(out.data(), 22),
            "68 12 90 78 56 34 12 68 11 0A 34 33 33 39 35 48 33 34 38 57 E7 16");
  // The count goes in BCD; the earliest and most recent blocks carry only it.
  ASSERT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::Latest, 3, 12, nullptr, out), 17u);
  EXPECT_EQ(HexText(out.data(), 17), "68 12 90 78 56 34 12 68 11 05 35 33 36 39 45 B8 16");
  ASSERT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::Earliest, 6, 1, &at, out), 17u);
  const TFrameView view{out.data(), 17, 0};
  uint32_t id = 0;
  TLoadBlock block{};
  uint8_t load_class = 0;
  ASSERT_TRUE(view.Id(false, &id));
  ASSERT_TRUE(SplitLoadProfileId(id, &block, &load_class));
  EXPECT_EQ(block, TLoadBlock::Earliest);
  EXPECT_EQ(load_class, 6);
  EXPECT_EQ(id, LoadProfileId(TLoadBlock::Earliest, 6));
  EXPECT_FALSE(SplitLoadProfileId(0x06070002, &block, &load_class));
  EXPECT_FALSE(SplitLoadProfileId(0x06000003, &block, &load_class));
  EXPECT_FALSE(SplitLoadProfileId(0x04000101, &block, &load_class));

  const TLoadTime not_a_date{0, 0, 30, 2, 24};
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::AtTime, 0, 1, &not_a_date, out), 0u);
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::AtTime, 0, 1, nullptr, out), 0u);
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::Latest, 7, 1, nullptr, out), 0u);
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::Latest, 0, 0, nullptr, out), 0u);
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock::Latest, 0, 100, nullptr, out), 0u);
  EXPECT_EQ(BuildLoadProfileRequest(kMeter, TLoadBlock{3}, 0, 1, nullptr, out), 0u);
}

TEST(LoadProfileRecord, WorkedRecordDecodesValueForValue) {
  const Collect sink = Walk(kWorkedRecord);
  ASSERT_EQ(sink.Records.size(), 1u);
  EXPECT_TRUE(sink.Skipped.empty());
  const TLoadRecord& r = sink.Records[0];
  EXPECT_EQ(r.Length, kFullLoadRecordLength);
  EXPECT_EQ(r.Time, (TLoadTime{15, 0, 1, 5, 24}));
  int64_t seconds = 0;
  ASSERT_TRUE(LoadTimeSeconds(r.Time, &seconds));
  TLoadTime back;
  ASSERT_TRUE(LoadTimeFromSeconds(seconds + 59, &back));
  EXPECT_EQ(back, r.Time);
  EXPECT_DOUBLE_EQ(LoadTimeDateTime(r.Time), 45413 + 15.0 / 1440);
  EXPECT_EQ(r.Classes, 0x3F);
  EXPECT_EQ(r.Present, (1u << kLoadValueCount) - 1);

  using V = TLoadValue;
  const std::vector<std::pair<V, double>> expected{
      {V::VoltageA, 220.1},
      {V::VoltageB, 219.8},
      {V::CurrentA, 1.234},
      {V::CurrentC, 1.1},
      {V::Frequency, 50.0},
      {V::ActivePowerTotal, 0.8123},
      {V::ActivePowerC, 0.2722},
      {V::ReactivePowerTotal, 0.1},
      {V::PfTotal, 0.985},
      {V::PfB, 0.98},
      {V::ForwardActiveEnergy, 1234.56},
      {V::CombinedReactive1Energy, 12.34},
      {V::ReactiveEnergyQ1, 10.0},
      {V::ReactiveEnergyQ4, 2.34},
      {V::ActiveDemand, 0.8},
      {V::ReactiveDemand, 0.1},
  };
  for (const auto& [value, number] : expected)
    EXPECT_DOUBLE_EQ(r.Value(value), number) << LoadValueInfo(value).Name;
  EXPECT_EQ(LoadValueInfo(V::PfTotal).Name, "LP_PF_TOTAL");

  // Built from its classes the record comes out byte for byte, and a
  // length byte that also counts the checksum and E5 reads the same.
  const std::string classes =
      kClass1 + " AA 23 81 00 00 27 00 01 27 00 22 27 00 00 10 00 00 03 00 50 03 00 50 03 00 AA " +
      kClass3 +
      " AA 56 34 12 00 00 00 00 00 34 12 00 00 00 00 00 00 AA 00 10 00 00 00 00 00 00 00 00 00 "
      "00 34 02 00 00 AA 00 80 00 00 10 00 AA";
  EXPECT_EQ(Record("15 00 01 05 24", classes), kWorkedRecord);
  const Collect longer = Walk(Record("15 00 01 05 24", classes, 2));
  ASSERT_EQ(longer.Records.size(), 1u);
  EXPECT_EQ(longer.Records[0].Raw, r.Raw);
}

TEST(LoadProfileRecord, AbsentClassesNoValuesSignsAndPerClassReads) {
  // Class 2 and 5 absent, Ub and the forward energy without a value, signs
  // on current, power factor and combined reactive energy but not on demand.
  const Bytes record =
      Record("45 23 31 12 25",
             "01 22 FF FF 05 22 34 12 80 00 12 00 00 11 00 00 50 AA AA 85 89 90 09 80 09 85 09 "
             "AA FF FF FF FF 00 00 00 00 34 12 00 80 00 00 00 00 AA AA 00 00 80 00 10 00 AA");
  Collect sink = Walk(record);
  ASSERT_EQ(sink.Records.size(), 1u) << (sink.Skipped.empty() ? "" : sink.Skipped[0]);
  const TLoadRecord& r = sink.Records[0];
  EXPECT_EQ(r.Time, (TLoadTime{45, 23, 31, 12, 25}));
  EXPECT_EQ(r.Classes, 0b101101);
  EXPECT_FALSE(r.Has(TLoadValue::VoltageB));
  EXPECT_FALSE(r.Has(TLoadValue::ActivePowerTotal));
  EXPECT_FALSE(r.Has(TLoadValue::ForwardActiveEnergy));
  EXPECT_TRUE(r.Has(TLoadValue::ReverseActiveEnergy));
  EXPECT_DOUBLE_EQ(r.Value(TLoadValue::CurrentA), -1.234);
  EXPECT_DOUBLE_EQ(r.Value(TLoadValue::PfTotal), -0.985);
  EXPECT_DOUBLE_EQ(r.Value(TLoadValue::CombinedReactive1Energy), -12.34);
  EXPECT_DOUBLE_EQ(r.Value(TLoadValue::ActiveDemand), 80.0);

  // A per-class read with or without the other classes' separators.
  for (const std::string& classes :
       {"AA AA " + kClass3 + " AA AA AA AA", kClass3 + " AA", "AA AA " + kClass3 + " AA"}) {
    const Collect one = Walk(Record("00 00 01 01 24", classes), 3);
    ASSERT_EQ(one.Records.size(), 1u) << classes;
    EXPECT_EQ(one.Records[0].Classes, 0b100) << classes;
    EXPECT_EQ(one.Records[0].Present, 0xFu << 15) << classes;
  }
  // The same record read as all classes lacks separators; a class read
  // holding another class's fields does not fit either.
  EXPECT_EQ(Walk(Record("00 00 01 01 24", kClass3 + " AA")).Skipped,
            std::vector<std::string>{"0+19 record separators missing or doubled"});
  EXPECT_EQ(Walk(Record("00 00 01 01 24", kClass1 + " AA"), 3).Records.size(), 0u);
}

TEST(LoadProfileRecord, BadRecordsAreSkippedAndTheWalkResynchronises) {
  const Bytes good = Record("30 10 02 03 24", "AA AA " + kClass3 + " AA AA AA AA");
  const auto with_bad = [&](const Bytes& bad) {
    Bytes data = good;
    Append(data, bad);
    Append(data, good);
    return data;
  };
  const std::string offset = std::to_string(good.size()) + "+";
  const auto skipped_as = [&](const Bytes& bad, const std::string& reason) {
    const Collect sink = Walk(with_bad(bad));
    EXPECT_EQ(sink.Records.size(), 2u) << reason;
    EXPECT_EQ(sink.Skipped,
              std::vector<std::string>{offset + std::to_string(bad.size()) + " " + reason});
  };

  Bytes checksum = kWorkedRecord;
  checksum[101] ^= 1;
  skipped_as(checksum, "record checksum wrong");
  Bytes no_end = kWorkedRecord;
  no_end[102] = 0x16;
  skipped_as(no_end, "record end marker missing");
  skipped_as(Record("15 24 01 05 24", kClass1 + " AA AA AA AA AA AA"), "record time is not a date");
  skipped_as(Record("15 00 29 02 23", kClass1 + " AA AA AA AA AA AA"), "record time is not a date");
  skipped_as(Record("15 00 01 05 24", kClass1 + " AA AA AA AA AA"),
             "record separators missing or doubled");
  skipped_as(Record("15 00 01 05 24", kClass1 + " AA AA AA AA AA AA AA"),
             "record separators missing or doubled");
  skipped_as(Record("15 00 01 05 24", kClass1 + " AA AA " + kClass2 + " AA AA AA AA AA"),
             "record separators missing or doubled");
  skipped_as(Record("15 00 01 05 24", kClass1 + " AA AA AA AA AA AA", 0, kLoadInvalidStart),
             "block marked invalid");
  skipped_as(Hex("A0 A0 04 00 00 01 01 24 AA 00 E5"), "record separators missing or doubled");

  // Garbage in front and behind, and a length running past the data.
  Bytes data = Hex("00 A0 11");
  Append(data, good);
  Append(data, Hex("A0 A0 FF 00 00 01 01 24 AA"));
  const Collect sink = Walk(data);
  ASSERT_EQ(sink.Records.size(), 1u);
  EXPECT_EQ(sink.Skipped, (std::vector<std::string>{"0+3 no record start",
                                                    std::to_string(3 + good.size()) +
                                                        "+9 record length runs past the data"}));

  // Cut anywhere, every record before the cut is still delivered and
  // nothing past the end is read.
  const Bytes two = with_bad({});
  for (size_t n = 0; n <= two.size(); ++n) {
    const Collect cut = Walk(Bytes(two.begin(), two.begin() + static_cast<long>(n)));
    EXPECT_EQ(cut.Records.size(), n / good.size()) << n;
    if (n % good.size() != 0) {
      EXPECT_FALSE(cut.Skipped.empty()) << n;
    }
  }
}

}  // namespace
}  // namespace dlt645
