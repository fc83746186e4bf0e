#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "threading/thread_object_list.h"
#include "threading/thread_ptr_uint_object_hash_list.h"
#include "threading/thread_string_list.h"

namespace {

// Counts its live instances.
struct Tracked {
  explicit Tracked(int* live, int v = 0) : live(live), value(v) { ++*live; }
  ~Tracked() { --*live; }
  int* live;
  int value;
};

TEST(ThreadObjectList, OwningListFreesWhatItLoses) {
  int live = 0;
  {
    TThreadObjectList<Tracked> list;
    list.Add(std::make_unique<Tracked>(&live));
    list.Add(std::make_unique<Tracked>(&live));
    list.Add(new Tracked(&live));
    EXPECT_EQ(list.Count(), 3);
    {
      auto w = list.WriteLocked();
      w->Delete(0);
      EXPECT_EQ(live, 2);
      Tracked* kept = w->Extract((*w)[0]);
      EXPECT_EQ(live, 2);
      std::unique_ptr<Tracked> owner(kept);
    }
    EXPECT_EQ(live, 1);
  }
  EXPECT_EQ(live, 0);  // destruction frees the rest
}

TEST(ThreadObjectList, NonOwningListLeavesObjectsAlone) {
  int live = 0;
  Tracked a(&live), b(&live);
  {
    TThreadObjectList<Tracked> list(false);
    list.Add(&a);
    list.Add(&b);
    auto w = list.LockList();
    EXPECT_EQ(w->Remove(&a), 0);
    EXPECT_EQ(w->IndexOf(&b), 0);
    list.UnlockList();
    list.Clear();
    EXPECT_THROW(list.Add(std::make_unique<Tracked>(&live)), EAssertionFailed);
  }
  EXPECT_EQ(live, 2);
}

TEST(ThreadObjectList, BadIndexRaises) {
  int live = 0;
  TThreadObjectList<Tracked> list;
  list.Add(std::make_unique<Tracked>(&live));
  auto w = list.WriteLocked();
  EXPECT_THROW(w->Items(1), EAssertionFailed);
  EXPECT_THROW(w->Delete(-1), EAssertionFailed);
  try {
    w->Items(5);
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  }
}

TEST(ThreadPtrUIntObjectHashList, KeysAreUniqueAndReplacingFreesTheOld) {
  int live = 0;
  TThreadPtrUIntObjectHashList<Tracked> map;
  {
    auto w = map.WriteLocked();
    w->Add(7, std::make_unique<Tracked>(&live, 1));
    w->Add(7, std::make_unique<Tracked>(&live, 2));
    EXPECT_EQ(live, 1);
    EXPECT_EQ(w->Find(7)->value, 2);
    EXPECT_TRUE(w->Remove(7));
    EXPECT_FALSE(w->Remove(7));
    EXPECT_EQ(live, 0);
    w->Add(~uintptr_t{0}, std::make_unique<Tracked>(&live));
  }
  EXPECT_EQ(map.Count(), 1);
}

TEST(ThreadPtrUIntObjectHashList, ForEachVisitsInKeyOrderUntilStopped) {
  int live = 0;
  TThreadPtrUIntObjectHashList<Tracked> map;
  {
    auto w = map.WriteLocked();
    for (uintptr_t key : {30u, 10u, 20u, 40u})
      w->Add(key, std::make_unique<Tracked>(&live, static_cast<int>(key)));
  }
  std::vector<uintptr_t> seen;
  auto r = map.ReadLocked();
  r->ForEach([&](uintptr_t key, Tracked* t, bool& stop) {
    EXPECT_EQ(static_cast<uintptr_t>(t->value), key);
    seen.push_back(key);
    stop = key == 30;
  });
  EXPECT_EQ(seen, (std::vector<uintptr_t>{10, 20, 30}));
}

TEST(ThreadStringList, UnsortedListKeepsDuplicates) {
  // A log keeps every line, repeated or not.
  TThreadStringList<uint32_t> list;
  EXPECT_EQ(list.AddObject("a", 1), 0);
  EXPECT_EQ(list.AddObject("b", 2), 1);
  EXPECT_EQ(list.AddObject("a", 3), 2);
  auto r = list.ReadLocked();
  EXPECT_EQ(r->Count(), 3);
  EXPECT_EQ(r->Objects(2), 3u);
  EXPECT_EQ(r->IndexOf("A"), 0);  // without regard to case by default
}

TEST(ThreadStringList, SortedListAppliesTheDuplicatesRule) {
  TThreadStringList<> list;
  auto w = list.WriteLocked();
  w->Add("pear");
  w->Add("Apple");
  w->SetSorted(true);
  EXPECT_EQ((*w)[0], "Apple");
  EXPECT_EQ(w->Add("apple"), 0);  // dupIgnore: the existing index
  EXPECT_EQ(w->Count(), 2);
  w->SetDuplicates(TDuplicates::dupError);
  EXPECT_THROW(w->Add("PEAR"), EStringListError);
  w->SetDuplicates(TDuplicates::dupAccept);
  w->Add("Pear");
  EXPECT_EQ(w->Count(), 3);
  EXPECT_EQ(w->IndexOf("banana"), -1);
  EXPECT_THROW(w->Insert(0, "x"), EStringListError);
  EXPECT_THROW(w->Strings(3), EStringListError);
}

}  // namespace
