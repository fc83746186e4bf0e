#include "dlt645/a_plugin.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/store/proxy_code_object.h"
#include "config/text/qon_str_holder.h"
#include "dlt645/func_types.h"
#include "dlt645/request_item.h"
#include "dlt645/serial_port_dm.h"
#include "dlt645/text_resources.h"
#include "paramlist/params_list.h"
#include "parser/queue_controller.h"
#include "platform/files.h"
#include "platform/tick.h"
#include "plugin/module_settings.h"
#include "plugin/plugin_call_rec_intf.h"
#include "support/test_folder.h"

namespace {

// A record whose Params points at a list object.
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

std::string Query(const std::string& requests) {
  return "<DL_T645_2007_QUERY>" + requests + "</DL_T645_2007_QUERY>";
}

// One request of one function for the devices.
std::string Request(const std::string& devices, const std::string& function,
                    const std::string& keys = "<Enabled>1</Enabled><MethodPoll>1</MethodPoll>") {
  return "<Request><Device>" + devices + "</Device>" + keys + "<Response><Item><Function>" +
         function + "</Function></Item></Response></Request>";
}

class APlugin : public ::testing::Test {
 protected:
  platform::VirtualClock clock_;
  TestFolder folder_;
  std::unique_ptr<TqonPlugin> module_ = CreatePluginModule<TaPlugin>(nullptr);
  TaPlugin& m_ = static_cast<TaPlugin&>(*module_);

  std::string Ini() const { return folder_.File("plugin.ini"); }

