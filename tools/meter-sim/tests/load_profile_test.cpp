// The simulated load profile, read by the library's own requests and
// decoded by its own record walk and follow-up join: the two sides are
// written independently, so each checks the other.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "dlt645/follow_up.h"
#include "dlt645/load_profile.h"
#include "meter_model.h"
#include "meter_session.h"
#include "wire.h"

namespace {

using namespace metersim;
using dlt645::TLoadBlock;
using dlt645::TLoadValue;
using Bytes = std::vector<uint8_t>;

MeterAddress Addr(const char* text) {
  MeterAddress a{};
  EXPECT_TRUE(ParseAddress(text, &a)) << text;
  return a;
}

SimTime At(const char* text) {
  SimTime t = 0;
  EXPECT_TRUE(ParseSimTime(text, &t)) << text;
  return t;
}

struct Records final : dlt645::ILoadRecordSink {
  std::vector<dlt645::TLoadRecord> Got;
  size_t Skipped = 0;
  void OnRecord(const dlt645::TLoadRecord& r) override { Got.push_back(r); }
  void OnSkipped(size_t, size_t, dlt645::TLoadSkip) override { ++Skipped; }
};

Records Walk(std::span<const uint8_t> wire_values, uint8_t load_class) {
  Records sink;
  dlt645::WalkLoadRecords(wire_values, load_class, sink);
  return sink;
}

Bytes Wire(Bytes plain) {
  for (uint8_t& b : plain)
    b = static_cast<uint8_t>(b + kDataOffset);
  return plain;
}

SimTime Stamp(const dlt645::TLoadRecord& r) {
  int64_t seconds = 0;
  EXPECT_TRUE(dlt645::LoadTimeSeconds(r.Time, &seconds));
  return seconds;
}

const MeterAddress kImporter = Addr("000000000001");
const MeterAddress kExporter = Addr("112233445566");
const SimTime kNow = At("2024-05-01T12:07:30");
const SimTime kLatest = At("2024-05-01T12:00:00");

TEST(LoadProfileModel, BlockSelectionsAndErrors) {
  const auto stamps = [](const SimLoadRead& read) {
    std::vector<SimTime> out;
    for (const SimLoadRecord& r : read.records)
      out.push_back(r.stamp);
    return out;
  };
  const SimLoadRead latest = ReadLoadProfile(kImporter, 0x06000002, Bytes{0x08}, kNow);
  ASSERT_EQ(latest.error, 0);
  ASSERT_EQ(latest.records.size(), 8u);
  EXPECT_EQ(latest.records.front().stamp, kLatest - 7 * kLoadInterval);
  EXPECT_EQ(latest.records.back().stamp, kLatest);
  EXPECT_EQ(stamps(ReadLoadProfile(kImporter, 0x06000002, {}, kNow)),
            std::vector<SimTime>{kLatest});
  // NN is BCD: 12 blocks.
  EXPECT_EQ(ReadLoadProfile(kImporter, 0x06030002, Bytes{0x12}, kNow).records.size(), 12u);

  const SimTime earliest = kLatest - (kLoadProfileDepth - 1) * kLoadInterval;
  EXPECT_EQ(stamps(ReadLoadProfile(kImporter, 0x06000000, Bytes{0x02}, kNow)),
            (std::vector<SimTime>{earliest, earliest + kLoadInterval}));
  // A time block starts at the first record at or after the time, and
  // stops at the most recent one.
  EXPECT_EQ(stamps(ReadLoadProfile(kImporter, 0x06050001, Bytes{0x03, 0x10, 0x00, 0x01, 0x05, 0x24},
                                   kNow)),
            (std::vector<SimTime>{At("2024-05-01T00:15:00"), At("2024-05-01T00:30:00"),
                                  At("2024-05-01T00:45:00")}));
  EXPECT_EQ(stamps(ReadLoadProfile(kImporter, 0x06000001, Bytes{0x05, 0x45, 0x11, 0x01, 0x05, 0x24},
                                   kNow)),
            (std::vector<SimTime>{At("2024-05-01T11:45:00"), kLatest}));
  EXPECT_EQ(ReadLoadProfile(kImporter, 0x06000001, Bytes{0x01, 0x00, 0x00, 0x01, 0x01, 0x20}, kNow)
                .records.front()
                .stamp,
            earliest);

  for (const auto& [id, request] : std::vector<std::pair<uint32_t, Bytes>>{
           {0x06070002, {0x01}},                                // no class 7
           {0x06000003, {0x01}},                                // no block 3
           {0x06000002, {0x00}},                                // no blocks
           {0x06000002, {0xA1}},                                // not BCD
           {0x06000001, {0x01, 0x15, 0x12, 0x01, 0x05, 0x24}},  // after the latest
           {0x06000001, {0x01, 0x00, 0x00, 0x30, 0x02, 0x24}},  // not a date
           {0x06000001, {0x01}},                                // no time
       })
    EXPECT_EQ(ReadLoadProfile(kImporter, id, request, kNow).error, kErrorNoData) << std::hex << id;
}

TEST(LoadProfileModel, RecordsAgreeWithTheMetersOtherAnswers) {
  for (const MeterAddress& meter : {kImporter, kExporter}) {
    const SimLoadRecord r = LoadProfileRecord(meter, kLatest);
    const auto read = [&](uint32_t id) { return ReadMeter(meter, id, false, kLatest).values; };
    const auto at = [&](TLoadValue v) { return r.raw[static_cast<size_t>(v)]; };
    EXPECT_EQ(at(TLoadValue::VoltageB), read(0x02010200)[0].raw);
    EXPECT_EQ(at(TLoadValue::CurrentC), read(0x02020300)[0].raw);
    EXPECT_EQ(at(TLoadValue::ActivePowerTotal), read(0x02030000)[0].raw);
    EXPECT_EQ(at(TLoadValue::PfA), read(0x02060100)[0].raw);
    EXPECT_EQ(at(TLoadValue::Frequency), read(0x02800002)[0].raw);
    EXPECT_EQ(at(TLoadValue::ForwardActiveEnergy), read(0x00010000)[0].raw);
    EXPECT_EQ(at(TLoadValue::ReverseActiveEnergy), read(0x00020000)[0].raw);
    EXPECT_EQ(at(TLoadValue::ActiveDemand), std::abs(at(TLoadValue::ActivePowerTotal)));
    // Exporters' powers and currents are negative; energies only grow.
    EXPECT_EQ(at(TLoadValue::CurrentA) < 0, IsExporting(meter));
    const SimLoadRecord before = LoadProfileRecord(meter, kLatest - kLoadInterval);
    for (TLoadValue v : {TLoadValue::ForwardActiveEnergy, TLoadValue::ReverseActiveEnergy})
      EXPECT_LE(before.raw[static_cast<size_t>(v)], at(v));
  }
}

TEST(LoadProfileWire, TheLibraryDecodesEveryRecordOfEveryClass) {
  for (uint8_t load_class = 0; load_class <= 6; ++load_class) {
    const uint32_t id = dlt645::LoadProfileId(TLoadBlock::Latest, load_class);
    const SimLoadRead read = ReadLoadProfile(kExporter, id, Bytes{0x04}, kNow);
    const Bytes wire = Wire(EncodeLoadRecords(read));
    const Records got = Walk(wire, load_class);
    ASSERT_EQ(got.Got.size(), 4u) << int(load_class);
    EXPECT_EQ(got.Skipped, 0u);
    for (size_t k = 0; k < 4; ++k) {
      const dlt645::TLoadRecord& r = got.Got[k];
      EXPECT_EQ(Stamp(r), read.records[k].stamp);
      EXPECT_EQ(r.Length, load_class == 0 ? dlt645::kFullLoadRecordLength
                                          : 11 + dlt645::LoadClassSize(load_class));
      for (size_t v = 0; v < dlt645::kLoadValueCount; ++v) {
        const bool in_class = load_class == 0 || dlt645::kLoadValues[v].LoadClass == load_class;
        ASSERT_EQ(r.Has(static_cast<TLoadValue>(v)), in_class) << v;
        if (in_class) {
          EXPECT_EQ(r.Raw[v], read.records[k].raw[v]) << v;
        }
      }
    }
  }
}

struct FollowUpSession : ::testing::Test {
  std::vector<MeterAddress> meters = {kImporter, kExporter};
  FaultOptions faults;

