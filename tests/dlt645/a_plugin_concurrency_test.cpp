// Data calls in several threads while another thread loads, unloads, changes
// the state and raises events: the data sources and the configuration that
// a data call uses are never freed under it.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/store/proxy_code_object.h"
#include "config/text/qon_str_holder.h"
#include "dlt645/a_plugin.h"
#include "dlt645/serial_port_dm.h"
#include "paramlist/params_list.h"
#include "platform/message_loop.h"
#include "platform/tick.h"
#include "plugin/module_settings.h"
#include "support/test_folder.h"

namespace {

std::atomic<int> g_writes{0};

int32_t QON_STDCALL CountingSendDataEx(uint32_t, uint32_t, uintptr_t, uintptr_t, uint32_t kind,
                                       const void*, uint32_t size) {
  g_writes.fetch_add(1);
  return kind == 129 ? static_cast<int32_t>(size) : 0;
}

struct Call {
  TPluginCallRec rec{};
  TqonParamsList params;
  explicit Call(uint8_t roles = 0) {
    rec.Size = kCallRecSize;
    rec.Roles = roles;
    rec.Params = reinterpret_cast<uintptr_t>(&params);
  }
  Call& Set(const std::string& name, OleVariant value) {
    params.SetValue(name, std::move(value), true);
    return *this;
  }
};

// The answer of meter 000000000001 to a read of Voltage A: 223.2 V.
const std::vector<uint8_t> kVoltageAnswer = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x91,
                                             0x06, 0x33, 0x34, 0x34, 0x35, 0x65, 0x55, 0xF2, 0x16};

TEST(APluginConcurrency, DataCallsNeverMeetFreedDataSources) {
  platform::VirtualClock clock;
  TestFolder folder;
  const std::string ini = folder.File("plugin.ini");
  {
    TDataSourceCfg cfg;
    cfg.lblParams_Caption =
        "<DL_T645_2007_QUERY><Request><Enabled>1</Enabled><Device>1;2</Device>"
        "<MethodPoll>1</MethodPoll><PollInterval>20</PollInterval><Timeout>30</Timeout>"
        "<Response><Item><Function>02010100</Function></Item></Response></Request>"
        "<Request><Enabled>0</Enabled><Device>1</Device><MethodEvent>1</MethodEvent>"
        "<EventId>Go</EventId><Response><Item><Function>02010100</Function></Item>"
        "</Response></Request></DL_T645_2007_QUERY>";
    TqonStrHolder props;
    SetupPropertiesHolder(props);
    TSettingsLocation location;
    location.IniFile = ini;
    ASSERT_TRUE(SaveSettings(location, props.Strings(), &cfg));
  }

  std::unique_ptr<TqonPlugin> module = CreatePluginModule<TaPlugin>(nullptr);
  TaPlugin& m = static_cast<TaPlugin&>(*module);
  m.Host.HostFunctions.SendDataEx = &CountingSendDataEx;

  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0};
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      Call data(2);
      data.rec.ClientId = static_cast<uintptr_t>(t + 1);
      data.rec.ClientName[0] = 'C';
      for (int i = 0; !stop; ++i) {
        std::vector<uint8_t> bytes = kVoltageAnswer;
        data.rec.DataSourceNo = static_cast<uint32_t>(i % 3 + 1);
        if (i % 7 == 0) {
          // A port event of the client instead of bytes.
          data.rec.Input =
              TPluginDataDesc{0, 0, kKindEvent, i % 2 ? kEventPortOpened : kEventPortClosed};
        } else {
          data.rec.Input = TPluginDataDesc{0, static_cast<uint32_t>(bytes.size()), 0,
                                           reinterpret_cast<uintptr_t>(bytes.data())};
        }
        const int32_t r = m.ProcessDataCall(&data.rec);
        if (r == 0) ++answered;
        if (r != 0 && r != -1) ++unexpected;
        std::this_thread::yield();
      }
    });
  }

  auto command = [&](const std::string& name, Call& call) {
    const int32_t r = m.ExecuteCommand(name, &call.rec);
    if (r != 0 && r != -2) ++unexpected;
  };
  for (int cycle = 0; cycle < 2000; ++cycle) {
    Call load;
    load.Set("INI-FILE", OleVariant(ini));
    command("LOAD", load);
    Call on(3);
    on.Set("DATA-SOURCES-IN-CFG",
           OleVariant(cycle % 2 ? "1;COM1;\r\n2;COM2;" : "2;COM2;\r\n3;COM3;"))
        .Set("RESULT", OleVariant(1));
    command("SET-STATE", on);
    Call go;
    go.Set("EVENT-TYPE", OleVariant(cycle % 3 ? "Go" : "PORT-OPEN"))
        .Set("PORTSTR", OleVariant("COM2"));
    command("EVENT", go);
    clock.Advance(25);
    platform::PumpMessages(0);
    if (cycle % 5 == 0) {
      Call reload;
      reload.Set("INI-FILE", OleVariant(ini)).Set("NO-SAVE", OleVariant(1));
      command("LOAD-SETTINGS-NOW", reload);
    }
    Call narrower(1);
    narrower.Set("DATA-SOURCES-IN-CFG", OleVariant("3;COM3;"))
        .Set("RESULT", OleVariant(cycle % 4 ? 1 : 0));
    command("SET-STATE", narrower);
    clock.Advance(25);
    platform::PumpMessages(0);
    Call unload;
    command("UNLOAD", unload);
  }
  stop = true;
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_GT(answered.load(), 0);
  EXPECT_GT(g_writes.load(), 0);
  module.reset();
}

}  // namespace
