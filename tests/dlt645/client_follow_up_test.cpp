// Long answers: the client asks for follow-up frames before a request counts
// as answered, joins them, and delivers what arrived when the rest is lost.
// The meter here is synthetic: frames made by hand.
#include <gtest/gtest.h>

#include "client_test_support.h"
#include "dlt645/follow_up.h"
#include "dlt645/load_profile.h"
#include "platform/datetime.h"

namespace {

using namespace client_test;

const std::string kDev1 = "000000000001";
constexpr uint32_t kAllRates = 0x0001FF00;  // five 4-byte values

// Frame seq of a long answer to id: 0 the first answer, then follow-up frames.
Bytes Part(uint32_t id, const Bytes& values, unsigned seq, bool more) {
  if (seq == 0) return Answer(kDev1, id, values, false, more ? 0xB1 : 0x91);
  Bytes data = values;
  data.push_back(static_cast<uint8_t>(seq));
  return Answer(kDev1, id, data, false, more ? 0xB2 : 0x92);
}

std::string FollowUpRequest(uint32_t id, uint8_t seq) {
  std::array<uint8_t, dlt645::kFollowUpRequestLength> frame{};
  const size_t n = dlt645::BuildFollowUpRequest(dlt645::AddressFromText(kDev1), id, seq, frame);
  return dlt645::testing::HexText(frame.data(), n);
}

class ClientFollowUp : public ClientFixture {
 protected:
  void Start(RequestSpec request) {
    request.PollInterval = 600000;
    Load({request});
    PortEvent(kEventPortOpened);
    RunUntilWrites(2);  // the preamble and the read
  }
  void RunUntilWrites(size_t count) {
    for (int i = 0; module.Writes.size() < count && i < 10000; ++i)
      RunFor(10);
    ASSERT_GE(module.Writes.size(), count);
  }
  size_t LinesWith(const std::string& text) const {
    size_t n = 0;
    for (const std::string& line : module.LogLines)
      n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
};

TEST_F(ClientFollowUp, LongAnswerIsJoinedInOrderBeforeTheRequestCountsAsAnswered) {
  Start({.Code = kAllRates});
  Feed(Part(kAllRates, {0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0}, 0, true));
  EXPECT_TRUE(module.Records.empty());
  ASSERT_EQ(module.Writes.size(), 3u);
  EXPECT_EQ(module.Writes[2].Bytes, FollowUpRequest(kAllRates, 1));
  // A repeated frame and one out of order are not taken.
  const Bytes second = Part(kAllRates, {0x02, 0, 0, 0, 0x03, 0, 0, 0}, 1, true);
  Feed(second);
  Feed(second);
  Feed(Part(kAllRates, {0x99, 0, 0, 0}, 3, false));
  EXPECT_EQ(LinesWith("out of order"), 1u);
  ASSERT_EQ(module.Writes.size(), 4u);
  EXPECT_EQ(module.Writes[3].Bytes, FollowUpRequest(kAllRates, 2));
  Feed(Part(kAllRates, {0x04, 0, 0, 0}, 2, false));

  ASSERT_EQ(module.Records.size(), 1u);
  const Record& r = module.Records[0];
  EXPECT_EQ(r.Get("TOTAL_POSITIVE_ACTIVE1"), "100");
  EXPECT_EQ(r.Get("TOTAL_POSITIVE_ACTIVE3"), "0.02");
  EXPECT_EQ(r.Get("TOTAL_POSITIVE_ACTIVE4"), "0.03");
  EXPECT_EQ(r.Get("TOTAL_POSITIVE_ACTIVE5"), "0.04");
  EXPECT_EQ(r.Find("QUALITY"), nullptr);
  // Answered: the queue waits for the next period, nothing is asked again.
  RunFor(5000);
  EXPECT_EQ(module.Writes.size(), 4u);
}

TEST_F(ClientFollowUp, LostFollowUpIsAskedWithTheRequestsAttemptsThenDeliveredIncomplete) {
  Start({.Code = kAllRates, .Timeout = 500});
  Feed(Part(kAllRates, {0x00, 0x00, 0x01, 0x00}, 0, true));
  RunFor(3000);
  // One request and two repeats of the same frame, then the request ends.
  std::vector<std::string> asked(module.Writes.size() - 2);
  for (size_t i = 2; i < module.Writes.size(); ++i)
    asked[i - 2] = module.Writes[i].Bytes;
  EXPECT_EQ(asked, std::vector<std::string>(3, FollowUpRequest(kAllRates, 1)));
  ASSERT_EQ(module.Records.size(), 1u);
  const Record& r = module.Records[0];
  EXPECT_EQ(r.Get("TOTAL_POSITIVE_ACTIVE1"), "100");
  EXPECT_EQ(r.Find("TOTAL_POSITIVE_ACTIVE2"), nullptr);
  EXPECT_EQ(r.Get("QUALITY"), "incomplete");
  EXPECT_EQ(r.Get("REASON"), "follow-up frame 1 not answered");
  EXPECT_EQ(LinesWith("Answer incomplete: follow-up frame 1 not answered"), 1u);
  // The device answered: it is not taken for a silent one.
  EXPECT_EQ(LinesWith("Request timeout"), 0u);
}

TEST_F(ClientFollowUp, AClosedPortEndsTheFollowUpAndTheNextRoundReadsAgain) {
  Start({.Code = kAllRates, .Timeout = 500});
  Feed(Part(kAllRates, {0x00, 0x00, 0x01, 0x00}, 0, true));
  ASSERT_EQ(module.Writes.size(), 3u);
  PortEvent(kEventPortClosed);
  PortEvent(kEventPortOpened);
  RunUntilWrites(5);
  // The read itself (after its preamble), not the follow-up request.
  const std::string& next = module.Writes.back().Bytes;
  ASSERT_GT(next.size(), 26u);
  EXPECT_EQ(next.substr(24, 2), "11");
}

TEST_F(ClientFollowUp, ErrorAnswerToAFollowUpEndsTheRequestWithItsMessage) {
  Start({.Code = kAllRates});
  Feed(Part(kAllRates, {0x00, 0x00, 0x01, 0x00}, 0, true));
  Feed(dlt645::testing::MakeFrame(dlt645::AddressFromText(kDev1), 0xD2, {0x02}));
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Get("QUALITY"), "error");
  EXPECT_EQ(module.Records[0].Get("REASON"), "No request data");
  EXPECT_EQ(LinesWith("Answer error: No request data"), 1u);
  RunFor(5000);
  EXPECT_EQ(module.Writes.size(), 3u);
}

TEST_F(ClientFollowUp, ListenOnlyRequestJoinsWhatAnotherMasterAskedFor) {
  Load({{.Code = kAllRates, .Enabled = false}});
  const Bytes other_master_asks =
      Hex(FollowUpRequest(kAllRates, 1));  // its request on the line: no answer of ours
  Bytes line = Part(kAllRates, {0x00, 0x00, 0x01, 0x00}, 0, true);
  dlt645::testing::Append(line, other_master_asks);
  dlt645::testing::Append(line, Part(kAllRates, {0x02, 0, 0, 0}, 1, false));
  Feed(line);
  ASSERT_EQ(module.Records.size(), 1u);
  EXPECT_EQ(module.Records[0].Get("TOTAL_POSITIVE_ACTIVE2"), "0.02");
  EXPECT_EQ(module.Records[0].Find("QUALITY"), nullptr);
  // Nothing of ours went out.
  EXPECT_TRUE(module.Writes.empty());

  // When the rest never passes by, the first frame is delivered marked.
  line = Part(kAllRates, {0x00, 0x00, 0x01, 0x00}, 0, true);
  dlt645::testing::Append(line, Answer("000000000002", 0x02010100, {0x32, 0x22}));
  Feed(line);
  ASSERT_EQ(module.Records.size(), 2u);
  EXPECT_EQ(module.Records[1].Get("QUALITY"), "incomplete");
  EXPECT_EQ(module.Records[1].Get("TOTAL_POSITIVE_ACTIVE1"), "100");
}

// The notes' record (2024-05-01 00:15) in plain form.
const Bytes kRecord = Hex(
    "A0 A0 62 15 00 01 05 24 01 22 98 21 05 22 34 12 00 00 12 00 00 11 00 00 50 AA 23 81 00 00 27 "
    "00 01 27 00 22 27 00 00 10 00 00 03 00 50 03 00 50 03 00 AA 85 09 90 09 80 09 85 09 AA 56 34 "
    "12 00 00 00 00 00 34 12 00 00 00 00 00 00 AA 00 10 00 00 00 00 00 00 00 00 00 00 34 02 00 00 "
    "AA 00 80 00 00 10 00 AA 84 E5");

TEST_F(ClientFollowUp, LoadProfileAnswerGivesOneRecordPerIntervalAndSkipsBadOnes) {
  Start({.Code = 0x06000002});
  Bytes broken = kRecord;
  broken[broken.size() - 2] ^= 0x01;  // record checksum
  Bytes next = kRecord;
  next[3] = 0x30;  // 00:30
  next[next.size() - 2] = static_cast<uint8_t>(next[next.size() - 2] + 0x30 - 0x15);
  Feed(Part(0x06000002, kRecord, 0, true));
  Feed(Part(0x06000002, broken, 1, true));
  Feed(Part(0x06000002, next, 2, false));
  ASSERT_EQ(module.Records.size(), 2u);
  EXPECT_EQ(LinesWith("Load record skipped"), 1u);
  const Record& first = module.Records[0];
  EXPECT_EQ(first.Get("DATA_TYPE_ID_STR"), "06000002");
  EXPECT_EQ(first.Find("RECORD_TIME")->Type, 7);  // a date
  EXPECT_EQ(first.Get("LP_VOLTAGE_A"), "220.1");
  EXPECT_EQ(first.Get("LP_CURRENT_A"), "1.234");
  EXPECT_EQ(first.Get("LP_ACTIVE_POWER_TOTAL"), "0.8123");
  EXPECT_EQ(first.Get("LP_PF_TOTAL"), "0.985");
  EXPECT_EQ(first.Get("LP_FORWARD_ACTIVE_ENERGY"), "1234.56");
  EXPECT_NE(first.Get("RECORD_TIME"), module.Records[1].Get("RECORD_TIME"));
  EXPECT_EQ(first.Via, "output");
  EXPECT_EQ(module.Records[1].Via, "result");
}

TEST_F(ClientFollowUp, LoadProfileRequestCarriesBlocksAndATimeFromTheClock) {
  // 2024-05-01 02:07:30; the block 112 minutes earlier is 00:15.
  int64_t seconds = 0;
  ASSERT_TRUE(platform::TryEncodeDateTime(2024, 5, 1, 2, 7, 30, &seconds));
  clock.SetLocalNow(static_cast<double>(seconds) / 86400.0);
  auto item = MakeRequest({.Device = "123456789012", .Code = 0x06000002, .PollInterval = 600000});
  item->Parameters.Id = dlt645::LoadProfileId(dlt645::TLoadBlock::AtTime, dlt645::kLoadClassAll);
  item->Parameters.LoadBlocks = 2;
  item->Parameters.LoadOffset = -112;
  source->Queue->ReloadRequests(
      [&](TObjectList<TBasicRequestItem>& list) { list.Add(std::move(item)); });
  source->UpdateClientQueues(true, true);
  PortEvent(kEventPortOpened);
  RunUntilWrites(2);
  EXPECT_EQ(module.Writes[1].Bytes,
            "68 12 90 78 56 34 12 68 11 0A 34 33 33 39 35 48 33 34 38 57 E7 16");
}

}  // namespace
