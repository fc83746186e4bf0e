#include "parser/data_source.h"
#include "parser/cron/queue_schedule.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "parser/cron/scheduled_event.h"
#include "platform/datetime.h"
#include "sched_test_support.h"

namespace {

using sched_test::FakeModule;
using sched_test::Item;
using sched_test::RunFor;
using sched_test::TestClient;
using sched_test::TestSource;

double At(int year, int month, int day, int hour, int minute, int second) {
  int64_t seconds = 0;
  EXPECT_TRUE(platform::TryEncodeDateTime(year, month, day, hour, minute, second, &seconds));
  return static_cast<double>(seconds) / platform::kSecondsPerDay;
}

// The events of the master queue as "name-suffix=cron text".
std::vector<std::string> Events(TQueueControllerTimer& queue) {
  std::vector<std::string> out;
  std::lock_guard<std::mutex> lock(queue.EventsLock);
  for (size_t i = 0; i < queue.ScheduledEvents->Count(); ++i) {
    TScheduledEvent& e = queue.ScheduledEvents->Items(i);
    out.push_back(e.Name.substr(e.Name.find('/')) + "=" + e.Schedule.CronText);
  }
  return out;
}

class DataSourceTest : public ::testing::Test {
 protected:
  // Thursday, 1 June 2023, 07:04:50.
  platform::VirtualClock clock{1'000'000, At(2023, 6, 1, 7, 4, 50)};
  FakeModule module;
  TestSource source{&module};

  TBasicRequestItem& AddMaster(std::unique_ptr<TBasicRequestItem> item) {
    TBasicRequestItem* raw = item.get();
    source.Queue->Requests->Add(std::move(item));
    return *raw;
  }
  std::unique_ptr<TBasicRequestItem> TimeItem(const std::string& caption,
                                              const std::string& times) {
    auto item = Item(caption, kMethodAtTime);
    item->Mode.MethodText = times;
    return item;
  }
  std::unique_ptr<TBasicRequestItem> CronItem(const std::string& caption, const std::string& text) {
    auto item = Item(caption, kMethodCron);
    item->Mode.MethodText = text;
    SplitCronParams(text, &item->Mode.CronParams);
    return item;
  }
  std::vector<std::string> errors;
  void CatchErrors() {
    source.Queue->OnError = [this](TQueueController&, const std::string& context,
                                   const std::exception& e, const std::string& info) {
      errors.push_back(context + "|" + info + "|" + e.what());
    };
  }
};

TEST_F(DataSourceTest, TimesOfDayBecomeDailyEvents) {
  TBasicRequestItem& item =
      AddMaster(TimeItem("t", "7:05 am;7:05 pm, 25:00;10:75;12 am;12:30 PM;;5:15:20 pm;x;08:30"));
  AddTimeEvents(*source.Queue, item);
  EXPECT_EQ(Events(*source.Queue),
            (std::vector<std::string>{"/0=0 5 7 * * * *", "/1=0 5 19 * * * *", "/3=0 0 10 * * * *",
                                      "/4=0 0 0 * * * *", "/5=0 30 12 * * * *",
                                      "/7=20 15 17 * * * *", "/9=0 30 8 * * * *"}));
  EXPECT_EQ(source.Queue->ScheduledEvents->Items(0).Name, item.ScheduleKey + "/0");
  EXPECT_TRUE(std::regex_match(item.ScheduleKey, std::regex("G2_[0-9A-F]{8}_[0-9A-F]{8}")));
}

TEST_F(DataSourceTest, CronFieldsGiveTheirText) {
  TBasicRequestItem& cron = AddMaster(CronItem("c", "0 0 12 * * *"));
  AddTimeEvents(*source.Queue, cron);
  TBasicRequestItem& empty = AddMaster(CronItem("e", "too short"));
  AddTimeEvents(*source.Queue, empty);
  EXPECT_EQ(Events(*source.Queue),
            (std::vector<std::string>{"/0=0 0 12 * * * *", "/0=0 0 0 * * * *"}));
  EXPECT_NE(cron.ScheduleKey, empty.ScheduleKey);
}

TEST_F(DataSourceTest, KeysStayApartWhenTemplatesReuseAnAddress) {
  std::vector<std::string> keys;
  for (int i = 0; i < 3; ++i) {
    auto templ = TimeItem("t", "08:00");  // freed right after, as the loader does
    AddTimeEvents(*source.Queue, *templ);
    keys.push_back(templ->ScheduleKey);
  }
  EXPECT_NE(keys[0], keys[1]);
  EXPECT_NE(keys[1], keys[2]);
  EXPECT_NE(keys[0], keys[2]);
}

TEST_F(DataSourceTest, SchedulesThatDoNotParseAreReportedAndDoNotStallTheQueue) {
  CatchErrors();
  TBasicRequestItem& bad = AddMaster(CronItem("bad", "0 75 12 * * *"));
  AddTimeEvents(*source.Queue, bad);
  TBasicRequestItem& worse = AddMaster(CronItem("worse", "0 0 ab * * *"));
  AddTimeEvents(*source.Queue, worse);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].substr(0, errors[0].find('|', 5)), "Cron|0 75 12 * * * *");
  EXPECT_EQ(errors[1].substr(0, errors[1].find('|', 5)), "Cron|0 0 ab * * * *");
  EXPECT_EQ(source.Queue->ScheduledEvents->Count(), 2u);  // the events stay

  // The good items still get their events, and the clients still poll.
  TBasicRequestItem& good = AddMaster(TimeItem("good", "07:05"));
  AddTimeEvents(*source.Queue, good);
  AddMaster(Item("poll", kMethodPoll, 1000));
  source.Event(1, "c1", kEventPortOpened);
  RunFor(clock, 20000, 100);
  const std::vector<std::string>& sent = source.Client(1)->sent;
  EXPECT_NE(std::find(sent.begin(), sent.end(), "good"), sent.end());
  EXPECT_NE(std::find(sent.begin(), sent.end(), "poll"), sent.end());
  EXPECT_EQ(std::find(sent.begin(), sent.end(), "bad"), sent.end());
}

