#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "config/dialog/options_form.h"
#include "host_app.h"
#include "host_commands.h"
#include "host_test_support.h"
#include "platform/process.h"

namespace {

using namespace host;

// The plug-in's functions as its exports describe them, read once.
const std::vector<PluginFunction>& Offered(bool is1997) {
  static const auto read = [](bool variant) {
    std::vector<PluginFunction> out;
    std::string error;
    EXPECT_TRUE(ReadPluginFunctions(host_test::Beside(HOST_PLUGIN_FILE), variant, &out, &error))
        << error;
    return out;
  };
  static const std::vector<PluginFunction> t2007 = read(false);
  static const std::vector<PluginFunction> t1997 = read(true);
  return is1997 ? t1997 : t2007;
}

// docs/functions.md is the output of `dlt645-host functions --format
// markdown`: a change of the plug-in's tables must come with the document.
TEST(HostFunctions, TheDocumentIsNotStale) {
  const std::string doc = host_test::Slurp(std::string(DLT645_SOURCE_DIR) + "/docs/functions.md");
  EXPECT_EQ(doc, FunctionsDocument(Offered(false), Offered(true)))
      << "run: dlt645-host functions --format markdown > docs/functions.md";
}

TEST(HostFunctions, UnitsAndNamesOfTheTables) {
  const std::string json = FunctionsListing(Offered(false), "json", false);
  for (const char* row :
       {"\"code\": \"02800002\", \"name\": \"Frequency\"",
        "\"field\": \"FREQUENCY\", \"values\": 1, \"decimals\": 2, \"unit\": \"Hz\"",
        "\"field\": \"TEMPERATURE\", \"values\": 1, \"decimals\": 1, \"unit\": \"°C\"",
        "\"field\": \"PHASE_B_REACTIVE_ENERGY_2\", \"values\": 1, \"decimals\": 2, "
        "\"unit\": \"kvarh\"",
        "\"unit\": \"kW\", \"timestamp\": true"})
    EXPECT_NE(json.find(row), std::string::npos) << row;
  EXPECT_NE(FunctionsListing(Offered(true), "text", true).find("8000B621  PHASE_A_CURRENT"),
            std::string::npos);

  // The list is the plug-in's: a function the host's table lacks is shown
  // with the columns the plug-in registered, one the plug-in lacks is not.
  const std::string text = FunctionsListing(
      {{"0E000100", "Made up", {"MADE_UP1", "MADE_UP2"}}, {"02800002", "Frequency", {"FREQUENCY"}}},
      "markdown", false);
  EXPECT_NE(text.find("| 0E000100 | Made up | MADE_UP | 2 | 0 |  |\n"), std::string::npos) << text;
  EXPECT_NE(text.find("| 02800002 | Frequency | FREQUENCY | 1 | 2 | Hz |\n"), std::string::npos);
  EXPECT_EQ(text.find("VOLTAGE_A"), std::string::npos);

  std::string code;
  std::string error;
  ASSERT_TRUE(ResolveFunction("frequency", false, &code, &error));
  EXPECT_EQ(code, "02800002");
  ASSERT_TRUE(ResolveFunction("Voltage A", false, &code, &error));
  EXPECT_EQ(code, "02010100");
  ASSERT_TRUE(ResolveFunction("B611", true, &code, &error));
  EXPECT_EQ(code, "8000B611");
  ASSERT_TRUE(ResolveFunction("04000102", false, &code, &error));
  EXPECT_FALSE(ResolveFunction("VOLTAGEA", false, &code, &error));
  EXPECT_NE(error.find("closest: 02010100 VOLTAGE_A"), std::string::npos) << error;
}

// What GetOptionsDialog hands over (a component stream and a compressed
// script) read back is the dialog the resources were built from.
TEST(HostOptions, TheDialogReadThroughTheExportIsTheBuiltOne) {
  OptionsDialog dialog;
  std::string error;
  ASSERT_TRUE(ReadOptionsDialog(host_test::Beside(HOST_PLUGIN_FILE), &dialog, &error)) << error;
  ASSERT_EQ(dialog.menu.size(), options_form::kMenuItemCount);
  for (size_t i = 0; i < dialog.menu.size(); ++i) {
    const auto& m = options_form::kMenuItems[i];
    EXPECT_EQ(dialog.menu[i].name, m.Name);
    EXPECT_EQ(dialog.menu[i].has_caption, m.Caption != nullptr) << m.Name;
    EXPECT_EQ(dialog.menu[i].caption, m.Caption ? m.Caption : "");
  }
  ASSERT_EQ(dialog.schema.size(), options_form::kSchemaCount);
  for (size_t i = 0; i < dialog.schema.size(); ++i) {
    const auto& r = options_form::kSchema[i];
    const DialogSchemaRow& row = dialog.schema[i];
    EXPECT_EQ(row.depth, r.Depth);
    EXPECT_EQ(row.name, r.Name);
    EXPECT_EQ(row.caption_from, r.CaptionFrom);
    EXPECT_EQ(row.type, r.Type);
    EXPECT_EQ(row.params, r.Params) << r.Name;
    EXPECT_EQ(row.has_default, r.Default != nullptr) << r.Name;
    EXPECT_EQ(row.default_value, r.Default ? r.Default : "");
  }
  const std::string json = OptionsListing(dialog, true);
  EXPECT_NE(json.find("{\"depth\": 3, \"name\": \"Rate\", \"caption\": \"Rate\", \"type\": "
                      "\"dtInteger\", \"range\": \"0,14\", \"default\": \"0\"}"),
            std::string::npos)
      << json;

  EXPECT_FALSE(ReadOptionsDialog(host_test::Beside("no-such-plugin"), &dialog, &error));
  EXPECT_NE(error.find("no-such-plugin"), std::string::npos) << error;
}

std::string OnceQuery(const std::string& devices, const std::string& method) {
  return "<DL_T645_2007_QUERY><Request caption=\"r\"><Enabled>1</Enabled><Device>" + devices +
         "</Device><Timeout>300</Timeout><RequestMethod>" + method +
         "</RequestMethod><Response><Item><Function>02010100</Function></Item>"
         "<Item><Function>02020100</Function></Item></Response></Request></DL_T645_2007_QUERY>";
}

TEST(HostOnceRun, OwesEveryFunctionOfEveryMeterUnlessTheRunHasOtherWork) {
  const auto plan = [](const std::string& query, OnceRun* run) {
    ConfigCheck check;
    std::string error;
    EXPECT_TRUE(CheckQueryConfig(query, &check, &error)) << error;
    return run->Plan(check);
  };
  OnceRun run;
  EXPECT_FALSE(plan(OnceQuery("1", "<MethodPoll>1</MethodPoll>"), &run));
  EXPECT_FALSE(plan(OnceQuery("*", "<MethodOnce>1</MethodOnce>"), &run));
  ASSERT_TRUE(plan(OnceQuery("1;22", "<MethodOnce>1</MethodOnce>"), &run));
  const auto record = [](const char* device, std::vector<std::pair<const char*, Value>> fields) {
    Record r{Field{"DEVICE_ID", 0, Value::Text(device)}};
    for (auto& [name, value] : fields)
      r.push_back(Field{name, 0, value});
    return r;
  };
  const Value failed = Value::Text("timeout");
  // One meter's answers come in one record, failures one by one.
  EXPECT_FALSE(run.Count(
      record("000000000001", {{"VOLTAGE_A", Value::Int(220)}, {"CURRENT_A1", Value::Int(5)}})));
  EXPECT_FALSE(run.Count(record("000000000099", {{"VOLTAGE_A", Value::Int(220)}})));
  EXPECT_FALSE(run.Count(record("000000000022", {{"VOLTAGE_AB", Value::Int(1)}})));
  EXPECT_FALSE(run.Count(record(
      "000000000022", {{"DATA_TYPE_ID_STR", Value::Text("02010100")}, {"QUALITY", failed}})));
  EXPECT_TRUE(run.Owed());
  EXPECT_TRUE(run.Count(record(
      "000000000022", {{"DATA_TYPE_ID_STR", Value::Text("02020100")}, {"QUALITY", failed}})));
  EXPECT_FALSE(run.Owed());
}

// The programs as a user runs them: the answered meter and the silent one
// both end, and so does the host, long before its duration.
TEST(HostOnceRun, TheHostExitsWhenEveryRequestHasEnded) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("dlt645-once-" + std::to_string(host_test::FreePort()));
  std::filesystem::create_directories(dir);
  std::ofstream((dir / "q.xml").string(), std::ios::binary)
      << OnceQuery("1;9", "<MethodOnce>1</MethodOnce>");
  const uint16_t port = host_test::FreePort();
  int sim_code = -1;
  std::thread sim([&] {
    sim_code = platform::RunProgram(host_test::Beside(SIM_EXE_FILE),
                                    {"--listen", "127.0.0.1:" + std::to_string(port), "--meter",
                                     "000000000001", "--duration", "4"});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int host_code = platform::RunProgram(
      host_test::Beside(HOST_EXE_FILE),
      {"--config", (dir / "q.xml").string(), "--output", (dir / "out.jsonl").string(), "--log",
       (dir / "out.log").string(), "--duration", "60", "tcp://127.0.0.1:" + std::to_string(port)});
  sim.join();
  EXPECT_EQ(host_code, kExitOk);
  EXPECT_EQ(sim_code, 0);
  const std::string log = host_test::Slurp((dir / "out.log").string());
  EXPECT_NE(log.find("every request asked once has ended"), std::string::npos) << log;
  const std::string out = host_test::Slurp((dir / "out.jsonl").string());
  EXPECT_NE(out.find("\"DEVICE_ID\":\"000000000001\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"DATA_TYPE_ID_STR\":\"02020100\",\"DATA_TYPE_ID\":33685760,\"QUALITY\""),
            std::string::npos)
      << out;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