  // Stores the configuration where the module's settings live.
  void StoreConfig(const std::string& text, double min_interval = 0) {
    TDataSourceCfg cfg;
    cfg.lblParams_Caption = text;
    cfg.spMinInt_Value = min_interval;
    TqonStrHolder props;
    SetupPropertiesHolder(props);
    TSettingsLocation location;
    location.IniFile = Ini();
    location.IniSectionPrefix = "P";
    ASSERT_TRUE(SaveSettings(location, props.Strings(), &cfg));
  }
  int32_t Command(const std::string& command, Call& call) {
    return m_.ExecuteCommand(command, &call.rec);
  }
  int32_t Load(uint32_t config_id = 0) {
    Call c;
    c.Set("INI-FILE", OleVariant(Ini())).Set("INI-SECTION-PREFIX", OleVariant("P"));
    if (config_id) c.Set("CONFIG-ID", OleVariant(static_cast<int64_t>(config_id)));
    return Command("LOAD", c);
  }
  int32_t Unload() {
    Call c;
    c.Set("INI-FILE", OleVariant(Ini()));
    return Command("UNLOAD", c);
  }
  int32_t SetState(uint8_t roles, int on, const std::string& sources = "",
                   const std::string& load_for = "") {
    Call c(roles);
    if (!sources.empty()) c.Set("DATA-SOURCES-IN-CFG", OleVariant(sources));
    if (!load_for.empty()) c.Set("DATA-SOURCE-LOAD", OleVariant(load_for));
    c.Set("RESULT", OleVariant(on));
    return Command("SET-STATE", c);
  }
  int32_t Event(const std::string& type, const std::string& port = "") {
    Call c;
    c.Set("EVENT-TYPE", OleVariant(type));
    if (!port.empty()) c.Set("PORTSTR", OleVariant(port));
    return Command("EVENT", c);
  }
  std::vector<TSerialPortDM*> Sources() const { return m_.SerialPorts(); }
  // The master requests of a data source.
  std::vector<const TRequestItem*> Master(TSerialPortDM& source) {
    std::vector<const TRequestItem*> items;
    auto list = source.Queue->Requests->ReadLocked();
    for (const TBasicRequestItem* item : *list)
      items.push_back(static_cast<const TRequestItem*>(item));
    return items;
  }
  // The requests of the data source's only client.
  std::vector<TBasicRequestItem*> ClientItems(TSerialPortDM& source) {
    auto clients = source.Clients->ReadLocked();
    EXPECT_EQ(source.Clients->Count(), 1);
    std::vector<TBasicRequestItem*> items;
    for (const auto& entry : *clients) {
      TQueueState state(*entry.second->AsScheduled()->Queue);
      items.assign(state.Items().begin(), state.Items().end());
    }
    return items;
  }
  std::string LogText() {
    std::string text = m_.LogList->TakeText();
    m_.LogList->Clear();
    return text;
  }
};

TEST_F(APlugin, CreationValues) {
  EXPECT_EQ(m_.Identity.ModuleVersion.load(), 5.0f);
  EXPECT_EQ(m_.Identity.ModuleRoles.load(), 3);
  EXPECT_TRUE(m_.Identity.ModuleOptions.load() & 4);
  EXPECT_EQ(m_.Identity.ModuleFlags.load(), 1);
  EXPECT_EQ(m_.Identity.LogTitle.Get(), "DL-T645/2007");
  EXPECT_EQ(m_.Identity.EventsSupported.Get(), "PORT-OPEN;PORT-CLOSE");
  EXPECT_EQ(m_.Identity.Title.Get(), "DL-T645/2007 [GPRS]\r\nDL-T645/1997");
  EXPECT_TRUE(m_.Unloading);
  EXPECT_FALSE(m_.Config);
  ASSERT_NE(m_.TextResources, nullptr);
  EXPECT_EQ(m_.Context.TextResources, m_.TextResources);
  ASSERT_NE(m_.Properties, nullptr);
  EXPECT_EQ(m_.Properties->Strings().Count(), 10);
  const std::vector<std::string> props = m_.Translation.Translator->ComponentProperties();
  EXPECT_NE(std::find(props.begin(), props.end(), "FILTER"), props.end());
  EXPECT_NE(std::find(props.begin(), props.end(), "COLUMNS"), props.end());
}

TEST_F(APlugin, ALanguageSwitchTranslatesTheProtocolMessagesAgain) {
  const std::string lng = folder_.File("dlt645.lng");
  ASSERT_TRUE(platform::ReplaceFileContent(lng,
                                           "[Languages]\r\n$DE=Deutsch\r\n$FR=Fran\xC3\xA7"
                                           "ais\r\n\r\n"
                                           "EN:>Request timeout (ms)\r\nDE:>Zeit\xC3\xBC"
                                           "berschreitung (ms)\r\nFR:>D\xC3\xA9lai (ms)\r\n"));
  m_.Translation.Translator->Component().LanguageFiles = lng;
  auto switch_to = [&](const char* language) {
    Call c;
    c.Set("LANGUAGE", language);
    TPluginCallRecIntf call(&c.rec);
    m_.ApplyLanguage(call);
    return m_.TextResources->RequestTimeout();
  };
  EXPECT_EQ(switch_to("DE"),
            "Zeit\xC3\xBC"
            "berschreitung");
  EXPECT_EQ(switch_to("FR"), "D\xC3\xA9lai");
  // A language the files do not know: the built-in text, not the last one.
  EXPECT_EQ(switch_to("ES"), "Request timeout");
  EXPECT_EQ(switch_to("DE"),
            "Zeit\xC3\xBC"
            "berschreitung");
}

TEST_F(APlugin, TheConfigurationIdentifierChoosesTheVariant) {
  struct Case {
    uint32_t id;
    const char* title;
    bool is1997;
  } cases[] = {{ModuleConfigIdOf("DL-T645/2007 [GPRS]"), "DL-T645/2007 [GPRS]", false},
               {ModuleConfigIdOf("DL-T645/1997"), "DL-T645/1997", true},
               {12345, "DL-T645/2007", false},
               {0, "DL-T645/2007", false}};
  for (const Case& c : cases) {
    ASSERT_EQ(Load(c.id), 0);
    EXPECT_EQ(m_.Identity.LogTitle.Get(), c.title);
    EXPECT_EQ(m_.Variant1997, c.is1997);
    Call list;
    list.Set("EVENT-TYPE", OleVariant("GetFuncTypeList"));
    EXPECT_EQ(Command("EVENT", list), 0);
    EXPECT_EQ(list.params.GetValue("RESULT").ToString(), FuncTypeListText(c.is1997));
    ASSERT_EQ(Unload(), 0);
  }
  // Log lines name the variant.
  Load(ModuleConfigIdOf("DL-T645/1997"));
  m_.Log(TLogLevel::Warning, "x");
  EXPECT_EQ(LogText(),
            "\x02"
            "DL-T645/1997. x\r\n");
}

TEST_F(APlugin, DataSourcesFollowTheHostsState) {
  ASSERT_EQ(SetState(3, 1, "1;COM1;Line one\r\n2;COM2;Line two\r\nx;bad"), 0);
  std::vector<TSerialPortDM*> first = Sources();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0]->DataSourceNo, 1);
  EXPECT_EQ(first[0]->PortName, "COM1");
  EXPECT_EQ(first[0]->PortInfo, "Line one");
  EXPECT_EQ(first[1]->PortName, "COM2");
  EXPECT_EQ(m_.DataSources().size(), 2u);
  // Every data source gets a template client while the request role is on.
  EXPECT_EQ(first[0]->Clients->Count(), 1);

  // Kept when still configured, made when new, freed when gone.
  ASSERT_EQ(SetState(3, 1, "2;COM2;\r\n3;COM3;"), 0);
  std::vector<TSerialPortDM*> second = Sources();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], first[1]);
  EXPECT_EQ(second[1]->DataSourceNo, 3);

  // Only the one the host loads for.
  ASSERT_EQ(SetState(3, 1, "2;COM2;\r\n3;com3;", "COM3"), 0);
  ASSERT_EQ(Sources().size(), 1u);
  EXPECT_EQ(Sources()[0]->DataSourceNo, 3);

  // No role on: none.
  ASSERT_EQ(SetState(3, 0), 0);
  EXPECT_TRUE(Sources().empty());
}

