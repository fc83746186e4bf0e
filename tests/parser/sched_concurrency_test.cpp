#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "parser/client_list.h"
#include "parser/cron/queue_schedule.h"
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

// The host's threads, alive for the whole program: under the mingw runtime a
// thread that has used a message window corrupts the heap when it ends.
class HostThreads {
 public:
  static constexpr int kCount = 4;

  static HostThreads& Get() {
    static HostThreads* const pool = new HostThreads();  // never freed: threads use it
    return *pool;
  }

  // Runs task(i) on threads 0 .. n-1 at once; returns when all are done.
  void Run(int n, const std::function<void(int)>& task) {
    std::unique_lock<std::mutex> lock(mutex_);
    task_ = &task;
    active_ = n;
    pending_ = n;
    ++generation_;
    start_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
    task_ = nullptr;
  }

 private:
  HostThreads() {
    for (int i = 0; i < kCount; ++i)
      std::thread([this, i] { Loop(i); }).detach();
  }

  void Loop(int index) {
    uint64_t seen = 0;
    for (;;) {
      const std::function<void(int)>* task = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        start_.wait(lock, [&] { return generation_ != seen; });
        seen = generation_;
        if (index >= active_) continue;
        task = task_;
      }
      (*task)(index);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  uint64_t generation_ = 0;
  int active_ = 0;
  int pending_ = 0;
};

TEST(SchedConcurrency, ThreadsMakingTheSameNewClientGetOne) {
  platform::VirtualClock clock;
  FakeModule module;
  TestSource source(&module);
  source.Queue->Requests->Add(Item("poll", kMethodPoll, 1000));
  constexpr int kThreads = 4;
  constexpr uintptr_t kClients = 20;
  std::vector<std::vector<TCustomParserClient*>> got(kClients + 1,
                                                     std::vector<TCustomParserClient*>(kThreads));
  std::atomic<int> arrived{0};
  HostThreads::Get().Run(kThreads, [&](int t) {
    for (uintptr_t id = 1; id <= kClients; ++id) {
      TPluginCallRec block = EventBlock(id, "peer", kEventPortOpened);
      // All threads ask for the same new client at once.
      arrived.fetch_add(1);
      SpinUntil(arrived, static_cast<int>(id) * kThreads);
      TClientLookup found = FindOrCreateClient(*source.Clients, block, &source, source.ClientClass);
      got[id][static_cast<size_t>(t)] = found.Client;
    }
  });
  for (uintptr_t id = 1; id <= kClients; ++id)
    for (TCustomParserClient* c : got[id])
      EXPECT_EQ(c, got[id][0]);
  EXPECT_EQ(source.Clients->Count(), static_cast<int>(kClients));
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
  // The host threads deliver blocks while this thread is the data source's.
  std::thread host_side([&] {
    HostThreads::Get().Run(3, [&](int h) {
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
  host_side.join();
  EXPECT_LE(source.Clients->Count(), 40);
  // Everything still works afterwards.
  source.Feed(99, "late", "<a>");
  EXPECT_NE(source.Client(99), nullptr);
}

}  // namespace
