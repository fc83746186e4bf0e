#include "threading/multi_read_exclusive_write_synchronizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "threading/thread_object_list.h"

namespace {

void WaitForWriters(const TMultiReadExclusiveWriteSynchronizer& lock, uint32_t n) {
  while (lock.WaitingWriters() < n)
    std::this_thread::yield();
}

TEST(MultiReadExclusiveWrite, TheWriterMayLockAgainAndRead) {
  TMultiReadExclusiveWriteSynchronizer lock;
  EXPECT_TRUE(lock.BeginWrite());
  EXPECT_TRUE(lock.BeginWrite());
  lock.BeginRead();
  EXPECT_TRUE(lock.IsWriter());
  lock.EndRead();
  lock.EndWrite();
  EXPECT_TRUE(lock.IsWriter());
  lock.EndWrite();
  EXPECT_FALSE(lock.IsWriter());
}

TEST(MultiReadExclusiveWrite, UnbalancedUnlocksAreIgnored) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.EndRead();
  lock.EndWrite();
  EXPECT_TRUE(lock.BeginWrite());
  lock.EndWrite();
}

TEST(MultiReadExclusiveWriteConcurrency, ReadersShareTheLock) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginRead();
  std::thread([&] {
    lock.BeginRead();  // would hang if readers excluded each other
    lock.EndRead();
  }).join();
  lock.EndRead();
}

TEST(MultiReadExclusiveWriteConcurrency, ARecursiveReadPassesAWaitingWriter) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginRead();
  std::atomic<bool> wrote{false};
  std::thread writer([&] {
    lock.BeginWrite();
    wrote = true;
    lock.EndWrite();
  });
  WaitForWriters(lock, 1);
  lock.BeginRead();  // must not queue behind the writer that waits for us
  EXPECT_FALSE(wrote);
  lock.EndRead();
  lock.EndRead();
  writer.join();
  EXPECT_TRUE(wrote);
}

TEST(MultiReadExclusiveWriteConcurrency, AWaitingWriterGoesBeforeNewReaders) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginRead();
  std::vector<int> order;
  std::mutex order_mutex;
  auto note = [&](int who) {
    std::lock_guard<std::mutex> g(order_mutex);
    order.push_back(who);
  };
  std::thread writer([&] {
    lock.BeginWrite();
    note(1);
    lock.EndWrite();
  });
  WaitForWriters(lock, 1);
  std::thread reader([&] {
    lock.BeginRead();
    note(2);
    lock.EndRead();
  });
  lock.EndRead();
  writer.join();
  reader.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

// Two readers that both ask for the write lock: each one's read share is
// suspended while it waits, so neither blocks the other; the one that comes
// second learns that a writer ran in between.
TEST(MultiReadExclusiveWriteConcurrency, TwoPromotionsDoNotDeadlock) {
  TMultiReadExclusiveWriteSynchronizer lock;
  int value = 0;
  std::promise<void> both_read_promise;
  std::shared_future<void> both_read = both_read_promise.get_future().share();
  std::atomic<int> readers{0};
  bool undisturbed[2] = {};
  int seen_before[2] = {};
  int seen_after[2] = {};
  auto promoter = [&](int i) {
    lock.BeginRead();
    seen_before[i] = value;
    if (++readers == 2) both_read_promise.set_value();
    both_read.wait();
    undisturbed[i] = lock.BeginWrite();
    seen_after[i] = value;
    ++value;
    lock.EndWrite();
    lock.EndRead();
  };
  std::thread a(promoter, 0);
  std::thread b(promoter, 1);
  a.join();
  b.join();
  EXPECT_EQ(value, 2);
  EXPECT_NE(undisturbed[0], undisturbed[1]);
  const int second = undisturbed[0] ? 1 : 0;
  EXPECT_EQ(seen_before[second], 0);
  EXPECT_EQ(seen_after[second], 1);  // must re-read after the promotion
}

TEST(MultiReadExclusiveWriteConcurrency, APromotionLetsAWaitingWriterFinish) {
  TMultiReadExclusiveWriteSynchronizer lock;
  lock.BeginRead();
  std::thread writer([&] {
    lock.BeginWrite();
    lock.EndWrite();
  });
  WaitForWriters(lock, 1);
  lock.BeginWrite();  // our read share steps aside; no deadlock with the writer
  lock.EndWrite();
  lock.EndRead();
  writer.join();
}

TEST(MultiReadExclusiveWriteConcurrency, ReadersNeverSeeAHalfWrite) {
  TMultiReadExclusiveWriteSynchronizer lock;
  long a = 0;
  long b = 0;
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        lock.BeginWrite();
        ++a;
        lock.BeginWrite();  // re-entry inside the write
        ++b;
        lock.EndWrite();
        lock.EndWrite();
      }
    });
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        lock.BeginRead();
        if (a != b) ++torn;
        if (i % 3 == 0) {
          lock.BeginWrite();  // promotion
          ++a;
          ++b;
          lock.EndWrite();
        }
        lock.EndRead();
      }
    });
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, 2 * 2000 + 2 * 667);
}

TEST(ThreadObjectConcurrency, GuardsReleaseTheirLocks) {
  TThreadObjectList<int> list;
  {
    auto r = list.ReadLocked();
    EXPECT_EQ(r->Count(), 0);
  }
  {
    auto w = list.WriteLocked();
    w->Add(std::make_unique<int>(5));
  }
  std::thread([&] { EXPECT_EQ(list.Count(), 1); }).join();
  auto r = list.ReadLocked();
  r.Unlock();
  std::thread([&] { list.Clear(); }).join();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
