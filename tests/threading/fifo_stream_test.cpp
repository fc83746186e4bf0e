#include "threading/fifo_stream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

namespace {

// Bytes counting up from `first`, wrapping at 256.
std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

std::vector<uint8_t> Stored(TFIFOStream& fifo) {
  auto r = fifo.ReadLocked();
  return std::vector<uint8_t>(r.get(), r.get() + fifo.Count());
}

TEST(FIFOStream, AWriteThatDoesNotFitDiscardsAtLeastOneStep) {
  TFIFOStream fifo(16384, 64, true);
  const std::vector<uint8_t> old = Bytes(16380);
  fifo.Write(old.data(), 16380);
  const std::vector<uint8_t> fresh = Bytes(10, 0xA0);
  fifo.Write(fresh.data(), 10);
  EXPECT_EQ(fifo.Count(), 16326u);
  const std::vector<uint8_t> stored = Stored(fifo);
  EXPECT_EQ(stored.front(), old[64]);  // the oldest 64 bytes went
  EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), stored.end() - 10));
}

TEST(FIFOStream, DiscardsMoreThanAStepWhenTheWriteNeedsIt) {
  TFIFOStream fifo(1000, 64, true);
  const std::vector<uint8_t> old = Bytes(900);
  fifo.Write(old.data(), 900);
  const std::vector<uint8_t> fresh = Bytes(300, 7);
  fifo.Write(fresh.data(), 300);  // needs 200 bytes of room
  EXPECT_EQ(fifo.Count(), 1000u);
  EXPECT_EQ(Stored(fifo).front(), old[200]);
}

TEST(FIFOStream, FillsToExactlyCapacity) {
  TFIFOStream fifo(16384, 64, true);
  const std::vector<uint8_t> data = Bytes(16384);
  fifo.Write(data.data(), 16000);
  fifo.Write(data.data() + 16000, 384);
  EXPECT_EQ(fifo.Count(), 16384u);
  EXPECT_EQ(fifo.FreeSpace(), 0u);
  EXPECT_EQ(Stored(fifo), data);
}

TEST(FIFOStream, AWriteLongerThanCapacityKeepsItsLastBytes) {
  TFIFOStream fifo(100, 64, true);
  const std::vector<uint8_t> before = Bytes(30, 200);
  fifo.Write(before.data(), 30);
  const std::vector<uint8_t> big = Bytes(250);
  fifo.Write(big.data(), 250);
  EXPECT_EQ(fifo.Count(), 100u);
  EXPECT_EQ(Stored(fifo), std::vector<uint8_t>(big.end() - 100, big.end()));
  // Also when the write just exceeds the room left.
  const std::vector<uint8_t> next = Bytes(100, 1);
  fifo.Write(next.data(), 100);
  EXPECT_EQ(Stored(fifo), next);
}

TEST(FIFOStream, WithoutAutoDiscardAnOverrunStoresNothing) {
  TFIFOStream fifo(10, 4, false);
  const std::vector<uint8_t> data = Bytes(8);
  fifo.Write(data.data(), 8);
  try {
    fifo.Write(data.data(), 3);
    FAIL() << "no exception";
  } catch (const EFIFOStream& e) {
    EXPECT_STREQ(e.what(), "Buffer over-run.");
  }
  EXPECT_EQ(Stored(fifo), data);
  fifo.Write(data.data(), 2);  // what fits still goes in
  EXPECT_EQ(fifo.Count(), 10u);
  fifo.Consume(5);  // only with auto discard
  EXPECT_EQ(fifo.Count(), 10u);
}

TEST(FIFOStream, ConsumeTakesFromTheFrontInPlace) {
  TFIFOStream fifo(64, 8, true);
  const std::vector<uint8_t> data = Bytes(20);
  fifo.Write(data.data(), 20);
  {
    // The receive path: read in place under the write lock, then consume.
    auto w = fifo.WriteLocked();
    EXPECT_EQ(w.get()[0], 0);
    fifo.Consume(5);
    EXPECT_EQ(w.get()[0], 5);
    EXPECT_EQ(fifo.Count(), 15u);
  }
  fifo.Consume(100);
  EXPECT_EQ(fifo.Count(), 0u);
  fifo.Write(data.data(), 3);
  fifo.Clear();
  EXPECT_EQ(fifo.Count(), 0u);
}

TEST(FIFOStreamConcurrency, WritersAndConsumersKeepCountWithinCapacity) {
  TFIFOStream fifo(256, 16, true);
  std::atomic<bool> over{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] {
      const std::vector<uint8_t> data = Bytes(40);
      for (int i = 0; i < 3000; ++i)
        fifo.Write(data.data(), static_cast<uint32_t>(i % 40) + 1);
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 3000; ++i) {
      auto w = fifo.WriteLocked();
      if (fifo.Count() > fifo.Capacity()) over = true;
      fifo.Consume(7);
    }
  });
  for (auto& t : threads)
    t.join();
  EXPECT_FALSE(over);
  EXPECT_LE(fifo.Count(), 256u);
}

}  // namespace