TEST_F(APlugin, TheConfigurationReachesTheDataSourcesAndTheirClients) {
  StoreConfig(Query(Request("1;2", "02010100") +
                    Request("3", "02010200", "<Enabled>0</Enabled><MethodPoll>1</MethodPoll>")),
              250.4);
  ASSERT_EQ(Load(), 0);
  ASSERT_EQ(SetState(3, 1, "1;COM1;\r\n2;COM2;"), 0);
  for (TSerialPortDM* source : Sources()) {
    std::vector<const TRequestItem*> master = Master(*source);
    ASSERT_EQ(master.size(), 3u);
    EXPECT_EQ(master[0]->Parameters.Address12, "000000000001");
    EXPECT_EQ(master[2]->Parameters.Address12, "000000000003");
    EXPECT_EQ(source->Queue->MinInterval.load(), 250);
    EXPECT_EQ(ClientItems(*source).size(), 3u);
  }
  EXPECT_EQ(m_.Context.ListenOnlyCount.load(), 1);

  // A changed configuration comes in with the host's settings reload.
  StoreConfig(Query(Request("7", "02010100")));
  Call reload;
  reload.Set("INI-FILE", OleVariant(Ini())).Set("NO-SAVE", OleVariant(1));
  EXPECT_EQ(Command("LOAD-SETTINGS-NOW", reload), -2);
  for (TSerialPortDM* source : Sources()) {
    ASSERT_EQ(Master(*source).size(), 1u);
    EXPECT_EQ(Master(*source)[0]->Parameters.Address12, "000000000007");
    EXPECT_EQ(ClientItems(*source).size(), 1u);
  }
  EXPECT_EQ(m_.Context.ListenOnlyCount.load(), 0);

  // Unloading empties the lists; nothing is loaded while every role is off.
  ASSERT_EQ(Unload(), 0);
  EXPECT_FALSE(m_.Config);
  for (TSerialPortDM* source : Sources()) {
    EXPECT_TRUE(Master(*source).empty());
    EXPECT_TRUE(ClientItems(*source).empty());
  }
  ASSERT_EQ(Load(), 0);
  for (TSerialPortDM* source : Sources())
    EXPECT_TRUE(Master(*source).empty());
  ASSERT_EQ(SetState(1, 1), 0);
  for (TSerialPortDM* source : Sources())
    EXPECT_EQ(Master(*source).size(), 1u);
}

TEST_F(APlugin, SaveSettingsNowWritesTheProxy) {
  ASSERT_EQ(Load(), 0);
  m_.Config->lblParams_Caption = Query(Request("5", "02010100"));
  Call save;
  save.Set("INI-FILE", OleVariant(Ini()));
  EXPECT_EQ(Command("SAVE-SETTINGS-NOW", save), -2);
  TDataSourceCfg read;
  TSettingsLocation location;
  location.IniFile = Ini();
  location.IniSectionPrefix = "P";
  ASSERT_TRUE(LoadSettings(location, m_.Properties->Strings(), &read));
  EXPECT_EQ(read.lblParams_Caption, m_.Config->lblParams_Caption);
}

