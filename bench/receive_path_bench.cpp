// The whole receive path on the reference corpus: host data blocks through
// the data source's frame search and decoding, and every record handed to
// the host. Two ways:
// - BM_ReceivePath*: the data source's ProcessBlock, every record copied
//   into one answer list of the library's own kind, as the module's
//   AppendResult copies it into the host's (the plug-in's share of the work);
// - BM_DataCall*: a host's data call, ProcessData of the plug-in module with
//   the host kit's own list for the answer, every record through the
//   module's AppendResult into it (what a host sees, its list's copies
//   included).
// The corpus's five identifiers are listen-only requests for its one meter.
//
// clean.bin goes in blocks of 1024 bytes, dirty.bin in the chunks of
// dirty_chunks.bin. Before timing, every record of both streams is checked
// against expected.txt.
//
// Counters: answers/s; heap blocks per answer, all of them ("allocs") and
// those made while a record was handed over ("edge allocs"; in a data call
// mostly the host list's own copies).
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
#include "hostkit/params_list.h"
#include "paramlist/parsed_data_list.h"
#include "paramlist/plugin_records.h"
#include "parser/queue_controller.h"
#include "platform/datetime.h"
#include "plugin/qon_plugin.h"

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

// The plug-in module of the data call, with the records checked on their
// way to the host.
class BenchModule final : public TqonPlugin {
 public:
  BenchModule() : TqonPlugin(nullptr, 0) {
    AfterConstruction();
    SetRoleEnabled(TRole::Request, true);
    SetRoleEnabled(TRole::Parsing, true);
  }

  size_t Records = 0;
  size_t LogLines = 0;
  size_t EdgeAllocations = 0;
  // Set: records go into Answer instead of the data call's output list.
  bool Direct = false;
  TParsedDataList Answer;
  const std::vector<Expected>* Expect = nullptr;
  size_t Mismatches = 0;

  void Log(TLogLevel, const std::string&, bool) override { ++LogLines; }
  void AppendResult(TPluginCallRec* rec, TqonParamsList* list, const std::string& text,
                    bool append) override {
    if (Expect) Check(*list);
    ++Records;
    const size_t before = g_allocations;
    if (Direct) {
      ++rec->Output.Count;
      if (!append) Answer.Clear();
      Answer.AddText(text);
      Answer.AddItems(*list);
    } else {
      TqonPlugin::AppendResult(rec, list, text, append);
    }
    EdgeAllocations += g_allocations - before;
  }

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
  explicit Path(bool data_call) : data_call_(data_call) {
    Module.Direct = !data_call;
    context_.TextResources = &texts_;
    source_ = std::make_unique<TSerialPortDM>(&Module, &context_);
    Module.Events.OnProcessData = [this](TqonPlugin&, TPluginCallRec* rec, int32_t& result) {
      source_->ProcessBlock(*rec);
      result = static_cast<int32_t>(rec->Output.Count);
    };
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

  // One data call of the host: the block goes through the receive path
  // into the host's answer list, then the host takes the answer.
  void Block(const uint8_t* data, size_t n) {
    TPluginCallRec block{};
    block.Size = kCallRecSize;
    block.DataSourceNo = 1;
    block.ClientId = 1;
    block.Roles = 2;
    block.Params = params_->InterfaceVariable();
    std::memcpy(block.ClientName, "COM1", 4);
    block.Input.Kind = 0;
    block.Input.Data = reinterpret_cast<uintptr_t>(data);
    block.Input.Size = static_cast<uint32_t>(n);
    if (!data_call_) {
      source_->ProcessBlock(block);
      Module.Answer.Clear();
      return;
    }
    block.Output.Kind = kKindListIntf;
    block.Output.Data = answer_->InterfaceVariable();
    Module.ProcessDataCall(&block);
    answer_->Clear();
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
  bool data_call_;
  host::ListPtr params_ = host::MakeList();
  host::ListPtr answer_ = host::MakeList();
  TTextResources texts_{nullptr};
  TDlt645Context context_;
  std::unique_ptr<TSerialPortDM> source_;
};

void Verify(const char* name, const BenchModule& module) {
  if (module.Records != kAnswers || module.Mismatches != 0) {
    std::fprintf(stderr, "%s: %zu records, %zu differ from expected.txt\n", name, module.Records,
                 module.Mismatches);
    Fail("the receive path decodes the corpus wrongly");
  }
}

// Every stream decodes exactly as expected.txt says, or nothing is timed.
void VerifyAll() {
  const Corpus& c = TheCorpus();
  if (c.Answers.size() != kAnswers) Fail("expected.txt does not hold 100000 answers");
  for (bool data_call : {false, true}) {
    {
      Path path(data_call);
      path.Module.Expect = &c.Answers;
      path.FeedBlocks(c.Clean, 1024);
      Verify("clean.bin in blocks of 1024", path.Module);
    }
    {
      Path path(data_call);
      path.Module.Expect = &c.Answers;
      path.FeedChunks(c.Dirty, c.Chunks);
      Verify("dirty.bin in its chunks", path.Module);
      if (data_call)
        std::fprintf(stderr, "dirty.bin: %zu log lines (checksum errors)\n", path.Module.LogLines);
    }
  }
}

template <class Feed>
void Measure(benchmark::State& state, bool data_call, Feed feed) {
  size_t allocations = 0;
  size_t edge_allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto path = std::make_unique<Path>(data_call);
    state.ResumeTiming();
    const size_t before = g_allocations;
    feed(*path);
    allocations += g_allocations - before;
    edge_allocations += path->Module.EdgeAllocations;
    if (path->Module.Records != kAnswers) state.SkipWithError("answers lost");
    state.PauseTiming();
    path.reset();
    state.ResumeTiming();
  }
  const auto answers = static_cast<double>(state.iterations()) * kAnswers;
  state.SetItemsProcessed(static_cast<int64_t>(answers));
  state.counters["answers/s"] = benchmark::Counter(answers, benchmark::Counter::kIsRate);
  state.counters["allocs"] = static_cast<double>(allocations) / answers;
  state.counters["edge allocs"] = static_cast<double>(edge_allocations) / answers;
}

// On a shared machine the fastest of several runs tells the code's own speed.
void WithBest(benchmark::internal::Benchmark* b) {
  b->ComputeStatistics("max", [](const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
  });
}

void Clean(Path& path) {
  path.FeedBlocks(TheCorpus().Clean, 1024);
}
void Dirty(Path& path) {
  path.FeedChunks(TheCorpus().Dirty, TheCorpus().Chunks);
}

void BM_ReceivePathClean(benchmark::State& state) {
  Measure(state, false, Clean);
}
BENCHMARK(BM_ReceivePathClean)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_ReceivePathDirty(benchmark::State& state) {
  Measure(state, false, Dirty);
}
BENCHMARK(BM_ReceivePathDirty)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_DataCallClean(benchmark::State& state) {
  Measure(state, true, Clean);
}
BENCHMARK(BM_DataCallClean)->Unit(benchmark::kMillisecond)->Apply(WithBest);

void BM_DataCallDirty(benchmark::State& state) {
  Measure(state, true, Dirty);
}
BENCHMARK(BM_DataCallDirty)->Unit(benchmark::kMillisecond)->Apply(WithBest);

}  // namespace

int main(int argc, char** argv) {
  VerifyAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
