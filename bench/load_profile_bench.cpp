// Load-record decoding: a joined answer of full records (every tenth with
// two classes left empty), walked in place; and the same answer received
// as follow-up frames of at most 200 data bytes, joined, then walked.
// Reports records per second; before timing, the walk is checked to find
// every record.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dlt645/follow_up.h"
#include "dlt645/load_profile.h"

namespace {

using namespace dlt645;

constexpr size_t kRecords = 2000;
constexpr uint32_t kId = LoadProfileId(TLoadBlock::Latest, kLoadClassAll);

uint8_t Bcd(unsigned v) {
  return static_cast<uint8_t>((v / 10 % 10) << 4 | (v % 10));
}

// Plain bytes of record k: 15 minutes apart, digits that change.
void AppendRecord(std::vector<uint8_t>* out, size_t k) {
  const size_t start = out->size();
  const unsigned quarter = static_cast<unsigned>(k % 96);
  out->insert(out->end(), {kLoadStart, kLoadStart, 0});
  for (unsigned v :
       {quarter % 4 * 15, quarter / 4, 1 + static_cast<unsigned>(k / 96 % 28), 5u, 24u})
    out->push_back(Bcd(v));
  for (uint8_t c = 1; c <= kLoadClassCount; ++c) {
    if (k % 10 != 0 || (c != 2 && c != 5)) {
      for (size_t i = 0; i < LoadClassSize(c); ++i)
        out->push_back(Bcd(static_cast<unsigned>(k * 7 + i * 13)));
    }
    out->push_back(kLoadSeparator);
  }
  (*out)[start + 2] = static_cast<uint8_t>(out->size() - start - 3);
  unsigned sum = 0;
  for (size_t i = start; i < out->size(); ++i)
    sum += (*out)[i];
  out->push_back(static_cast<uint8_t>(sum));
  out->push_back(kLoadEnd);
}

std::vector<uint8_t> Wire(std::vector<uint8_t> plain) {
  for (uint8_t& b : plain)
    b = static_cast<uint8_t>(b + kWireOffset);
  return plain;
}

struct CountSink final : ILoadRecordSink {
  size_t Records = 0;
  size_t Skipped = 0;
  int64_t Sum = 0;
  void OnRecord(const TLoadRecord& r) override {
    ++Records;
    Sum += r.Raw[static_cast<size_t>(TLoadValue::ForwardActiveEnergy)] + r.Present;
  }
  void OnSkipped(size_t, size_t, TLoadSkip) override { ++Skipped; }
};

const std::vector<uint8_t>& Answer() {
  static const std::vector<uint8_t> wire = [] {
    std::vector<uint8_t> plain;
    for (size_t k = 0; k < kRecords; ++k)
      AppendRecord(&plain, k);
    return Wire(plain);
  }();
  return wire;
}

// The answer as the frames a meter sends: 0xB1, then 0xB2 … 0x92.
const std::vector<std::vector<uint8_t>>& Frames() {
  static const std::vector<std::vector<uint8_t>> frames = [] {
    std::vector<std::vector<uint8_t>> out;
    const std::vector<uint8_t>& wire = Answer();
    const TWireAddress address{0x01, 0, 0, 0, 0, 0};
    constexpr size_t kPart = 195;
    for (size_t pos = 0, seq = 0; pos < wire.size(); pos += kPart, ++seq) {
      const size_t n = std::min(kPart, wire.size() - pos);
      const bool more = pos + n < wire.size();
      std::vector<uint8_t> data{static_cast<uint8_t>(kId), static_cast<uint8_t>(kId >> 8),
                                static_cast<uint8_t>(kId >> 16), static_cast<uint8_t>(kId >> 24)};
      for (size_t i = 0; i < n; ++i)
        data.push_back(static_cast<uint8_t>(wire[pos + i] - kWireOffset));
      if (seq != 0) data.push_back(static_cast<uint8_t>(seq));
      const uint8_t control =
          static_cast<uint8_t>((seq == 0 ? 0x91 : 0x92) | (more ? kControlFollowUp : 0));
      std::vector<uint8_t> frame(data.size() + kFrameOverhead);
      BuildFrame(address, control, data, frame);
      out.push_back(std::move(frame));
    }
    return out;
  }();
  return frames;
}

void Verify() {
  CountSink sink;
  const size_t n = WalkLoadRecords(Answer(), kLoadClassAll, sink);
  if (n != kRecords || sink.Skipped != 0) {
    std::fprintf(stderr, "walk found %zu records and %zu skips, not %zu\n", n, sink.Skipped,
                 kRecords);
    std::exit(1);
  }
}

void BM_WalkRecords(benchmark::State& state) {
  const std::vector<uint8_t>& wire = Answer();
  for (auto _ : state) {
    CountSink sink;
    WalkLoadRecords(wire, kLoadClassAll, sink);
    benchmark::DoNotOptimize(sink.Sum);
  }
  state.counters["records/s"] =
      benchmark::Counter(double(kRecords), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WalkRecords)->Unit(benchmark::kMicrosecond);

// The follow-up frames are joined into storage held across rounds, as a
// client keeps its join buffer.
void BM_JoinAndWalk(benchmark::State& state) {
  const auto& frames = Frames();
  std::vector<uint8_t> storage(Answer().size());
  // Sequence numbers run 1..255: 2000 records do not fit one answer's
  // follow-up frames, so a round joins and walks as much as one answer holds.
  const size_t count = std::min<size_t>(frames.size(), kMaxFollowUpSeq);
  size_t records = 0;
  for (auto _ : state) {
    TAnswerJoin join(storage);
    join.Start({frames[0].data(), frames[0].size(), 0}, kId);
    for (size_t i = 1; i < count; ++i)
      join.Add({frames[i].data(), frames[i].size(), 0});
    CountSink sink;
    records = WalkLoadRecords(join.Data(), kLoadClassAll, sink);
    benchmark::DoNotOptimize(sink.Sum);
  }
  state.counters["records/s"] =
      benchmark::Counter(double(records), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_JoinAndWalk)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  Verify();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
