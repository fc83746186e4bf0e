// Frame search and value decoding alone (no records) on the reference
// corpus: clean.bin in place and through the receive buffer, and dirty.bin
// fed in the chunks of dirty_chunks.bin as the receive path gets it. Before
// timing, every answer of both streams is checked against expected.txt.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "dlt645/frame_codec.h"
#include "dlt645/frame_scanner.h"
#include "dlt645/func_types.h"
#include "dlt645/value_decoder.h"
#include "platform/datetime.h"

// Counts every allocation of the process, so that the benchmark can show
// that the measured path makes none.
namespace {
size_t g_allocations = 0;
}

// Out of line, so that the compiler never pairs an inlined free with new.
[[gnu::noinline]] void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
  return operator new(size);
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using namespace dlt645;

constexpr size_t kAnswers = 100000;
constexpr size_t kMaxValues = 8;

using corpus::Expected;
using corpus::ReadExpected;
using corpus::ReadFile;

// Takes the values of one answer into fixed storage.
class Sink final : public IValueSink {
 public:
  std::array<double, kMaxValues> Values{};
  size_t Count = 0;
  double Sum = 0;  // of every value seen, so that nothing is optimised away
  double Stamp = -1;
  size_t DateErrors = 0;

  void Reset() {
    Count = 0;
    Stamp = -1;
  }
  void OnTimestamp(unsigned, double date_time) override { Stamp = date_time; }
  void OnInteger(const TValueName&, int32_t value) override { Add(value); }
  void OnFloat(const TValueName&, double value) override { Add(value); }
  void OnDateError(std::string_view) override { ++DateErrors; }

 private:
  void Add(double value) {
    if (Count < kMaxValues) Values[Count] = value;
    ++Count;
    Sum += value;
  }
};

// Listens for the corpus's five functions from its one meter, as a client
// with five listen-only requests would, and decodes every match.
class Listener {
 public:
  explicit Listener(const std::vector<Expected>* expected) : expected_(expected) {
    for (size_t i = 0; i < kRequests.size(); ++i)
      rows_[i] = LookupFuncType(kRequests[i], false);
  }

  size_t Answers = 0;
  size_t Mismatches = 0;
  double Sum() const { return sink_.Sum; }

  TScanStep OnFrame(const TFrameView& frame) {
    if (frame.Class() != TFrameClass::Answer) return TScanStep::Next;
    if (std::memcmp(frame.Address(), meter_.data(), meter_.size()) != 0) return TScanStep::Next;
    // The candidates' generation decides which identifier is compared.
    uint32_t id = 0;
    if ((frame.Control() & kFunctionMask) != kFunctionRead2007 || !frame.Id(false, &id)) {
      return TScanStep::Next;
    }
    // All five compared at once: the answers' kinds follow no pattern that a
    // branch per candidate could learn.
    unsigned hits = 0;
    for (size_t i = 0; i < kRequests.size(); ++i)
      hits |= unsigned{id == kRequests[i]} << i;
    if (hits == 0) return TScanStep::Next;
    pending_ = static_cast<size_t>(std::countr_zero(hits));
    return TScanStep::Match;
  }
  void OnChecksumError(const TFrameView&, uint8_t, uint8_t) { ++ChecksumErrors; }
  size_t ChecksumErrors = 0;

  // The matched frame sits at the front of bytes.
  void Decode(const uint8_t* bytes, size_t length) {
    const TFrameView frame{bytes, length, 0};
    sink_.Reset();
    DecodeValuesWith(AnswerValues(frame, false), *rows_[pending_], 0, sink_);
    if (expected_ != nullptr) Check(kRequests[pending_]);
    ++Answers;
  }

 private:
  static constexpr std::array<uint32_t, 5> kRequests{0x02010100, 0x0202FF00, 0x02030000, 0x0001FF00,
                                                     0x01150000};