TEST_F(DataSourceTest, TimeAndCronItemsAreSentAtTheirMomentsByEveryClient) {
  AddTimeEvents(*source.Queue, AddMaster(TimeItem("time", "7:05 am;7:05 pm")));
  AddTimeEvents(*source.Queue, AddMaster(CronItem("cron", "30 */20 * * * *")));
  source.Event(1, "10.0.0.1:1", kEventPortOpened);
  source.Event(2, "10.0.0.2:1", kEventPortOpened);
  RunFor(clock, 5000, 1000);
  EXPECT_TRUE(source.Client(1)->sent.empty());
  RunFor(clock, 7000, 1000);  // past 07:05:00
  for (uintptr_t id : {1u, 2u})
    EXPECT_EQ(source.Client(id)->sent, std::vector<std::string>{"time"}) << id;
  RunFor(clock, 16 * 60000, 1000);  // past 07:20:30
  EXPECT_EQ(source.Client(2)->sent, (std::vector<std::string>{"time", "cron"}));
  RunFor(clock, 12 * 3600000, 1000);  // to 19:21:02, three cron moments an hour
  for (uintptr_t id : {1u, 2u}) {
    const std::vector<std::string>& sent = source.Client(id)->sent;
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "time"), 2) << id;
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "cron"), 37) << id;
  }
  // The master never sends and keeps nothing due.
  auto master = source.Queue->LockState();
  for (TBasicRequestItem* item : master.Items())
    EXPECT_FALSE(item->Due);
}

TEST_F(DataSourceTest, EventsReachEveryClient) {
  auto event = Item("door", kMethodEvent);
  event->Mode.MethodText = "Door";
  AddMaster(std::move(event));
  source.Event(1, "c1", kEventPortOpened);
  source.Event(2, "c2", kEventPortOpened);
  RunFor(clock, 500, 50);
  EXPECT_TRUE(source.Client(1)->sent.empty());
  source.FireEvent("DOOR", false, nullptr);
  RunFor(clock, 100, 50);
  EXPECT_EQ(source.Client(1)->sent, std::vector<std::string>{"door"});
  EXPECT_EQ(source.Client(2)->sent, std::vector<std::string>{"door"});
}

