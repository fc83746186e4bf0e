#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "parser/client_list.h"
#include "parser/data_source.h"
#include "sched_test_support.h"

namespace {

using sched_test::DataBlock;
using sched_test::EventBlock;
using sched_test::FakeModule;
using sched_test::Item;
using sched_test::TestSource;

void SpinUntil(const std::atomic<int>& counter, int value) {
  while (counter.load() < value)
    std::this_thread::yield();
}

TEST(SchedConcurrency, ThreadsMakingTheSameNewClientGetOne) {
  platform::VirtualClock clock;
  FakeModule module;
  TestSource source(&module);
  source.Queue->Requests->Add(Item("poll", kMethodPoll, 1000));
  for (uintptr_t id = 1; id <= 20; ++id) {
    std::atomic<int> ready{0};
    std::vector<TCustomParserClient*> got(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t)
      threads.emplace_back([&, t] {
        TPluginCallRec block = EventBlock(id, "peer", kEventPortOpened);
        ready.fetch_add(1);
        SpinUntil(ready, static_cast<int>(got.size()));
        TClientLookup found =
            FindOrCreateClient(*source.Clients, block, &source, source.ClientClass);
        got[t] = found.Client;
      });
    for (auto& t : threads)
      t.join();
    for (TCustomParserClient* c : got)
      EXPECT_EQ(c, got[0]);
    EXPECT_EQ(source.Clients->Count(), static_cast<int>(id));
  }
}

// Host threads deliver blocks for many connections while the data source's
// thread sweeps, fires scheduled and host events and reloads the requests.
TEST(SchedConcurrency, BlocksTimersAndReloadsTogether) {
  platform::VirtualClock clock;
  FakeModule module;
  TestSource source(&module);
  auto load = [&](int round) {
    source.Queue->SetTimerEnabled(false);
    source.Queue->ClearRequests();
    source.Queue->MinInterval = round % 3 * 10;
    source.Queue->ClearScheduledEvents();
    source.Queue->Requests->Add(Item("poll" + std::to_string(round), kMethodPoll, 20));
    auto timed = Item("cron", kMethodCron);
    SplitCronParams("*/2 * * * * *", &timed->Mode.CronParams);
    AddTimeEvents(*source.Queue, *timed);
    source.Queue->Requests->Add(std::move(timed));
    auto event = Item("event", kMethodEvent);
    event->Mode.MethodText = "Kick";
    source.Queue->Requests->Add(std::move(event));
    source.UpdateClientQueues(true, true);
  };
  load(0);

  std::atomic<bool> stop{false};
  std::atomic<int> blocks{0};
  std::vector<std::thread> hosts;
  for (int h = 0; h < 3; ++h)
    hosts.emplace_back([&, h] {
      std::mt19937 random(static_cast<unsigned>(h));
      static const char* kPieces[] = {"<a>", "<R>", "<X>", "<STOP>", "<par", "tial>", "zz", "<"};
      while (!stop.load()) {
        const uintptr_t id = random() % 40;
        const std::string name = "10.0.0." + std::to_string(id) + ":502";
        const int kind = static_cast<int>(random() % 10);
        if (kind == 0) {
          TPluginCallRec block = EventBlock(id, name, random() % 2 ? 257 : 258);
          source.ProcessBlock(block);
        } else {
          std::string bytes;
          for (int n = static_cast<int>(random() % 4); n >= 0; --n)
            bytes += kPieces[random() % 8];
          TPluginCallRec block = DataBlock(id, name, bytes);
          source.ProcessBlock(block);
        }
        platform::PumpMessages(0);  // the ticks of the clients this thread made
        blocks.fetch_add(1);
      }
    });

  // Virtual time runs fast, so that connections expire and are swept.
  for (int round = 1; round < 400 || blocks.load() < 6000; ++round) {
    clock.Advance(250);
    platform::PumpMessages(0);
    if (round % 40 == 0) load(round);
    if (round % 7 == 0) source.FireEvent("kick", false, nullptr);
    if (round % 13 == 0) source.UpdateClientQueues(round % 2 == 0, false);
    if (round % 5 == 0) std::this_thread::yield();
  }
  stop = true;
  for (auto& t : hosts)
    t.join();
  EXPECT_LE(source.Clients->Count(), 40);
  // Everything still works afterwards.
  source.Feed(99, "late", "<a>");
  EXPECT_NE(source.Client(99), nullptr);
}

}  // namespace
