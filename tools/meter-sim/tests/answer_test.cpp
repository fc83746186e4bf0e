#include <gtest/gtest.h>

#include <cmath>

#include "answer_decoder.h"
#include "meter_model.h"
#include "platform/datetime.h"
#include "wire.h"

namespace {

using metersim::MeterAddress;
using metersim::ReadMeter;
using metersim::SimReading;
using metersim::SimTime;
using metersim_test::DecodeAnswer;
using metersim_test::DecodedFrame;

MeterAddress Addr(const char* text) {
  MeterAddress a{};
  EXPECT_TRUE(metersim::ParseAddress(text, &a)) << text;
  return a;
}

SimTime At(const char* text) {
  SimTime t = 0;
  EXPECT_TRUE(metersim::ParseSimTime(text, &t)) << text;
  return t;
}

DecodedFrame Answer(const MeterAddress& a, uint32_t id, bool is1997, SimTime t,
                    SimReading* reading_out = nullptr) {
  const SimReading reading = ReadMeter(a, id, is1997, t);
  if (reading_out) *reading_out = reading;
  return DecodeAnswer(metersim::BuildAnswer(a, id, is1997, reading), reading.row, is1997);
}

// Every identifier a plug-in may ask for: each row, and the rows with rates
// once per rate.
std::vector<uint32_t> AllIds(bool is1997) {
  std::vector<uint32_t> ids;
  for (const TRequestFuncType& row : FuncTypeTable(is1997)) {
    ids.push_back(row.Id);
    if (row.RateCount)
      for (uint8_t r = 1; r <= metersim::kRateCount; ++r)
        ids.push_back(FoldRate(row, r));
  }
  return ids;
}

void ExpectStampEquals(const metersim_test::DecodedStamp& s, SimTime expected, uint32_t id) {
  int64_t seconds = 0;
  ASSERT_TRUE(
      platform::TryEncodeDateTime(s.year, s.month, s.day, s.hour, s.minute, s.second, &seconds))
      << std::hex << id;
  EXPECT_EQ(seconds, expected) << std::hex << id;
}

// The heart of it: every answer of both tables decodes, by the protocol's
// own rules, to exactly the values the model promises, for importing and
// exporting meters (signs) at two times of the year.
TEST(MeterAnswer, EveryIdentifierDecodesToTheModelsValues) {
  for (const char* address : {"000000000001", "112233445566"}) {
    for (const char* when : {"2024-02-29T23:59:58", "2026-07-15T08:07:30"}) {
      const MeterAddress a = Addr(address);
      const SimTime t = At(when);
      for (bool is1997 : {false, true}) {
        for (uint32_t id : AllIds(is1997)) {
          SimReading reading;
          const DecodedFrame f = Answer(a, id, is1997, t, &reading);
          ASSERT_TRUE(f.sound) << std::hex << id;
          ASSERT_EQ(reading.error, 0) << std::hex << id;
          EXPECT_EQ(f.control, is1997 ? 0x81 : 0x91);
          EXPECT_EQ(f.id, id);
          EXPECT_EQ(std::vector<uint8_t>(f.address, f.address + 6),
                    std::vector<uint8_t>(a.begin(), a.end()));
          ASSERT_EQ(f.values.size(), reading.values.size()) << std::hex << id;
          ASSERT_FALSE(f.values.empty()) << std::hex << id;
          for (size_t k = 0; k < f.values.size(); ++k) {
            const auto& got = f.values[k];
            const auto& want = reading.values[k];
            EXPECT_EQ(got.value, want.Value()) << std::hex << id << " value " << k + 1;
            EXPECT_EQ(got.has_stamp, want.has_stamp) << std::hex << id;
            if (got.has_stamp) ExpectStampEquals(got.stamp, want.stamp, id);
            for (char c : got.digits)
              EXPECT_TRUE(c >= '0' && c <= '9') << std::hex << id;
          }
        }
      }
    }
  }
}

TEST(MeterAnswer, KnownLayouts) {
  const MeterAddress a = Addr("000000000001");
  const SimTime t = At("2024-05-01T12:00:00");
  // Voltage A: the identifier, then XXX.X in two bytes.
  SimReading r = ReadMeter(a, 0x02010100, false, t);
  auto frame = metersim::BuildAnswer(a, 0x02010100, false, r);
  ASSERT_EQ(frame.size(), 18u);
  EXPECT_EQ(frame[8], 0x91);
  EXPECT_EQ(frame[9], 6);
  EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 10, frame.begin() + 14),
            (std::vector<uint8_t>{0x33, 0x34, 0x34, 0x35}));
  // Demand: three value bytes then a five-byte stamp, per value.
  r = ReadMeter(a, 0x0101FF00, false, t);
  frame = metersim::BuildAnswer(a, 0x0101FF00, false, r);
  EXPECT_EQ(frame[9], 4 + 5 * (3 + 5));
  // 1997 all rates: total and four rates of four bytes.
  r = ReadMeter(a, 0x901F, true, t);
  frame = metersim::BuildAnswer(a, 0x901F, true, r);
  EXPECT_EQ(frame[8], 0x81);
  EXPECT_EQ(frame[9], 2 + 5 * 4);
}

