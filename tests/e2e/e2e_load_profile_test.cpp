// Load profiles through the exports: the meters answer from the simulator's
// load profile, long answers over follow-up frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dlt645/load_values.h"
#include "host_os.h"
#include "host_session.h"
#include "meter_model.h"

namespace {

using host::DataRecord;
using host::Session;

const std::string kMeter = "000000000001";

std::string Query(const std::string& load_keys, int poll_ms) {
  return "<?xml version=\"1.0\"?>\r\n<DL_T645_2007_QUERY><Request caption=\"Profile\">"
         "<Enabled>1</Enabled><Device>1</Device><Timeout>300</Timeout>"
         "<MethodPoll>1</MethodPoll><PollInterval>" +
         std::to_string(poll_ms) + "</PollInterval><PollUnits>MS</PollUnits><LoadProfile>" +
         load_keys +
         "</LoadProfile><Response><Item><Function>06000002</Function></Item></Response>"
         "</Request></DL_T645_2007_QUERY>";
}

class E2eLoadProfile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host::Library::Get().Loaded()) << host::Library::Get().Error();
    s.Line().AddMeter(kMeter);
  }
  void Start(const std::string& query) {
    ASSERT_TRUE(s.Store(query));
    ASSERT_EQ(s.Load(), 0);
    ASSERT_EQ(s.SetState(3, 1), 0);
    ASSERT_EQ(s.PortEvent(1, 1, true), 0);
  }
  int FollowUpRequests() {
    int n = 0;
    for (const auto& r : s.Line().Requests())
      n += r.seq > 0 ? 1 : 0;
    return n;
  }
  // The record's values against the simulator's record of its time stamp;
  // the classes it carries.
  static std::vector<int> CheckValues(const DataRecord& r) {
    metersim::MeterAddress meter{};
    metersim::ParseAddress(kMeter, &meter);
    const auto stamp =
        static_cast<metersim::SimTime>(std::llround(r.Number("RECORD_TIME") * 86400.0));
    const metersim::SimLoadRecord expected = metersim::LoadProfileRecord(meter, stamp);
    std::vector<int> classes;
    for (size_t v = 0; v < dlt645::kLoadValueCount; ++v) {
      const dlt645::TLoadValueInfo& info = dlt645::kLoadValues[v];
      const std::string name(info.Name);
      if (!r.Has(name)) continue;
      if (classes.empty() || classes.back() != info.LoadClass) classes.push_back(info.LoadClass);
      EXPECT_NEAR(r.Number(name),
                  static_cast<double>(expected.raw[v]) / std::pow(10.0, info.Decimals), 1e-9)
          << name << " at " << metersim::SimTimeText(stamp);
    }
    return classes;
  }

  Session s;
};

TEST_F(E2eLoadProfile, LastEightBlocksArriveAsEightRecordsOverFollowUpFrames) {
  Start(Query("<LoadBlocks>8</LoadBlocks>", 900000));
  const double asked = hostos::LocalDateTime();
  s.Run(2000);
  // The session keeps records sent during a data call apart from the
  // call's own: order them by time.
  std::vector<DataRecord> records = s.TakeRecords();
  std::sort(records.begin(), records.end(), [](const DataRecord& a, const DataRecord& b) {
    return a.Number("RECORD_TIME") < b.Number("RECORD_TIME");
  });
  ASSERT_EQ(records.size(), 8u);
  EXPECT_GT(FollowUpRequests(), 0);
  // The quarter hours up to the last one that ended, oldest first.
  const int64_t now = std::llround(asked * 86400.0);
  const int64_t latest = now - now % 900;
  for (size_t i = 0; i < records.size(); ++i) {
    const DataRecord& r = records[i];
    EXPECT_EQ(r.Text("DEVICE_ID"), kMeter);
    EXPECT_FALSE(r.Has("QUALITY"));
    const int64_t stamp = std::llround(r.Number("RECORD_TIME") * 86400.0);
    EXPECT_NEAR(static_cast<double>(stamp), static_cast<double>(latest - 900 * (7 - int64_t(i))),
                900.0 * (host::Session::VirtualTime() ? 0 : 1));
    EXPECT_EQ(CheckValues(r), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  }
}

TEST_F(E2eLoadProfile, PerClassReadDeliversOnlyThatClass) {
  Start(Query("<LoadBlocks>2</LoadBlocks><LoadClass>2</LoadClass>", 900000));
  s.Run(2000);
  const std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_EQ(records.size(), 2u);
  for (const DataRecord& r : records) {
    EXPECT_EQ(r.Text("DATA_TYPE_ID_STR"), "06000002");
    EXPECT_EQ(r.Number("DATA_TYPE_ID"), 0x06020002);
    EXPECT_EQ(CheckValues(r), (std::vector<int>{2}));
  }
}

TEST_F(E2eLoadProfile, DroppedFollowUpGivesAnIncompleteRecordAndTheNextRoundIsWhole) {
  s.Line().DropNextFollowUp();
  Start(Query("<LoadBlocks>4</LoadBlocks>", 4000));
  s.Run(2500);
  std::vector<DataRecord> records = s.TakeRecords();
  ASSERT_FALSE(records.empty());
  for (const DataRecord& r : records) {
    EXPECT_EQ(r.Text("QUALITY"), "incomplete");
    EXPECT_EQ(r.Text("REASON"), "follow-up frame 1 not answered");
    EXPECT_EQ(CheckValues(r), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  }
  EXPECT_NE(s.TakeLog().find("Answer incomplete: follow-up frame 1 not answered"),
            std::string::npos);

  s.Run(3000);
  records = s.TakeRecords();
  ASSERT_EQ(records.size(), 4u);
  for (const DataRecord& r : records)
    EXPECT_FALSE(r.Has("QUALITY"));
}

}  // namespace
