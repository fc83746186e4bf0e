// The receive buffer holds storage only while it holds bytes: thousands of
// idle connections must not each keep a buffer's worth of memory.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "threading/fifo_stream.h"

namespace {

std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

std::vector<uint8_t> Stored(TFIFOStream& fifo) {
  auto r = fifo.ReadLocked();
  return std::vector<uint8_t>(r.get(), r.get() + fifo.Count());
}

TEST(FIFOStorage, NothingUntilTheFirstWriteAndNothingOnceEmptied) {
  TFIFOStream fifo(16384, 64, true);
  EXPECT_EQ(fifo.Allocated(), 0u);
  EXPECT_EQ(fifo.Data(), nullptr);
  const std::vector<uint8_t> data = Bytes(10);
  fifo.Write(data.data(), 10);
  EXPECT_GT(fifo.Allocated(), 0u);
  EXPECT_LT(fifo.Allocated(), 1024u);
  fifo.Consume(4);
  EXPECT_GT(fifo.Allocated(), 0u);
  fifo.Consume(6);
  EXPECT_EQ(fifo.Allocated(), 0u);
  fifo.Write(data.data(), 10);
  fifo.Clear();
  EXPECT_EQ(fifo.Allocated(), 0u);
  EXPECT_EQ(fifo.Count(), 0u);
}

TEST(FIFOStorage, GrowsWithItsBytesUpToCapacityKeepingThem) {
  TFIFOStream fifo(16384, 64, true);
  const std::vector<uint8_t> data = Bytes(20000);
  size_t written = 0;
  for (uint32_t step : {1u, 300u, 1000u, 5000u, 9000u}) {
    fifo.Write(data.data() + written, step);
    written += step;
    EXPECT_GE(fifo.Allocated(), fifo.Count());
    EXPECT_LE(fifo.Allocated(), 16384u);
  }
  EXPECT_EQ(fifo.Count(), 15301u);
  EXPECT_EQ(Stored(fifo), std::vector<uint8_t>(data.begin(), data.begin() + 15301));
  // Full: the oldest bytes go, the storage stays at capacity.
  fifo.Write(data.data() + written, 2000);
  EXPECT_EQ(fifo.Allocated(), 16384u);
  EXPECT_EQ(Stored(fifo).back(), data[written + 1999]);
}

TEST(FIFOStorage, AWriteLargerThanCapacityIntoAnEmptyBuffer) {
  TFIFOStream fifo(100, 8, true);
  const std::vector<uint8_t> big = Bytes(250);
  fifo.Write(big.data(), 250);
  EXPECT_EQ(fifo.Allocated(), 100u);
  EXPECT_EQ(Stored(fifo), std::vector<uint8_t>(big.end() - 100, big.end()));
}

TEST(FIFOStorage, ACapacityOfZeroStoresNothing) {
  TFIFOStream fifo(0, 8, true);
  const std::vector<uint8_t> data = Bytes(5);
  fifo.Write(data.data(), 5);
  EXPECT_EQ(fifo.Count(), 0u);
  EXPECT_EQ(fifo.Allocated(), 0u);
}

}  // namespace
