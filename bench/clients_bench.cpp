// Many clients of one data source (a GPRS server's connections): memory per
// idle client, the idle sweep, and a data block for one of them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "paramlist/plugin_records.h"
#include "parser/client_list.h"
#include "parser/data_source.h"
#include "parser/parser_module.h"
#include "platform/tick.h"

// Live heap bytes, from a size header in front of every block.
namespace {
std::atomic<int64_t> g_live_bytes{0};
constexpr std::size_t kHeader = 16;
}  // namespace

// Not inlined, so that the compiler does not pair malloc and free with new
// and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
  auto* p = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (!p) throw std::bad_alloc();
  std::memcpy(p, &size, sizeof(size));
  g_live_bytes.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed);
  return p + kHeader;
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
  if (!block) return;
  auto* p = static_cast<unsigned char*>(block) - kHeader;
  std::size_t size = 0;
  std::memcpy(&size, p, sizeof(size));
  g_live_bytes.fetch_sub(static_cast<int64_t>(size), std::memory_order_relaxed);
  std::free(p);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}

namespace {

class BenchModule : public IParserModule {
 public:
  bool RoleEnabled(TRole role) const override { return static_cast<int>(role) <= 1; }
  void Log(TLogLevel, const std::string&, bool) override {}
  void AppendResult(TPluginCallRec*, TqonParamsList*, const std::string&, bool) override {}
  void OutputList(uint32_t, uintptr_t, TParsedDataList*) override {}
  int32_t WriteData(uint32_t, uintptr_t, const uint8_t*, int32_t count) override { return count; }
  int32_t WriteText(uint32_t, uintptr_t, const std::string&) override { return 0; }
  int AddStandardFields(TqonParamsList*, const std::string&, const std::string&, const std::string&,
                        const std::string&, uintptr_t, uint32_t, const std::string&) override {
    return 0;
  }
  uintptr_t InstanceHandle() const override { return 1; }
  std::vector<TConfigDataSource> ConfiguredDataSources() const override { return {}; }
  bool TemporaryLoad() const override { return false; }
  std::vector<TDataSourceScheduled*> DataSources() const override { return {}; }
};

// Takes every complete 16-byte frame.
class FrameClient : public TCustomParserScheduledClient {
 public:
  using TCustomParserScheduledClient::TCustomParserScheduledClient;
  int FindFrame(bool& again) override {
    const uint32_t count = Buffer->Count();
    if (count < 16) return -1;
    again = count > 16;
    return 16;
  }
};

TPluginCallRec Block(uintptr_t id, uint8_t kind, uintptr_t data, uint32_t size) {
  TPluginCallRec block{};
  block.Size = kCallRecSize;
  block.DataSourceNo = 1;
  block.ClientId = id;
  const std::string name = "10.1." + std::to_string(id / 256) + "." + std::to_string(id % 256) +
                           ":" + std::to_string(40000 + id % 20000);
  std::memcpy(block.ClientName, name.data(), std::min(name.size(), sizeof(block.ClientName)));
  block.Input.Kind = kind;
  block.Input.Data = data;
  block.Input.Size = size;
  return block;
}

struct Server {
  explicit Server(int requests) : source(&module) {
    source.DataSourceNo = 1;
    source.ClientClass = ParserClientClass<FrameClient>();
    for (int i = 0; i < requests; ++i) {
      auto item = std::make_unique<TBasicRequestItem>();
      item->Caption = "meter reading " + std::to_string(i);
      item->Enabled = true;
      item->Method = kMethodPoll;
      item->PollInterval = 900000;
      item->MaxAttempts = 3;
      source.Queue->Requests->Add(std::move(item));
    }
  }
  // A connection opens (an event block) and delivers one frame.
  void Connect(uintptr_t id) {
    TPluginCallRec open = Block(id, kKindEvent, kEventPortOpened, 0);
    source.ProcessBlock(open);
    static const char frame[17] = "0123456789abcdef";
    TPluginCallRec data = Block(id, 0, reinterpret_cast<uintptr_t>(frame), 16);
    source.ProcessBlock(data);
  }
  BenchModule module;
  TDataSourceScheduledWithClients source;
};

// Bytes per idle client: its parser state, empty receive buffer, request
// queue with its timer, and its copies of the data source's requests.
void BM_IdleClientMemory(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  const int requests = static_cast<int>(state.range(1));
  platform::VirtualClock clock;
  double per_client = 0;
  for (auto _ : state) {
    Server server(requests);
    server.Connect(1'000'000);  // the first client pays for shared structures
    const int64_t before = g_live_bytes.load();
    for (int i = 0; i < clients; ++i)
      server.Connect(static_cast<uintptr_t>(i + 1));
    per_client = static_cast<double>(g_live_bytes.load() - before) / clients;
  }
  state.counters["bytes/client"] = per_client;
}
BENCHMARK(BM_IdleClientMemory)
    ->Args({10000, 0})
    ->Args({10000, 2})
    ->Args({10000, 10})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// One idle sweep over all clients, none of which has expired.
void BM_Sweep(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  platform::VirtualClock clock;
  Server server(2);
  for (int i = 0; i < clients; ++i)
    server.Connect(static_cast<uintptr_t>(i + 1));
  for (auto _ : state)
    server.source.Sweep();
  // Seconds per client and sweep.
  state.counters["per_client"] = benchmark::Counter(
      static_cast<double>(clients),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Sweep)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A data block with one frame for one of many connections.
void BM_ProcessBlock(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  platform::VirtualClock clock;
  Server server(2);
  for (int i = 0; i < clients; ++i)
    server.Connect(static_cast<uintptr_t>(i + 1));
  static const char frame[17] = "0123456789abcdef";
  std::vector<TPluginCallRec> blocks;
  for (int i = 0; i < clients; ++i)
    blocks.push_back(
        Block(static_cast<uintptr_t>(i + 1), 0, reinterpret_cast<uintptr_t>(frame), 16));
  size_t next = 0;
  for (auto _ : state) {
    server.source.ProcessBlock(blocks[next]);
    next = next + 1 == blocks.size() ? 0 : next + 1;
  }
}
BENCHMARK(BM_ProcessBlock)->Arg(1)->Arg(10000);

// One tick period of every client queue, as the thread's message loop
// delivers them (nothing is due: every request was sent in the first round).
void BM_QueueTicksOfAllClients(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  platform::VirtualClock clock;
  Server server(2);
  for (int i = 0; i < clients; ++i)
    server.Connect(static_cast<uintptr_t>(i + 1));
  for (int i = 0; i < 10; ++i) {
    clock.Advance(50);
    platform::PumpMessages(0);
  }
  for (auto _ : state) {
    clock.Advance(50);
    platform::PumpMessages(0);
  }
  state.counters["per_client"] = benchmark::Counter(
      static_cast<double>(clients),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QueueTicksOfAllClients)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
