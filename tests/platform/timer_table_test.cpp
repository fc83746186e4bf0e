#include "platform/timer_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Window {
  std::string name;
};
using Table = platform::TimerTable<Window>;

std::shared_ptr<Window> MakeWindow(const std::string& name) {
  return std::make_shared<Window>(Window{name});
}

// "name:id" of each collected timer, in the order collected.
std::vector<std::string> Names(const std::vector<Table::Due>& due) {
  std::vector<std::string> out;
  for (const Table::Due& d : due)
    out.push_back(d.owner->name + ":" + std::to_string(d.id));
  return out;
}

// One pass as the loop runs it: collect, then re-arm each in turn.
std::vector<std::string> Pass(Table& table, uint64_t now) {
  std::vector<Table::Due> due;
  table.CollectDue(now, &due);
  std::vector<Table::Due> fired;
  for (const Table::Due& d : due)
    if (table.Rearm(d, now)) fired.push_back(d);
  return Names(fired);
}

TEST(TimerTable, DueTimersComeInDueOrderTiesInSettingOrder) {
  Table table;
  auto a = MakeWindow("a");
  auto b = MakeWindow("b");
  EXPECT_EQ(table.Next(), UINT64_MAX);
  EXPECT_EQ(table.Until(0), UINT64_MAX);
  EXPECT_EQ(table.Set(b, 1, 100, 0), 100u);
  table.Set(a, 1, 30, 0);
  table.Set(b, 2, 30, 0);   // same due time as a's, set later
  table.Set(a, 2, 20, 10);  // due at 30 too, set last
  EXPECT_EQ(table.Next(), 30u);
  EXPECT_EQ(table.Until(25), 5u);
  EXPECT_EQ(table.Until(40), 0u);  // overdue
  EXPECT_TRUE(Pass(table, 29).empty());
  EXPECT_EQ(Pass(table, 100), (std::vector<std::string>{"a:1", "b:2", "a:2", "b:1"}));
  // No catching up: every one is next due a period after this pass.
  EXPECT_EQ(table.Next(), 120u);
  EXPECT_EQ(Pass(table, 130), (std::vector<std::string>{"a:2", "a:1", "b:2"}));
}

TEST(TimerTable, AResetOrKillDuringAPassStopsACollectedTimer) {
  Table table;
  auto w = MakeWindow("w");
  table.Set(w, 1, 10, 0);
  table.Set(w, 2, 10, 0);
  table.Set(w, 3, 10, 0);
  std::vector<Table::Due> due;
  table.CollectDue(10, &due);
  ASSERT_EQ(due.size(), 3u);
  // The first handler kills timer 2 and resets timer 3.
  EXPECT_TRUE(table.Rearm(due[0], 10));
  EXPECT_TRUE(table.Kill(w.get(), 2));
  EXPECT_FALSE(table.Kill(w.get(), 2));
  table.Set(w, 3, 50, 10);
  EXPECT_FALSE(table.Rearm(due[1], 10));
  EXPECT_FALSE(table.Rearm(due[2], 10));
  // Timer 3 keeps its new setting, not the collected one's period.
  EXPECT_EQ(Pass(table, 20), (std::vector<std::string>{"w:1"}));
  EXPECT_EQ(Pass(table, 60), (std::vector<std::string>{"w:1", "w:3"}));
  EXPECT_EQ(table.Size(), 2u);
}

// Resets leave stale heap entries that the table clears out now and then by
// rebuilding the heap; a rebuild in the middle of a pass (a handler resetting
// timers) must not give the timers collected but not yet re-armed a second
// tick, not even when the handler then pumps messages and so runs a pass of
// its own at the same time.
TEST(TimerTable, AHeapRebuildDuringAPassFiresNothingTwice) {
  for (const bool nested : {false, true}) {
    Table table;
    auto w = MakeWindow("w");
    for (uintptr_t id = 0; id < 10; ++id)
      table.Set(w, id, 10, 0);
    std::vector<Table::Due> due;
    table.CollectDue(10, &due);
    ASSERT_EQ(due.size(), 10u);
    EXPECT_TRUE(table.Rearm(due[0], 10));
    for (int i = 0; i < 200; ++i)
      table.Set(w, 99, 1000, 10);  // the first handler; the heap rebuilds meanwhile
    size_t ticks = nested ? Pass(table, 10).size() : 0;
    for (size_t i = 1; i < due.size(); ++i)
      ticks += table.Rearm(due[i], 10) ? 1 : 0;
    EXPECT_EQ(ticks, 9u) << "nested: " << nested;
    EXPECT_TRUE(Pass(table, 10).empty());
    EXPECT_EQ(table.Next(), 20u);
    EXPECT_EQ(Pass(table, 20).size(), 10u);
  }
}

