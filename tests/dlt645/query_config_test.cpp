#include "dlt645/query_config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "parser/basic_request_item.h"
#include "parser/cron/scheduled_event.h"
#include "parser/queue_controller.h"
#include "platform/tick.h"

namespace {

using Devices = std::vector<std::string>;

// A request element with one response item per function ("code" or
// "code/rate") and further keys as raw XML.
std::string Request(const std::string& keys, const std::vector<std::string>& functions,
                    const std::string& attributes = "") {
  std::string xml = "<Request" + attributes + ">" + keys + "<Response>";
  for (const std::string& f : functions) {
    const size_t slash = f.find('/');
    xml += "<Item><Function>" + f.substr(0, slash) + "</Function>";
    if (slash != std::string::npos) xml += "<Rate>" + f.substr(slash + 1) + "</Rate>";
    xml += "</Item>";
  }
  return xml + "</Response></Request>";
}

std::string Query(const std::string& requests) {
  return "<DL_T645_2007_QUERY>" + requests + "</DL_T645_2007_QUERY>";
}

struct Loaded {
  TObjectList<TBasicRequestItem> list{true};
  int listen_only = 0;
  std::vector<std::string> log;  // "level text"

  explicit Loaded(const std::string& text, TQueueControllerTimer* queue = nullptr) {
    listen_only =
        ReadQueryConfig(text, list, queue, nullptr, [this](TLogLevel level, const std::string& s) {
          log.push_back(std::to_string(static_cast<int>(level)) + " " + s);
        });
  }
  int Count() const { return list.Count(); }
  const TRequestItem& operator[](int i) const { return *static_cast<TRequestItem*>(list[i]); }
  Devices Addresses() const {
    Devices out;
    for (int i = 0; i < list.Count(); ++i)
      out.push_back((*this)[i].Parameters.Address12);
    return out;
  }
};

TEST(NormalizeDeviceList, KeepsNonNegativeNumbersOnceInTextOrder) {
  EXPECT_EQ(NormalizeDeviceList({"2", "1", "2"}), (Devices{"1", "2"}));
  EXPECT_EQ(NormalizeDeviceList({"*", "5"}), (Devices{"5"}));
  EXPECT_EQ(NormalizeDeviceList({"AAAAAAAAAAAA", "999999999999", "-3", "", "1x"}),
            (Devices{"999999999999"}));
  // Duplicates are judged by the trimmed text; the kept entry stays as written.
  EXPECT_EQ(NormalizeDeviceList({"5", " 5\t"}), (Devices{" 5\t"}));
  // Text order, not numeric order.
  EXPECT_EQ(NormalizeDeviceList({"10", "9"}), (Devices{"10", "9"}));
  EXPECT_TRUE(NormalizeDeviceList({"99999999999999999999"}).empty());
}

TEST(ReadQueryConfig, DevicesTimesItemsDeviceMajor) {
  Loaded q(Query(Request("<Device>2;1;2</Device>", {"02010100", "02010200"})));
  ASSERT_EQ(q.Count(), 4);
  EXPECT_EQ(q.Addresses(),
            (Devices{"000000000001", "000000000001", "000000000002", "000000000002"}));
  EXPECT_EQ(q[0].Parameters.Id, 0x02010100u);
  EXPECT_EQ(q[1].Parameters.Id, 0x02010200u);
  EXPECT_EQ(q[2].Parameters.Id, 0x02010100u);
  EXPECT_EQ(q[0].Parameters.FuncName, "Voltage A");
  EXPECT_EQ(q[0].Parameters.Timeout, 300);
  EXPECT_EQ(q[0].MaxAttempts, 3);
  EXPECT_EQ(q[0].Caption, "Request #1");
  EXPECT_EQ(q.listen_only, 1);  // "Enabled" missing: listen-only
}

TEST(ReadQueryConfig, DeviceDefaultsAndSpecialEntries) {
  EXPECT_EQ(Loaded(Query(Request("<Device>*;5</Device>", {"02010100"}))).Addresses(),
            (Devices{"000000000005"}));
  EXPECT_EQ(Loaded(Query(Request("<Device></Device>", {"02010100"}))).Addresses(),
            (Devices{"00000000000*"}));
  Loaded missing(Query(Request("", {"02010100"})));
  ASSERT_EQ(missing.Count(), 1);
  EXPECT_EQ(missing[0].Parameters.DeviceText, "*");
  EXPECT_EQ(Loaded(Query(Request("<Device>999999999999,3</Device>", {"02010100"}))).Addresses(),
            (Devices{"000000000003", "999999999999"}));
  EXPECT_EQ(Loaded(Query(Request("<Device>AAAAAAAAAAAA</Device>", {"02010100"}))).Addresses(),
            (Devices{"00000000000*"}));
}

TEST(ReadQueryConfig, MistypedAddressesAreRefusedAndNamed) {
  const std::string refused = "0 Request #1: device \"";
  const std::string not_address = "\" is not a meter address; nothing is sent to it";
  const std::string none_left = "0 Request #1: no device left to poll; the request sends nothing";
  // Too long, or not a number: never cut down or turned into the wildcard.
  for (const std::string entry : {"11223344556677", "1122334455A6", "+5", "0x12"}) {
    Loaded q(Query(Request("<Device>" + entry + "</Device>", {"02010100"})));
    EXPECT_EQ(q.Count(), 0) << entry;
    EXPECT_EQ(q.log, (std::vector<std::string>{refused + entry + not_address, none_left}));
  }
  Loaded mixed(Query(Request("<Device>1122334455A6;7;</Device>", {"02010100"})));
  EXPECT_EQ(mixed.Addresses(), (Devices{"000000000007"}));
  EXPECT_EQ(mixed.log, (std::vector<std::string>{refused + "1122334455A6" + not_address}));
  EXPECT_TRUE(Loaded(Query(Request("<Device>*;5</Device>", {"02010100"}))).log.empty());
}

TEST(ReadQueryConfig, BlanksAroundAnEntryNeverReachTheAddress) {
  Loaded q(Query(Request("<Device>7 ; 8</Device>", {"02010100"})));
  ASSERT_EQ(q.Count(), 2);
  EXPECT_EQ(q[0].Parameters.DeviceText, " 8");
  EXPECT_EQ(q[0].Parameters.Address12, "000000000008");
  EXPECT_EQ(q[1].Parameters.DeviceText, "7 ");
  EXPECT_EQ(q[1].Parameters.Address12, "000000000007");
}

TEST(ReadQueryConfig, FunctionsAndRates) {
  Loaded q(Query(Request("<Device>1</Device>",
                         {"8000B611/3", "00010000/2", "00010000/258", "00010000/-254", "00000000",
                          "0000B611", "zz", "123456789", "0", "", " ", "02010100/7"})));
  ASSERT_EQ(q.Count(), 6);
  // A 1997 row without rates takes no rate.
  EXPECT_TRUE(q[0].Parameters.Is1997);
  EXPECT_EQ(q[0].Parameters.Id, 0xB611u);
  EXPECT_EQ(q[0].Parameters.FuncName, "Voltage (phase A)");
  EXPECT_EQ(q[0].Parameters.Rate, 0);
  EXPECT_EQ(q[0].Parameters.FunctionText, "8000B611");
  EXPECT_EQ(q[0].Parameters.FuncType, FindFuncType(0xB611, true));
  // A rate folds into DI1; the configured text stays.
  EXPECT_FALSE(q[1].Parameters.Is1997);
  EXPECT_EQ(q[1].Parameters.Id, 0x00010200u);
  EXPECT_EQ(q[1].Parameters.Rate, 2);
  EXPECT_EQ(q[1].Parameters.FuncName, "Total positive active energy, rate 2");
  EXPECT_EQ(q[1].Parameters.FunctionText, "00010000");
  // Rates are used modulo 256.
  EXPECT_EQ(q[2].Parameters.Id, 0x00010200u);
  EXPECT_EQ(q[3].Parameters.Id, 0x00010200u);
  // Eight zero digits: total combined active energy; "0" or nothing: no item.
  EXPECT_EQ(q[4].Parameters.FuncType, FindFuncType(0, false));
  EXPECT_EQ(q[4].Parameters.Id, 0u);
  EXPECT_EQ(q[4].Parameters.FunctionText, "00000000");
  EXPECT_EQ(q[5].Parameters.Id, 0x02010100u);
  EXPECT_EQ(q[5].Parameters.Rate, 0);
}

TEST(ReadQueryConfig, MethodsIntervalsAndTimeouts) {
  Loaded q(Query(
      Request("<Enabled>1</Enabled><MethodPoll>1</MethodPoll><PollInterval>5</PollInterval>"
              "<PollUnits>M</PollUnits><Timeout>1500</Timeout>",
              {"02010100"}, " caption=\"Main\"") +
      Request("<MethodPoll>1</MethodPoll><PollInterval>5</PollInterval><PollUnits>m</PollUnits>"
              "<Timeout>-5</Timeout>",
              {"02010100"}) +
      Request("<MethodEvent>1</MethodEvent><EventId>Tick</EventId><Timeout>x</Timeout>"
              "<PollInterval>2</PollInterval><PollUnits>sec</PollUnits>",
              {"02010100"}) +
      Request("<MethodPoll>1</MethodPoll><PollInterval>2</PollInterval><PollUnits>s</PollUnits>"
              "<Device>1</Device>",
              {"02010100"})));
  ASSERT_EQ(q.Count(), 4);
  EXPECT_EQ(q[3].PollInterval, 2000);
  EXPECT_EQ(q[2].PollInterval, 2);
  EXPECT_EQ(q.log,
            std::vector<std::string>{
                "1 Request #3: unknown poll unit \"sec\"; the interval is taken in milliseconds"});
  EXPECT_TRUE(q[0].Enabled);
  EXPECT_EQ(q[0].Caption, "Main");
  EXPECT_EQ(q[0].Method, kMethodPoll);
  EXPECT_EQ(q[0].PollInterval, 300000);
  EXPECT_EQ(q[0].Parameters.Timeout, 1500);
  EXPECT_EQ(q[1].PollInterval, 300000);     // units in any letter case
  EXPECT_EQ(q[1].Parameters.Timeout, 300);  // a negative wait would never end
  EXPECT_EQ(q[2].Method, kMethodEvent);
  EXPECT_EQ(q[2].Mode.MethodText, "Tick");
  EXPECT_EQ(q[2].Parameters.Timeout, 300);
  EXPECT_EQ(q[2].Caption, "Request #3");
  EXPECT_EQ(q.listen_only, 3);
}

TEST(ReadQueryConfig, GroupsFollowTheRequestElement) {
  Loaded q(Query(Request("<Device>1;2</Device>", {"02010100", "02010200"}) +
                 "<Request><Device>3</Device></Request>" +
                 Request("<Device>1</Device>", {"02010100"})));
  ASSERT_EQ(q.Count(), 5);
  EXPECT_EQ(q[0].Parameters.GroupKey, q[3].Parameters.GroupKey);
  EXPECT_NE(q[0].Parameters.GroupKey, q[4].Parameters.GroupKey);
  // The request without a response is skipped but still counts for captions.
  EXPECT_EQ(q[4].Caption, "Request #3");
  // A copy groups and matches like its source.
  TRequestItem copy;
  copy.Assign(q[2]);
  EXPECT_EQ(copy.Parameters.GroupKey, q[2].Parameters.GroupKey);
  EXPECT_EQ(copy.Parameters.Address12, q[2].Parameters.Address12);
  EXPECT_EQ(copy.Parameters.Id, q[2].Parameters.Id);
}

TEST(ReadQueryConfig, TheRootIsFoundAnywhereInAnyCase) {
  EXPECT_EQ(
      Loaded("<x><dl_t645_2007_query>" + Request("", {"02010100"}) + "</dl_t645_2007_query></x>")
          .Count(),
      1);
  EXPECT_EQ(Loaded("<OTHER>" + Request("", {"02010100"}) + "</OTHER>").Count(), 0);
  for (const char* bad : {"", "<", "<DL_T645_2007_QUERY><Request><Response><Item>",
                          "\xff\xfe<<>>&&&;", "<DL_T645_2007_QUERY/>"}) {
    Loaded q(bad);
    EXPECT_EQ(q.Count(), 0) << bad;
  }
  // Unclosed elements still give what they hold.
  EXPECT_EQ(Loaded("<DL_T645_2007_QUERY><Request><Response><Item><Function>02010100").Count(), 1);
}

TEST(ReadQueryConfig, AThousandDevicesOfOneRequest) {
  std::string devices;
  for (int i = 1; i <= 1000; ++i)
    devices += std::to_string(i) + ";";
  Loaded q(Query(Request("<Device>" + devices + "</Device>", {"02010100"})));
  ASSERT_EQ(q.Count(), 1000);
  // Text order: 1, 10, 100, 1000, 101, ...
  EXPECT_EQ(q[1].Parameters.Address12, "000000000010");
  EXPECT_EQ(q[3].Parameters.Address12, "000000001000");
}

class ReadQueryConfigSchedule : public ::testing::Test {
 protected:
  platform::VirtualClock clock_;
  TQueueControllerTimer queue_{nullptr};
  std::vector<std::string> errors_;