  void Check(uint32_t id) {
    const char* what = nullptr;
    if (Answers >= expected_->size()) {
      what = "more answers than expected";
    } else {
      const Expected& e = (*expected_)[Answers];
      if (e.Id != id) what = "identifier";
      if (!what && sink_.Count != e.Values.size()) what = "value count";
      for (size_t k = 0; !what && k < e.Values.size(); ++k) {
        if (sink_.Values[k] != e.Values[k]) what = "value";
      }
      if (!what && e.StampMs >= 0 && platform::DateTimeToMs(sink_.Stamp) != e.StampMs) {
        what = "time stamp";
      }
    }
    if (what != nullptr) {
      if (++Mismatches <= 5) std::fprintf(stderr, "answer %zu: wrong %s\n", Answers, what);
    }
  }

  const std::vector<Expected>* expected_;
  const TWireAddress meter_ = AddressFromText("112233445566");
  std::array<const TRequestFuncType*, kRequests.size()> rows_{};
  size_t pending_ = 0;
  Sink sink_;
};

// The receive buffer: 16384 bytes that drop their oldest bytes in steps of
// 64 when a block does not fit.
class ReceiveBuffer {
 public:
  static constexpr size_t kCapacity = 16384;
  static constexpr size_t kDiscardStep = 64;

  void Add(const uint8_t* data, size_t n) {
    if (n >= kCapacity) {
      std::memcpy(bytes_.data(), data + n - kCapacity, kCapacity);
      begin_ = 0;
      end_ = kCapacity;
      return;
    }
    if (Size() + n > kCapacity) {
      const size_t excess = Size() + n - kCapacity;
      Drop(std::min(Size(), (excess + kDiscardStep - 1) / kDiscardStep * kDiscardStep));
    }
    if (end_ + n > kCapacity) {
      std::memmove(bytes_.data(), bytes_.data() + begin_, Size());
      end_ -= begin_;
      begin_ = 0;
    }
    std::memcpy(bytes_.data() + end_, data, n);
    end_ += n;
  }
  void Drop(size_t n) {
    begin_ += std::min(n, Size());
    if (begin_ == end_) begin_ = end_ = 0;
  }
  void Clear() { begin_ = end_ = 0; }
  size_t Size() const { return end_ - begin_; }
  const uint8_t* Data() const { return bytes_.data() + begin_; }

 private:
  std::array<uint8_t, kCapacity> bytes_{};
  size_t begin_ = 0;
  size_t end_ = 0;
};

// The receive path's search loop over one buffered block.
void ProcessBlock(ReceiveBuffer& buffer, Listener& listener, const uint8_t* data, size_t n) {
  buffer.Add(data, n);
  bool again = false;
  do {
    const TScanResult r = ScanFrames({buffer.Data(), buffer.Size()}, listener);
    again = r.Again;
    buffer.Drop(r.Drop);
    if (r.FrameLength >= 0) {
      listener.Decode(buffer.Data(), static_cast<size_t>(r.FrameLength));
      buffer.Drop(static_cast<size_t>(r.FrameLength));
    }
  } while (again && buffer.Size() > 0);
}

void ScanInPlace(const std::vector<uint8_t>& stream, Listener& listener) {
  size_t pos = 0;
  bool again = true;
  while (again && pos < stream.size()) {
    const TScanResult r = ScanFrames({stream.data() + pos, stream.size() - pos}, listener);
    again = r.Again;
    pos += r.Drop;
    if (r.FrameLength >= 0) {
      listener.Decode(stream.data() + pos, static_cast<size_t>(r.FrameLength));
      pos += static_cast<size_t>(r.FrameLength);
    }
  }
}

void FeedChunks(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& chunks,
                ReceiveBuffer& buffer, Listener& listener) {
  size_t pos = 0;
  for (uint8_t chunk : chunks) {
    ProcessBlock(buffer, listener, stream.data() + pos, chunk);
    pos += chunk;
  }
}