TEST(MeterAnswer, UnknownIdentifiersAndRatesGetErrorAnswers) {
  const MeterAddress a = Addr("000000000001");
  const SimTime t = At("2024-05-01T12:00:00");
  struct Case {
    uint32_t id;
    bool is1997;
    uint8_t control;
    uint8_t error;
  } cases[] = {
      {0x04000101, false, 0xD1, 0x02},  // not in the table
      {0x02010400, false, 0xD1, 0x02},  // DI1 on a row without rates
      {0x00010500, false, 0xD1, 0x40},  // rate 5 of a four-rate meter
      {0xC030, true, 0xC1, 0x02},      {0x9015, true, 0xC1, 0x40},
  };
  for (const Case& c : cases) {
    const auto frame = metersim::BuildAnswer(a, c.id, c.is1997, ReadMeter(a, c.id, c.is1997, t));
    const DecodedFrame f = DecodeAnswer(frame, nullptr, c.is1997);
    ASSERT_TRUE(f.sound);
    EXPECT_EQ(f.control, c.control) << std::hex << c.id;
    ASSERT_EQ(f.data.size(), 1u);
    EXPECT_EQ(f.data[0], c.error) << std::hex << c.id;
  }
}

TEST(MeterModel, RealisticInstantaneousValues) {
  const SimTime t = At("2025-03-10T10:00:00");
  for (const char* address : {"000000000001", "000000000002", "123456789013"}) {
    const MeterAddress a = Addr(address);
    const bool exporting = metersim::IsExporting(a);
    const auto v = ReadMeter(a, 0x0201FF00, false, t).values;
    ASSERT_EQ(v.size(), 3u);
    for (const auto& x : v) {
      EXPECT_GT(x.Value(), 210.0);
      EXPECT_LT(x.Value(), 230.0);
    }
    const auto current = ReadMeter(a, 0x0202FF00, false, t).values;
    ASSERT_EQ(current.size(), 3u);
    for (const auto& x : current)
      EXPECT_EQ(x.Value() < 0, exporting) << address;
    const auto power = ReadMeter(a, 0x0203FF00, false, t).values;
    ASSERT_EQ(power.size(), 4u);
    EXPECT_EQ(power[0].raw, power[1].raw + power[2].raw + power[3].raw);
    EXPECT_EQ(power[0].Value() < 0, exporting);
    const auto pf = ReadMeter(a, 0x02060000, false, t).values;
    EXPECT_GT(std::fabs(pf[0].Value()), 0.85);
    EXPECT_LE(std::fabs(pf[0].Value()), 1.0);
    const double f = ReadMeter(a, 0x02800002, false, t).values[0].Value();
    EXPECT_NEAR(f, 50.0, 0.1);
    const auto harmonics = ReadMeter(a, 0x020A01FF, false, t).values;
    EXPECT_EQ(harmonics.size(), 21u);
    // The 1997 view of the same meter: whole volts, magnitudes of power.
    const auto v97 = ReadMeter(a, 0xB611, true, t).values[0];
    EXPECT_EQ(v97.decimals, 0);
    EXPECT_EQ(v97.raw, v[0].raw / 10);
    EXPECT_EQ(ReadMeter(a, 0xB630, true, t).values[0].raw, std::llabs(power[0].raw));
    const double line = ReadMeter(a, 0xB691, true, t).values[0].Value();
    EXPECT_GT(line, 370.0);
    EXPECT_LT(line, 395.0);
  }
}