  void SetUp() override {
    queue_.OnError = [this](TQueueController&, const std::string& context, const std::exception& e,
                            const std::string& info) {
      errors_.push_back(context + ": " + info + ": " + e.what());
    };
  }
  size_t EventCount() {
    std::lock_guard<std::mutex> lock(queue_.EventsLock);
    return queue_.ScheduledEvents->Count();
  }
};

TEST_F(ReadQueryConfigSchedule, TimedRequestsShareOneKeyPerRequest) {
  Loaded q(Query(Request("<Device>1;2</Device><MethodAtTime>1</MethodAtTime>"
                         "<AtTime>08:30;5:15:20 pm</AtTime>",
                         {"02010100"}) +
                 Request("<Device>1</Device><MethodCron>1</MethodCron><CronTime>0 */5 * * * *"
                         "</CronTime>",
                         {"02010100"}) +
                 Request("<Device>1</Device><MethodPoll>1</MethodPoll>", {"02010100"})),
           &queue_);
  ASSERT_EQ(q.Count(), 4);
  EXPECT_EQ(EventCount(), 3u);
  EXPECT_FALSE(q[0].ScheduleKey.empty());
  EXPECT_EQ(q[0].ScheduleKey, q[1].ScheduleKey);
  EXPECT_FALSE(q[2].ScheduleKey.empty());
  EXPECT_NE(q[2].ScheduleKey, q[0].ScheduleKey);
  EXPECT_TRUE(q[3].ScheduleKey.empty());
  EXPECT_TRUE(errors_.empty());
  std::lock_guard<std::mutex> lock(queue_.EventsLock);
  EXPECT_EQ(queue_.ScheduledEvents->Items(0).Name, q[0].ScheduleKey + "/0");
  EXPECT_EQ(queue_.ScheduledEvents->Items(1).Name, q[0].ScheduleKey + "/1");
}

TEST_F(ReadQueryConfigSchedule, ABadCronTextIsReportedAndTheRestLoads) {
  Loaded q(
      Query(Request("<MethodCron>1</MethodCron><CronTime>0 0 99 * * *</CronTime>", {"02010100"}) +
            Request("<MethodPoll>1</MethodPoll>", {"02010100"})),
      &queue_);
  EXPECT_EQ(q.Count(), 2);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].rfind("Cron: 0 0 99 * * * *", 0), 0u) << errors_[0];
}

}  // namespace