  static Bytes Send(MeterSession& s, std::span<const uint8_t> request) {
    std::vector<OutChunk> out;
    s.OnReceive(request, kNow, &out);
    Bytes all;
    for (const OutChunk& c : out)
      all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    return all;
  }
  static Bytes ReadLatest(MeterSession& s, const MeterAddress& meter, uint8_t blocks) {
    std::array<uint8_t, dlt645::kMaxLoadProfileRequestLength> request{};
    const size_t n =
        dlt645::BuildLoadProfileRequest(meter, TLoadBlock::Latest, 0, blocks, nullptr, request);
    return Send(s, std::span<const uint8_t>(request).first(n));
  }
  static Bytes AskFollowUp(MeterSession& s, const MeterAddress& meter, uint32_t id, uint8_t seq) {
    std::array<uint8_t, dlt645::kFollowUpRequestLength> request{};
    dlt645::BuildFollowUpRequest(meter, id, seq, request);
    return Send(s, request);
  }
  static dlt645::TFrameView View(const Bytes& frame) { return {frame.data(), frame.size(), 0}; }
};

TEST_F(FollowUpSession, LongAnswersGoOnInFollowUpFramesThatJoinToTheRecords) {
  MeterSession s(meters, faults, 1);
  constexpr uint32_t kId = 0x06000002;
  const Bytes first = ReadLatest(s, kExporter, 8);
  ASSERT_GE(first.size(), 12u);
  EXPECT_EQ(first[8], 0xB1);
  EXPECT_EQ(first[9], kMaxAnswerData);
  std::vector<uint8_t> storage(8 * dlt645::kFullLoadRecordLength);
  dlt645::TAnswerJoin join(storage);
  ASSERT_EQ(join.Start(View(first), kId), dlt645::TJoinStep::More);
  std::vector<uint8_t> controls;
  for (uint8_t seq = 1; !join.Complete(); ++seq) {
    ASSERT_LT(seq, 10);
    const Bytes frame = AskFollowUp(s, kExporter, kId, seq);
    ASSERT_GE(frame.size(), 12u);
    controls.push_back(frame[8]);
    // A repeated request gets the same frame again.
    EXPECT_EQ(AskFollowUp(s, kExporter, kId, seq), frame);
    const dlt645::TJoinStep step = join.Add(View(frame));
    ASSERT_TRUE(step == dlt645::TJoinStep::More || step == dlt645::TJoinStep::Done);
  }
  // 8 × 103 bytes: 196 in the answer, 195 in each follow-up frame.
  EXPECT_EQ(controls, (std::vector<uint8_t>{0xB2, 0xB2, 0xB2, 0x92}));
  const Records got = Walk(join.Data(), 0);
  ASSERT_EQ(got.Got.size(), 8u);
  EXPECT_EQ(Stamp(got.Got.front()), kLatest - 7 * kLoadInterval);
  // The most recent last.
  const SimLoadRecord last = LoadProfileRecord(kExporter, kLatest);
  for (size_t v = 0; v < dlt645::kLoadValueCount; ++v)
    EXPECT_EQ(got.Got.back().Raw[v], last.raw[v]) << v;

  // Beyond the last frame, for another identifier or another meter: "No
  // request data".
  for (const Bytes& answer :
       {AskFollowUp(s, kExporter, kId, 5), AskFollowUp(s, kExporter, 0x06000001, 1),
        AskFollowUp(s, kImporter, kId, 1), AskFollowUp(s, kExporter, kId, 0)}) {
    ASSERT_EQ(answer.size(), 13u);
    EXPECT_EQ(answer[8], 0xD2);
    EXPECT_EQ(answer[10], kErrorNoData + kDataOffset);
  }
  // One block fits one frame.
  EXPECT_EQ(ReadLatest(s, kExporter, 1)[8], 0x91);
  EXPECT_EQ(s.Counters().follow_ups, 8u);
}

TEST_F(FollowUpSession, DropFollowUpLosesTheFirstAnswersFirstFollowUpOnly) {
  faults.drop_follow_up = true;
  MeterSession s(meters, faults, 1);
  constexpr uint32_t kId = 0x06000002;
  // Short answers do not count.
  EXPECT_EQ(ReadLatest(s, kImporter, 1)[8], 0x91);
  EXPECT_EQ(ReadLatest(s, kImporter, 4)[8], 0xB1);
  EXPECT_TRUE(AskFollowUp(s, kImporter, kId, 1).empty());
  EXPECT_TRUE(AskFollowUp(s, kImporter, kId, 1).empty());
  EXPECT_EQ(AskFollowUp(s, kImporter, kId, 2)[8], 0x92);
  EXPECT_EQ(s.Counters().dropped, 2u);
  // The next read is whole.
  EXPECT_EQ(ReadLatest(s, kImporter, 4)[8], 0xB1);
  EXPECT_EQ(AskFollowUp(s, kImporter, kId, 1)[8], 0xB2);
  EXPECT_EQ(s.Counters().dropped, 2u);
}

}  // namespace