TEST(MeterModel, EnergyRatesAddUpAndGrow) {
  const MeterAddress importer = Addr("000000000001");
  const MeterAddress exporter = Addr("000000000002");
  const SimTime t = At("2025-03-10T10:00:00");
  for (uint32_t base : {0x00000000u, 0x00010000u, 0x00020000u, 0x00030000u, 0x00040000u,
                        0x00090000u, 0x000A0000u}) {
    for (const MeterAddress& a : {importer, exporter}) {
      const auto all = ReadMeter(a, base | 0xFF00, false, t).values;
      ASSERT_EQ(all.size(), 5u) << std::hex << base;
      int64_t sum = 0;
      for (int r = 1; r <= 4; ++r) {
        const auto rate = ReadMeter(a, base | (r << 8), false, t).values;
        ASSERT_EQ(rate.size(), 1u);
        EXPECT_EQ(rate[0].raw, all[r].raw);
        sum += rate[0].raw;
      }
      EXPECT_EQ(all[0].raw, sum) << std::hex << base;
      EXPECT_EQ(ReadMeter(a, base, false, t).values[0].raw, all[0].raw);
    }
  }
  // Energy grows with time; an hour adds something, never takes away.
  const auto before = ReadMeter(importer, 0x00010000, false, t).values[0].raw;
  const auto after = ReadMeter(importer, 0x00010000, false, t + 3600).values[0].raw;
  EXPECT_GT(after, before);
  EXPECT_LT(after - before, 400);  // under 4 kWh in an hour
  // Combined = positive - reverse: an exporter's runs negative.
  const auto combined = ReadMeter(exporter, 0x00000000, false, t).values[0];
  EXPECT_LT(combined.raw, 0);
  EXPECT_EQ(combined.raw, ReadMeter(exporter, 0x00010000, false, t).values[0].raw -
                              ReadMeter(exporter, 0x00020000, false, t).values[0].raw);
  // The 1997 registers show the same meter; last month's is this month's start.
  EXPECT_EQ(ReadMeter(importer, 0x9010, true, t).values[0].raw, before);
  const auto last_month = ReadMeter(importer, 0x9410, true, t).values[0].raw;
  EXPECT_EQ(last_month,
            ReadMeter(importer, 0x00010000, false, At("2025-03-01T00:00:00")).values[0].raw);
  const auto prev_month = ReadMeter(importer, 0x9810, true, t).values[0].raw;
  EXPECT_LT(prev_month, last_month);
  EXPECT_EQ(ReadMeter(importer, 0x901F, true, t).values.size(), 5u);
  EXPECT_EQ(ReadMeter(importer, 0x9012, true, t).values[0].raw,
            ReadMeter(importer, 0x00010200, false, t).values[0].raw);
}