void FeedBlocks(const std::vector<uint8_t>& stream, size_t block, ReceiveBuffer& buffer,
                Listener& listener) {
  for (size_t pos = 0; pos < stream.size(); pos += block) {
    ProcessBlock(buffer, listener, stream.data() + pos, std::min(block, stream.size() - pos));
  }
}

struct Corpus {
  std::vector<uint8_t> Clean = ReadFile("clean.bin");
  std::vector<uint8_t> Dirty = ReadFile("dirty.bin");
  std::vector<uint8_t> Chunks = ReadFile("dirty_chunks.bin");
  std::vector<Expected> Answers = ReadExpected();
};

const Corpus& TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

void Verify(const char* name, const Listener& listener) {
  if (listener.Answers != kAnswers || listener.Mismatches != 0) {
    std::fprintf(stderr, "%s: %zu answers decoded, %zu differ from expected.txt\n", name,
                 listener.Answers, listener.Mismatches);
    std::abort();
  }
}

// Every stream decodes exactly as expected.txt says, or nothing is timed.
void VerifyAll() {
  const Corpus& c = TheCorpus();
  if (c.Answers.size() != kAnswers) {
    std::fprintf(stderr, "expected.txt holds %zu answers\n", c.Answers.size());
    std::abort();
  }
  {
    Listener listener(&c.Answers);
    ScanInPlace(c.Clean, listener);
    Verify("clean.bin in place", listener);
  }
  {
    auto buffer = std::make_unique<ReceiveBuffer>();
    Listener listener(&c.Answers);
    FeedBlocks(c.Clean, 1024, *buffer, listener);
    Verify("clean.bin in blocks", listener);
  }
  {
    auto buffer = std::make_unique<ReceiveBuffer>();
    Listener listener(&c.Answers);
    FeedChunks(c.Dirty, c.Chunks, *buffer, listener);
    Verify("dirty.bin in chunks", listener);
    std::fprintf(stderr, "dirty.bin: %zu checksum errors passed over\n", listener.ChecksumErrors);
  }
}

template <class Run>
void Measure(benchmark::State& state, Run run) {
  size_t allocations = 0;
  double sum = 0;
  for (auto _ : state) {
    Listener listener(nullptr);
    const size_t before = g_allocations;
    run(listener);
    allocations += g_allocations - before;
    if (listener.Answers != kAnswers) state.SkipWithError("answers lost");
    sum += listener.Sum();
  }
  benchmark::DoNotOptimize(sum);
  const auto answers = static_cast<double>(state.iterations()) * kAnswers;
  state.SetItemsProcessed(static_cast<int64_t>(answers));
  state.counters["answers/s"] = benchmark::Counter(answers, benchmark::Counter::kIsRate);
  state.counters["allocs/answer"] = static_cast<double>(allocations) / answers;
}

// On a shared machine the fastest of several runs (the max row of the rate)
// tells the code's own speed.
void WithBest(benchmark::internal::Benchmark* b) {
  b->ComputeStatistics("max", [](const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
  });
}

void BM_CleanInPlace(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&c](Listener& listener) { ScanInPlace(c.Clean, listener); });
}
BENCHMARK(BM_CleanInPlace)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_CleanBlocks1024(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  auto buffer = std::make_unique<ReceiveBuffer>();
  Measure(state, [&](Listener& listener) {
    buffer->Clear();
    FeedBlocks(c.Clean, 1024, *buffer, listener);
  });
}
BENCHMARK(BM_CleanBlocks1024)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_DirtyChunks(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  auto buffer = std::make_unique<ReceiveBuffer>();
  Measure(state, [&](Listener& listener) {
    buffer->Clear();
    FeedChunks(c.Dirty, c.Chunks, *buffer, listener);
  });
}
BENCHMARK(BM_DirtyChunks)->Unit(benchmark::kMillisecond)->Apply(WithBest);

}  // namespace

int main(int argc, char** argv) {
  VerifyAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
