// The whole receive path on the reference corpus: host data blocks through
// TSerialPortDM::ProcessBlock, the DL/T 645 client's frame search and
// decoding, and every record through AppendResult into the data call's
// answer list, as the plug-in module copies it into the host's list. The
// corpus's five identifiers are listen-only requests for its one meter.
//
// clean.bin goes in blocks of 1024 bytes, dirty.bin in the chunks of
// dirty_chunks.bin. Before timing, every record of both streams is checked
// against expected.txt.
//
// Counters: answers/s; heap blocks per answer, all of them ("allocs") and
// those made while the answer list copied the record ("copy allocs"), which
// the host's own list would make instead.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "dlt645/dlt645_context.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/text_resources.h"
#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/parser_module.h"
#include "parser/queue_controller.h"
#include "parser/standard_fields.h"
#include "platform/datetime.h"
#include "platform/tick.h"

// Every heap block of the process is counted here: strings handed across
// the edge (BSTRs) come from malloc, not from operator new.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void __libc_free(void* p);
}
namespace {
size_t g_allocations = 0;
}
extern "C" void* malloc(size_t size) {
  ++g_allocations;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  ++g_allocations;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* p, size_t size) {
  ++g_allocations;
  return __libc_realloc(p, size);
}
extern "C" void free(void* p) {
  __libc_free(p);
}

namespace {

constexpr size_t kAnswers = 100000;
constexpr char kMeter[] = "112233445566";
constexpr std::array<uint32_t, 5> kFunctions{0x02010100, 0x0202FF00, 0x02030000, 0x0001FF00,
                                             0x01150000};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "receive_path_bench: %s\n", what);
  std::abort();
}

using corpus::Expected;
using corpus::ReadExpected;
using corpus::ReadFile;

// The module's side: the answer list of the current data call, filled as
// the plug-in module fills the host's, and the standard header fields as
// the module adds them.
class BenchModule final : public IParserModule {
 public:
  TParsedDataList Answer;
  size_t Records = 0;
  size_t LogLines = 0;
  size_t Outputs = 0;
  size_t CopyAllocations = 0;
  bool Copy = true;  // false: the host's list is not filled (the plug-in's share alone)
  const std::vector<Expected>* Expect = nullptr;
  size_t Mismatches = 0;

  bool RoleEnabled(TRole role) const override { return static_cast<int>(role) <= 1; }
  void Log(TLogLevel, const std::string&, bool) override { ++LogLines; }
  void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                    bool append) override {
    if (Expect) Check(*list);
    ++rec->Output.Count;
    ++Records;
    if (!Copy) return;
    const size_t before = g_allocations;
    if (!append) Answer.Clear();
    Answer.AddText(text);
    Answer.AddItems(*list);
    CopyAllocations += g_allocations - before;
  }
  void OutputList(uint32_t, uintptr_t, TParsedDataList*) override { ++Outputs; }
  int32_t WriteData(uint32_t, uintptr_t, const uint8_t*, int32_t count) override { return count; }
  int32_t WriteText(uint32_t, uintptr_t, const std::string& text) override {
    return static_cast<int32_t>(text.size());
  }
  int AddStandardFields(TqonParamsList* list, const std::string& full_packet,
                        const std::string& client_name, const std::string& full_name,
                        const std::string& short_name, uintptr_t client_id, uint32_t data_source_no,
                        const std::string& packet) override {
    return AddStandardRecordFields(list, full_packet, client_name, full_name, short_name, client_id,
                                   data_source_no, packet);
  }
  uintptr_t InstanceHandle() const override { return 1; }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override { return {}; }
  bool TemporaryLoad() const override { return false; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return {}; }

 private:
  void Check(const TqonParamsList& list) {
    const char* what = nullptr;
    if (Records >= Expect->size()) {
      what = "more records than expected";
    } else {
      const Expected& e = (*Expect)[Records];
      size_t values = 0;
      bool values_begin = false;
      for (int i = 0; i < list.Count() && !what; ++i) {
        const TqonParamsListItem& item = *list.Items(i);
        const platform::VARIANT& v = item.Value.Raw();
        if (item.IsNewRow()) break;
        if (item.Name == "DEVICE_ID") {
          if (item.Value.ToString() != kMeter) what = "device";
        } else if (item.Name == "DATA_TYPE_ID") {
          if (v.vt != platform::VT_UI4 || v.ulVal != e.Id) what = "identifier";
          values_begin = true;
        } else if (!values_begin) {
          continue;
        } else if (item.Name == "TIMESTAMP1") {
          if (platform::DateTimeToMs(v.date) != e.StampMs) what = "time stamp";
        } else if (values >= e.Values.size() || v.vt != platform::VT_R8 ||
                   v.dblVal != e.Values[values++]) {
          what = "value";
        }
      }
      if (!what && values != e.Values.size()) what = "value count";
    }
    if (what && ++Mismatches <= 5) std::fprintf(stderr, "record %zu: wrong %s\n", Records, what);
  }
};

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

