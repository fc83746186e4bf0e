// Parsing speed of the XML reader on configurations as the options dialog
// writes them, from 1 MB to 10 MB: time per byte must stay flat (linear).
#include <benchmark/benchmark.h>

#include <string>

#include "config/xml/dov_xml_tree.h"
#include "config/xml/read_cfg.h"

namespace {

std::string MakeConfiguration(size_t bytes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DL_T645_2007_QUERY>\r\n";
  for (int n = 1; text.size() < bytes; ++n) {
    text += "  <Request caption=\"Meter group ";
    text += std::to_string(n);
    text +=
        " &amp; feeder\">\r\n"
        "    <Enabled check=\"2\">1</Enabled>\r\n"
        "    <Device>1;2;3;000000000004</Device>\r\n"
        "    <Timeout>1000</Timeout>\r\n"
        "    <MethodPoll>1</MethodPoll>\r\n"
        "    <PollInterval>15</PollInterval>\r\n"
        "    <PollUnits>M</PollUnits>\r\n"
        "    <CronTime>0 */5 * * * *</CronTime>\r\n"
        "    <!-- readings of the feeder -->\r\n"
        "    <Response>\r\n"
        "      <Item><Function>02010100</Function><Rate>0</Rate></Item>\r\n"
        "      <Item><Function>0201FF00</Function><Rate>0</Rate></Item>\r\n"
        "      <Item><Function>00010000</Function><Rate>2</Rate></Item>\r\n"
        "      <Item><Function>8000B611</Function><Rate>0</Rate></Item>\r\n"
        "    </Response>\r\n"
        "  </Request>\r\n";
  }
  text += "</DL_T645_2007_QUERY>\r\n";
  return text;
}

void BM_ParseConfiguration(benchmark::State& state) {
  const std::string text = MakeConfiguration(static_cast<size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    TdovXMLTree tree;
    tree.SetXML(text);
    benchmark::DoNotOptimize(tree.FindDescendant("DL_T645_2007_QUERY"));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.SetComplexityN(static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseConfiguration)
    ->Arg(1)
    ->Arg(2)
    ->Arg(5)
    ->Arg(10)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// Reading every request the way the loader does.
void BM_ReadEveryRequest(benchmark::State& state) {
  TdovXMLTree tree;
  tree.SetXML(MakeConfiguration(size_t{10} << 20));
  const TdovXMLNode* root = tree.FindDescendant("DL_T645_2007_QUERY");
  for (auto _ : state) {
    int64_t sum = 0;
    for (size_t i = 0; i < root->ChildCount(); ++i) {
      const TdovXMLNode* request = root->Child(i);
      sum += ReadCfgInt(request, "Timeout", 300) + ReadCfgBool(request, "Enabled", false);
      sum += ReadCfgCaption(request, "Request", static_cast<int>(i + 1)).size();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(root->ChildCount()));
}
BENCHMARK(BM_ReadEveryRequest)->Unit(benchmark::kMillisecond);

// 100,000 nested elements: parse, search to the bottom and free.
void BM_DeepDocument(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += "<n>";
  text += "<leaf>x</leaf>";
  for (auto _ : state) {
    TdovXMLTree tree;
    tree.SetXML(text);
    benchmark::DoNotOptimize(tree.FindDescendant("leaf"));
  }
}
BENCHMARK(BM_DeepDocument)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