TEST_F(APlugin, DataIsAnsweredByTheStateOfTheModule) {
  const std::string bytes = "\x68\x01";
  Call data(2);
  data.rec.DataSourceNo = 1;
  data.rec.ClientId = 9;
  data.rec.Input.Size = static_cast<uint32_t>(bytes.size());
  data.rec.Input.Data = reinterpret_cast<uintptr_t>(bytes.data());
  auto process = [&] {
    data.rec.Input.Data = reinterpret_cast<uintptr_t>(bytes.data());
    data.rec.Input.Size = static_cast<uint32_t>(bytes.size());
    return m_.ProcessDataCall(&data.rec);
  };
  EXPECT_EQ(process(), -1);  // no configuration yet
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(process(), 0);
  ASSERT_EQ(SetState(3, 1, "1;COM1;"), 0);
  TSerialPortDM& source = *Sources()[0];
  // Role bit 1 clear: not parsed, so no client for the identifier.
  data.rec.Roles = 1;
  EXPECT_EQ(process(), 0);
  EXPECT_EQ(source.Clients->Count(), 1);  // the template client
  data.rec.Roles = 2;
  EXPECT_EQ(process(), 0);
  {
    auto clients = source.Clients->ReadLocked();
    EXPECT_EQ(clients->begin()->second->ClientId, 9u);  // the template taken over
  }
  // Unknown data source: answered 0.
  data.rec.DataSourceNo = 77;
  EXPECT_EQ(process(), 0);
  ASSERT_EQ(Unload(), 0);
  EXPECT_EQ(process(), -1);
}

TEST_F(APlugin, EventsReachTheDataSourcesOfTheirPort) {
  StoreConfig(Query(
      Request("1", "02010100",
              "<Enabled>1</Enabled><MethodEvent>1</MethodEvent><EventId>Go</EventId>") +
      Request("1", "02010200",
              "<Enabled>1</Enabled><MethodEvent>1</MethodEvent><EventId>PORT-CLOSE</EventId>")));
  ASSERT_EQ(Load(), 0);
  ASSERT_EQ(SetState(3, 1, "1;com3;\r\n2;COM4;"), 0);
  std::vector<TSerialPortDM*> sources = Sources();
  ASSERT_EQ(sources.size(), 2u);

  EXPECT_EQ(Event("Go"), 0);
  for (TSerialPortDM* source : sources) {
    EXPECT_TRUE(ClientItems(*source)[0]->Due);
    EXPECT_FALSE(ClientItems(*source)[1]->Due);
  }
  // A closing port names no port: every data source hears it.
  EXPECT_EQ(Event("PORT-CLOSE"), 0);
  for (TSerialPortDM* source : sources)
    EXPECT_TRUE(ClientItems(*source)[1]->Due);

  sources[0]->PortNotReady = true;
  sources[1]->PortNotReady = true;
  EXPECT_EQ(Event("PORT-OPEN", "COM3"), 0);
  EXPECT_FALSE(sources[0]->PortNotReady);
  EXPECT_TRUE(sources[1]->PortNotReady);
  for (TSerialPortDM* source : sources)
    EXPECT_EQ(source->Queue->ResetRequested.load(), 2);

  // With the request role off an event is answered and goes nowhere.
  ASSERT_EQ(SetState(1, 0), 0);
  ASSERT_EQ(SetState(2, 1), 0);
  sources = Sources();
  ASSERT_EQ(sources.size(), 2u);
  for (TSerialPortDM* source : sources)
    for (TBasicRequestItem* item : ClientItems(*source))
      item->Due = false;
  EXPECT_EQ(Event("Go"), 0);
  for (TSerialPortDM* source : sources)
    for (TBasicRequestItem* item : ClientItems(*source))
      EXPECT_FALSE(item->Due);
  // But an opened port no longer holds what the role sends once it is back.
  sources[0]->PortNotReady = true;
  EXPECT_EQ(Event("PORT-OPEN", "COM3"), 0);
  EXPECT_FALSE(sources[0]->PortNotReady);
}

}  // namespace