// One data source with the five listen-only requests and its module.
class Path {
 public:
  Path() {
    context_.TextResources = &texts_;
    source_ = std::make_unique<TSerialPortDM>(&Module, &context_);
    source_->DataSourceNo = 1;
    source_->PortName = "COM1";
    source_->PortInfo = "COM1 9600 8N1";
    source_->Queue->ReloadRequests([](TObjectList<TBasicRequestItem>& list) {
      uintptr_t group = 0;
      for (uint32_t code : kFunctions) {
        TFuncSelection sel;
        if (!SelectFuncType(code, 0, &sel)) Fail("function missing from the table");
        auto item = std::make_unique<TRequestItem>();
        item->Enabled = false;
        item->Caption = "Listen";
        TRequestParameters& p = item->Parameters;
        p.SetDevice(kMeter);
        char text[12];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
        p.FunctionText = text;
        p.FuncName = sel.FuncName;
        p.Id = sel.Id;
        p.FuncType = sel.FuncType;
        p.RequestKind = sel.FuncType->RequestKind;
        p.GroupKey = ++group;
        list.Add(std::move(item));
      }
    });
    context_.ListenOnlyCount = static_cast<int>(kFunctions.size());
  }

  // One data call of the host: the block goes through the receive path,
  // then the host takes the answer list.
  void Block(const uint8_t* data, size_t n) {
    TPluginCallRec block{};
    block.Size = kCallRecSize;
    block.DataSourceNo = 1;
    block.ClientId = 1;
    block.Roles = 2;
    std::memcpy(block.ClientName, "COM1", 4);
    block.Input.Kind = 0;
    block.Input.Data = reinterpret_cast<uintptr_t>(data);
    block.Input.Size = static_cast<uint32_t>(n);
    source_->ProcessBlock(block);
    Module.Answer.Clear();
  }

  void FeedBlocks(const std::vector<uint8_t>& stream, size_t size) {
    for (size_t pos = 0; pos < stream.size(); pos += size)
      Block(stream.data() + pos, std::min(size, stream.size() - pos));
  }
  void FeedChunks(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& chunks) {
    size_t pos = 0;
    for (uint8_t chunk : chunks) {
      Block(stream.data() + pos, chunk);
      pos += chunk;
    }
  }

  BenchModule Module;

 private:
  TTextResources texts_{nullptr};
  TDlt645Context context_;
  std::unique_ptr<TSerialPortDM> source_;
};

void Verify(const char* name, const BenchModule& module) {
  if (module.Records != kAnswers || module.Mismatches != 0 || module.Outputs != 0) {
    std::fprintf(stderr, "%s: %zu records, %zu differ from expected.txt, %zu outside a data call\n",
                 name, module.Records, module.Mismatches, module.Outputs);
    Fail("the receive path decodes the corpus wrongly");
  }
}

// Every stream decodes exactly as expected.txt says, or nothing is timed.
void VerifyAll() {
  const Corpus& c = TheCorpus();
  if (c.Answers.size() != kAnswers) Fail("expected.txt does not hold 100000 answers");
  {
    Path path;
    path.Module.Expect = &c.Answers;
    path.FeedBlocks(c.Clean, 1024);
    Verify("clean.bin in blocks of 1024", path.Module);
  }
  {
    Path path;
    path.Module.Expect = &c.Answers;
    path.FeedChunks(c.Dirty, c.Chunks);
    Verify("dirty.bin in its chunks", path.Module);
    std::fprintf(stderr, "dirty.bin: %zu log lines (checksum errors)\n", path.Module.LogLines);
  }
}

template <class Feed>
void Measure(benchmark::State& state, Feed feed, bool copy = true) {
  size_t allocations = 0;
  size_t copy_allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto path = std::make_unique<Path>();
    path->Module.Copy = copy;
    state.ResumeTiming();
    const size_t before = g_allocations;
    feed(*path);
    allocations += g_allocations - before;
    copy_allocations += path->Module.CopyAllocations;
    if (path->Module.Records != kAnswers) state.SkipWithError("answers lost");
    state.PauseTiming();
    path.reset();
    state.ResumeTiming();
  }
  const auto answers = static_cast<double>(state.iterations()) * kAnswers;
  state.SetItemsProcessed(static_cast<int64_t>(answers));
  state.counters["answers/s"] = benchmark::Counter(answers, benchmark::Counter::kIsRate);
  state.counters["allocs"] = static_cast<double>(allocations) / answers;
  state.counters["copy allocs"] = static_cast<double>(copy_allocations) / answers;
}

// On a shared machine the fastest of several runs tells the code's own speed.
void WithBest(benchmark::internal::Benchmark* b) {
  b->ComputeStatistics("max", [](const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
  });
}

void BM_ReceivePathClean(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&c](Path& path) { path.FeedBlocks(c.Clean, 1024); });
}
BENCHMARK(BM_ReceivePathClean)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_ReceivePathDirty(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(state, [&c](Path& path) { path.FeedChunks(c.Dirty, c.Chunks); });
}
BENCHMARK(BM_ReceivePathDirty)->Unit(benchmark::kMillisecond)->Apply(WithBest);

// The same without filling the host's list: what the plug-in itself spends.
void BM_ReceivePathCleanNoHostCopy(benchmark::State& state) {
  const Corpus& c = TheCorpus();
  Measure(
      state, [&c](Path& path) { path.FeedBlocks(c.Clean, 1024); }, false);
}
BENCHMARK(BM_ReceivePathCleanNoHostCopy)->Unit(benchmark::kMillisecond)->Apply(WithBest);

}  // namespace

int main(int argc, char** argv) {
  VerifyAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
