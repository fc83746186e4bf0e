// A query configuration for a city's DTU server: 10,000 meters, 10 functions
// each, 100,000 requests, as the options dialog writes it. The plug-in's
// load (XML reader, request list, queue) and the host's check must both stay
// linear: each well under 2 s at this size, and the time per request flat
// from 10,000 requests up.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "base/object_list.h"
#include "dlt645/query_config.h"
#include "parser/basic_request_item.h"
#include "parser/queue_controller.h"
#ifdef DLT645_BENCH_HOST_CHECK
#include "host_config.h"
#endif

namespace {

constexpr const char* kFunctions[] = {"02010100", "02010200", "02010300", "02020100", "02020200",
                                      "02020300", "02030000", "00010000", "00020000", "0201FF00"};

// One request per meter (its own caption and device), or one request for
// all meters, which the loader multiplies out.
std::string MakeConfiguration(int meters, bool one_request) {
  std::string items;
  for (const char* f : kFunctions)
    items += std::string("      <Item><Function>") + f + "</Function><Rate>0</Rate></Item>\r\n";
  const auto request = [&](const std::string& caption, const std::string& devices) {
    return "  <Request caption=\"" + caption +
           "\">\r\n"
           "    <Enabled>1</Enabled>\r\n"
           "    <Device>" +
           devices +
           "</Device>\r\n"
           "    <Timeout>5000</Timeout>\r\n"
           "    <RequestMethod>\r\n"
           "      <MethodPoll>1</MethodPoll>\r\n"
           "      <PollInterval>15</PollInterval>\r\n"
           "      <PollUnits>M</PollUnits>\r\n"
           "    </RequestMethod>\r\n"
           "    <Response>\r\n" +
           items + "    </Response>\r\n  </Request>\r\n";
  };
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DL_T645_2007_QUERY>\r\n";
  char address[16];
  if (one_request) {
    std::string devices;
    for (int m = 1; m <= meters; ++m) {
      std::snprintf(address, sizeof address, "%012d", m);
      devices += (m > 1 ? ";" : "") + std::string(address);
    }
    text += request("All meters", devices);
  } else {
    for (int m = 1; m <= meters; ++m) {
      std::snprintf(address, sizeof address, "%012d", m);
      text += request("Meter " + std::to_string(m), address);
    }
  }
  return text + "</DL_T645_2007_QUERY>\r\n";
}

// The plug-in's load: the text read into the queue's request list.
void BM_PluginLoad(benchmark::State& state) {
  const int meters = static_cast<int>(state.range(0));
  const std::string text = MakeConfiguration(meters, state.range(1) != 0);
  int64_t loaded = 0;
  for (auto _ : state) {
    TQueueControllerTimer queue(nullptr);
    std::atomic<int> listen_only{0};
    queue.ReloadRequests([&](TObjectList<TBasicRequestItem>& list) {
      ReadQueryConfig(text, list, &queue, &listen_only);
      loaded = list.Count();
    });
    state.PauseTiming();
    queue.ClearRequests();  // freeing is not loading
    state.ResumeTiming();
  }
  if (loaded != int64_t{meters} * 10) state.SkipWithError("not every request loaded");
  state.counters["requests"] = static_cast<double>(loaded);
  state.counters["MB"] = static_cast<double>(text.size()) / (1 << 20);
  state.SetItemsProcessed(state.iterations() * loaded);
}
BENCHMARK(BM_PluginLoad)
    ->ArgsProduct({{1000, 3000, 10000}, {0, 1}})
    ->ArgNames({"meters", "one_request"})
    ->Unit(benchmark::kMillisecond);

#ifdef DLT645_BENCH_HOST_CHECK
// The host's check of the same text before it hands it over.
void BM_HostCheck(benchmark::State& state) {
  const int meters = static_cast<int>(state.range(0));
  const std::string text = MakeConfiguration(meters, state.range(1) != 0);
  int requests = 0;
  for (auto _ : state) {
    host::ConfigCheck check;
    std::string error;
    if (!host::CheckQueryConfig(text, &check, &error)) {
      state.SkipWithError(error.c_str());
      break;
    }
    requests = check.requests;
  }
  // The check counts configured requests (elements), each for its devices.
  if (requests != (state.range(1) != 0 ? 1 : meters))
    state.SkipWithError("not every request counted");
  state.counters["requests"] = meters * 10;
  state.SetItemsProcessed(state.iterations() * meters * 10);
}
BENCHMARK(BM_HostCheck)
    ->ArgsProduct({{1000, 3000, 10000}, {0, 1}})
    ->ArgNames({"meters", "one_request"})
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