namespace {

TEST(ReadQueryConfig, LoadProfileKeysChooseBlockCountClassAndTime) {
  // Without the keys a load-profile function reads as it always did.
  const Loaded plain(Query(Request("<Device>1</Device>", {"06010002", "02010100"})));
  ASSERT_EQ(plain.Count(), 2);
  EXPECT_EQ(plain[0].Parameters.Id, 0x06010002u);
  EXPECT_EQ(plain[0].Parameters.LoadBlocks, 1);
  EXPECT_EQ(plain[0].Parameters.LoadOffset, 0);

  const Loaded set(
      Query(Request("<Device>1</Device><LoadProfile><LoadBlock>AtTime</LoadBlock>"
                    "<LoadBlocks>8</LoadBlocks><LoadClass>5</LoadClass>"
                    "<LoadTimeFrom>today</LoadTimeFrom>"
                    "<LoadTimeOffset>-120</LoadTimeOffset></LoadProfile>",
                    {"06000002", "02010100"})));
  ASSERT_EQ(set.Count(), 2);
  const TRequestParameters& p = set[0].Parameters;
  EXPECT_EQ(p.Id, 0x06050001u);
  EXPECT_EQ(p.LoadBlocks, 8);
  EXPECT_TRUE(p.LoadFromToday);
  EXPECT_EQ(p.LoadOffset, -120);
  // Other functions of the request are untouched.
  EXPECT_EQ(set[1].Parameters.Id, 0x02010100u);

  const Loaded earliest(
      Query(Request("<LoadBlock>EARLIEST</LoadBlock><LoadClass>all</LoadClass>", {"06030002"})));
  EXPECT_EQ(earliest[0].Parameters.Id, 0x06000000u);

  // Wrong values are reported and fall back to the function's own.
  const Loaded wrong(Query(
      Request("<LoadBlock>soon</LoadBlock><LoadClass>9</LoadClass><LoadBlocks>300</LoadBlocks>",
              {"06020002"})));
  EXPECT_EQ(wrong[0].Parameters.Id, 0x06020002u);
  EXPECT_EQ(wrong[0].Parameters.LoadBlocks, 99);
  EXPECT_EQ(wrong.log.size(), 3u);
}

}  // namespace