TEST(MeterModel, DemandCarriesItsTimeInThisMonth) {
  const MeterAddress a = Addr("000000000001");
  for (const char* when : {"2025-03-01T00:05:00", "2025-03-10T10:00:00", "2025-03-31T23:59:59"}) {
    const SimTime t = At(when);
    const SimTime month = At("2025-03-01T00:00:00");
    const auto all = ReadMeter(a, 0x0101FF00, false, t).values;
    ASSERT_EQ(all.size(), 5u);
    int64_t best = 0;
    for (const auto& d : all) {
      ASSERT_TRUE(d.has_stamp);
      EXPECT_GE(d.stamp, month) << when;
      EXPECT_LE(d.stamp, t) << when;
      EXPECT_EQ(d.stamp % 900, 0);
      best = std::max(best, d.raw);
    }
    EXPECT_EQ(all[0].raw, best);  // the total is the largest of the rates
    const auto single = ReadMeter(a, 0x01010000, false, t).values;
    EXPECT_EQ(single[0].raw, all[0].raw);
    EXPECT_EQ(single[0].stamp, all[0].stamp);
    EXPECT_EQ(ReadMeter(a, 0xA010, true, t).values[0].raw, all[0].raw);
  }
}

TEST(MeterModel, DemandKeepsItsStampUntilAHigherPeak) {
  // Hour by hour through two months: a register only rises within a month,
  // its stamp changes only with its value, and a new month starts afresh.
  for (const char* meter : {"000000000001", "000000000002"}) {
    const MeterAddress a = Addr(meter);
    const SimTime from = At("2026-11-01T00:00:00");
    const SimTime december = At("2026-12-01T00:00:00");
    for (uint32_t id : {0x0101FF00u, 0x0103FF00u, 0x01150000u}) {
      std::vector<metersim::SimValue> last;
      int rises = 0;
      for (SimTime t = from; t < At("2027-01-01T00:00:00"); t += 3600) {
        const auto now = ReadMeter(a, id, false, t).values;
        ASSERT_FALSE(now.empty());
        for (size_t k = 0; k < now.size(); ++k) {
          const auto& v = now[k];
          ASSERT_TRUE(v.has_stamp);
          ASSERT_LE(v.stamp, t);
          ASSERT_GE(v.stamp, t >= december ? december : from);
          if (t == december || last.empty()) continue;
          const auto& before = last[k];
          ASSERT_GE(v.raw, before.raw) << meter << " " << std::hex << id << " at " << t;
          if (v.raw == before.raw)
            ASSERT_EQ(v.stamp, before.stamp) << meter << " " << std::hex << id << " at " << t;
          else
            ++rises;
        }
        last = now;
      }
      EXPECT_GT(rises, 0);
    }
  }
}

TEST(MeterModel, MeterDateAndTimeFollowTheClock) {
  const MeterAddress a = Addr("000000000001");
  const SimTime t = At("2024-03-03T21:07:09");  // a Sunday
  EXPECT_EQ(ReadMeter(a, 0xC010, true, t).values[0].raw, 24030300);
  EXPECT_EQ(ReadMeter(a, 0xC011, true, t).values[0].raw, 210709);
  const auto status_exporter = ReadMeter(Addr("000000000002"), 0xC020, true, t).values[0];
  EXPECT_EQ(status_exporter.raw, 10);
}

TEST(MeterAddressText, ParseFormatAndCount) {
  MeterAddress a{};
  ASSERT_TRUE(metersim::ParseAddress("112233445566", &a));
  EXPECT_EQ(a, (MeterAddress{0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(metersim::AddressText(a), "112233445566");
  ASSERT_TRUE(metersim::ParseAddress("1", &a));
  EXPECT_EQ(metersim::AddressText(a), "000000000001");
  EXPECT_FALSE(metersim::ParseAddress("", &a));
  EXPECT_FALSE(metersim::ParseAddress("1234567890123", &a));
  EXPECT_FALSE(metersim::ParseAddress("12G4", &a));
  MeterAddress b{};
  ASSERT_TRUE(metersim::ParseAddress("000000000099", &a));
  ASSERT_TRUE(metersim::AddressAfter(a, 1, &b));
  EXPECT_EQ(metersim::AddressText(b), "000000000100");
  ASSERT_TRUE(metersim::ParseAddress("999999999998", &a));
  EXPECT_TRUE(metersim::AddressAfter(a, 1, &b));
  EXPECT_FALSE(metersim::AddressAfter(a, 2, &b));
}

}  // namespace