TEST(TimerTable, RemovingAnOwnerTakesOnlyItsTimersAndHandsBackItsReferences) {
  Table table;
  auto x = MakeWindow("x");
  auto y = MakeWindow("y");
  table.Set(x, 1, 10, 0);
  table.Set(x, 2, 20, 0);
  table.Set(x, 1, 30, 0);  // a reset is still one timer
  table.Set(y, 1, 40, 0);
  EXPECT_EQ(x.use_count(), 3);
  std::vector<Table::Due> collected;
  table.CollectDue(30, &collected);  // x's timers, due in the same pass
  std::vector<std::shared_ptr<Window>> keep;
  table.RemoveOwner(x.get(), &keep);
  EXPECT_EQ(keep.size(), 2u);
  keep.clear();
  EXPECT_EQ(x.use_count(), 1 + static_cast<long>(collected.size()));
  for (const Table::Due& d : collected)
    EXPECT_FALSE(table.Rearm(d, 30));
  EXPECT_FALSE(table.Kill(x.get(), 1));
  EXPECT_EQ(table.Next(), 40u);
  table.RemoveOwner(x.get(), &keep);  // nothing left
  EXPECT_TRUE(keep.empty());
  // The owner may set timers again, and loses them again with its end.
  table.Set(x, 7, 10, 100);
  table.RemoveOwner(x.get(), &keep);
  EXPECT_EQ(keep.size(), 1u);
  EXPECT_EQ(Pass(table, 1000), (std::vector<std::string>{"y:1"}));
}

// Thousands of timers under random resets, kills and passes (the heap then
// rebuilds itself many times, also in the middle of a pass) fire exactly as
// a plain list of settings says: each due one once, in due order.
TEST(TimerTable, ManyTimersUnderResetsAndKillsFireAsAPlainModelSays) {
  struct Setting {
    uint64_t due;
    uint64_t seq;
    uint32_t period;
  };
  constexpr int kWindows = 50;
  constexpr uintptr_t kIds = 80;
  std::vector<std::shared_ptr<Window>> windows;
  for (int i = 0; i < kWindows; ++i)
    windows.push_back(MakeWindow("w" + std::to_string(i)));
  Table table;
  std::map<std::pair<int, uintptr_t>, Setting> model;
  uint64_t seq = 0;
  std::mt19937 rng(645);
  auto set = [&](int w, uintptr_t id, uint32_t period, uint64_t now) {
    table.Set(windows[w], id, period, now);
    model[{w, id}] = Setting{now + period, ++seq, period};
  };
  for (int w = 0; w < kWindows; ++w)
    for (uintptr_t id = 0; id < kIds; ++id)
      set(w, id, 10 + rng() % 500, 0);

  uint64_t now = 0;
  for (int round = 0; round < 200; ++round) {
    now += 1 + rng() % 40;
    // Between passes: resets, kills, and now and then a window's end.
    for (int i = 0; i < 300; ++i) {
      const int w = static_cast<int>(rng() % kWindows);
      const uintptr_t id = rng() % kIds;
      if (rng() % 4 == 0) {
        EXPECT_EQ(table.Kill(windows[w].get(), id), model.erase({w, id}) == 1);
      } else {
        set(w, id, 10 + rng() % 500, now);
      }
    }
    if (round % 50 == 49) {
      const int w = static_cast<int>(rng() % kWindows);
      std::vector<std::shared_ptr<Window>> keep;
      table.RemoveOwner(windows[w].get(), &keep);
      size_t removed = 0;
      for (uintptr_t id = 0; id < kIds; ++id)
        removed += model.erase({w, id});
      EXPECT_EQ(keep.size(), removed);
    }
    ASSERT_EQ(table.Size(), model.size());

    std::vector<std::tuple<uint64_t, uint64_t, std::string>> expected;
    for (const auto& [key, s] : model) {
      if (s.due <= now)
        expected.emplace_back(s.due, s.seq,
                              windows[key.first]->name + ":" + std::to_string(key.second));
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> expected_names;
    for (const auto& e : expected)
      expected_names.push_back(std::get<2>(e));
    ASSERT_EQ(Pass(table, now), expected_names) << "round " << round;
    for (auto& [key, s] : model) {
      if (s.due <= now) s.due = now + s.period;
    }
    uint64_t first = UINT64_MAX;
    for (const auto& [key, s] : model)
      first = std::min(first, s.due);
    ASSERT_EQ(table.Next(), first) << "round " << round;
  }
}

}  // namespace