TEST_F(DataSourceTest, ClientQueuesSendOnlyWithTheRequestRole) {
  AddMaster(Item("poll", kMethodPoll, 100));
  module.role0 = false;
  source.Event(1, "c1", kEventPortOpened);
  RunFor(clock, 1000, 50);
  TestClient* client = source.Client(1);
  EXPECT_TRUE(client->sent.empty());
  EXPECT_FALSE(client->Queue->Timer->Enabled());
  module.role0 = true;
  source.UpdateClientQueues(false, false);
  RunFor(clock, 100, 50);
  EXPECT_FALSE(client->sent.empty());
}

TEST_F(DataSourceTest, ReloadingCopiesTheMasterRequestsAgain) {
  AddMaster(Item("old", kMethodPoll, 100000));
  source.Event(1, "c1", kEventPortOpened);
  TestClient* client = source.Client(1);
  client->answer_timeout = 60000;
  RunFor(clock, 100, 50);
  ASSERT_EQ(client->sent, std::vector<std::string>{"old"});
  source.Queue->ClearRequests();
  AddMaster(Item("new", kMethodPoll, 100000));
  source.Queue->MinInterval = 70;
  source.UpdateClientQueues(true, true);
  EXPECT_EQ(client->Queue->MinInterval.load(), 70);
  {
    auto state = client->Queue->LockState();
    EXPECT_EQ(state.Pending(), nullptr);
    ASSERT_EQ(state.Items().Count(), 1);
    EXPECT_EQ(state.Items()[0]->Caption, "new");
  }
  RunFor(clock, 100, 50);
  EXPECT_EQ(client->sent, (std::vector<std::string>{"old", "new"}));
}

TEST_F(DataSourceTest, AConnectionIdlesLongerThanItsLongestRequestPeriod) {
  AddMaster(Item("slow", kMethodPoll, 120000));
  AddMaster(Item("once", kMethodOnce));
  EXPECT_EQ(LongestRequestPeriod(source), 120000);
  source.Event(1, "c1", kEventPortOpened);
  source.Feed(2, "COM2", "");
  EXPECT_EQ(source.Client(1)->IdleTimeout.load(), 156000u);
  EXPECT_EQ(source.Client(2)->IdleTimeout.load(), 60000u);  // not bound to a connection
}

TEST_F(DataSourceTest, TheLongestPeriodCountsGapsBetweenMoments) {
  AddMaster(Item("once", kMethodOnce));
  EXPECT_EQ(LongestRequestPeriod(source), 0);
  TBasicRequestItem& hourly = AddMaster(CronItem("hourly", "0 0 * * * *"));
  AddTimeEvents(*source.Queue, hourly);
  EXPECT_EQ(LongestRequestPeriod(source), 3600000);
  TBasicRequestItem& twice = AddMaster(TimeItem("twice", "08:00;09:00"));
  AddTimeEvents(*source.Queue, twice);
  EXPECT_EQ(LongestRequestPeriod(source), 86400000);
  auto event = Item("event", kMethodEvent);
  AddMaster(std::move(event));
  EXPECT_EQ(LongestRequestPeriod(source), 86400000);
}

TEST_F(DataSourceTest, DataSourcesAreFoundByNumberFromTheEnd) {
  TestSource second(&module, 2);
  TestSource third(&module, 1);
  EXPECT_EQ(FindDataSource(&module, 1), &third);
  EXPECT_EQ(FindDataSource(&module, 2), &second);
  EXPECT_EQ(FindDataSource(&module, -1), &third);
  EXPECT_EQ(FindDataSource(&module, 5), nullptr);
  EXPECT_EQ(FindDataSource(nullptr, 1), nullptr);
}

TEST_F(DataSourceTest, StopFreesTheMasterQueue) {
  AddTimeEvents(*source.Queue, AddMaster(TimeItem("time", "07:05")));
  source.Event(1, "c1", kEventPortOpened);
  source.Stop();
  EXPECT_EQ(source.Queue, nullptr);
  source.UpdateTimers(true);
  source.FireEvent("x", false, nullptr);
  source.UpdateClientQueues(true, true);
  RunFor(clock, 20000, 1000);
  EXPECT_TRUE(source.Client(1)->sent.empty());
}

}  // namespace
