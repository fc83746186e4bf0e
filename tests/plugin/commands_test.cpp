#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/message_loop.h"
#include "plugin_test_support.h"
#include "support/test_folder.h"

namespace {

using plugin_test::Call;
using plugin_test::Library;

std::string TakeLog(uintptr_t handle) {
  return Library::Module(handle).LogList->TakeText();
}

TEST(PluginCommands, OnlyTheFirstLoadAndTheLastUnloadDoTheWork) {
  int loads = 0, unloads = 0;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnLoad = [&](TqonPlugin&, TPluginCallRec*, int32_t&) { ++loads; };
    m.Events.OnUnload = [&](TqonPlugin&, TPluginCallRec*, int32_t&) { ++unloads; };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "LOAD"), 0);
  EXPECT_EQ(lib.Command(h, "LOAD"), 0);
  EXPECT_EQ(lib.Command(h, "UNLOAD"), 0);
  EXPECT_EQ(unloads, 0);
  EXPECT_FALSE(Library::Module(h).Host.Unloaded);
  EXPECT_EQ(lib.Command(h, "UNLOAD"), 0);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(unloads, 1);
  EXPECT_TRUE(Library::Module(h).Host.Unloaded);
  EXPECT_EQ(lib.Command(h, "UNLOAD"), 0);
  EXPECT_EQ(Library::Module(h).Host.LoadCount, 0);
  EXPECT_EQ(unloads, 1);
}

TEST(PluginCommands, LoadTakesTheHostSettings) {
  Library lib;
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  m.Identity.ModuleOptions = 4;
  Call c;
  c.rec.HostModuleId = 17;
  c.Set("REGISTRY-PATH", "\\Software\\A\\B")
      .Set("INI-SECTION-PREFIX", "{Cfg:Main}")
      .Set("INI-FILE", "x.ini")
      .Set("CONFIG-ID", int64_t{0xCADBBE3D})
      .Set("APPLICATION-NAME", "no-such-module-here");
  EXPECT_EQ(lib.Command(h, "LOAD", &c), 0);
  EXPECT_EQ(m.Host.HostModuleId, 17u);
  EXPECT_EQ(m.Settings.RegistryPath.Get(), "\\Software\\A\\B");
  EXPECT_EQ(m.Settings.IniSectionPrefix.Get(), "{Cfg:Main}");
  EXPECT_EQ(m.Settings.IniFile.Get(), "x.ini");
  EXPECT_EQ(m.Host.ConfigId, 0xCADBBE3Du);
  EXPECT_EQ(m.Host.HostModule, 0u);
  EXPECT_EQ(m.Host.HostFunctions.SendDataEx.load(), nullptr);
}

TEST(PluginCommands, NamesAreCaseSensitiveAndOthersGoToTheCommandHandler) {
  std::vector<std::string> seen;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnCommand = [&](TqonPlugin&, const std::string& command, TPluginCallRec*, int32_t& r) {
      seen.push_back(command);
      r = 42;
    };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "load"), 42);
  EXPECT_EQ(Library::Module(h).Host.LoadCount, 0);
  EXPECT_EQ(lib.Command(h, "CUSTOM"), 42);
  EXPECT_EQ(seen, (std::vector<std::string>{"load", "CUSTOM"}));

  Library bare;
  const uintptr_t b = bare.Create();
  EXPECT_EQ(bare.Command(b, "CUSTOM"), -2);
}

TEST(PluginCommands, ACommandFromInsideACommandIsRefused) {
  int32_t inner = 0;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnCommand = [&](TqonPlugin& self, const std::string&, TPluginCallRec*, int32_t& r) {
      Call c(reinterpret_cast<uintptr_t>(&self));
      c.Set("COMMAND", "EVENTS-SUPPORT");
      inner = plugin_entry::ExecutePluginCommand(&c.rec);
      r = 0;
    };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "OUTER"), 0);
  EXPECT_EQ(inner, -3);
  EXPECT_NE(TakeLog(h).find("{EVENTS-SUPPORT} Nested plugin commands are not allowed"),
            std::string::npos);
  // The depth is back: the next command runs.
  Call c;
  c.Set("RESULT", "");
  EXPECT_EQ(lib.Command(h, "EVENTS-SUPPORT", &c), 0);
}

TEST(PluginCommands, EventNeedsATypeAndReportsHandlerErrors) {
  Library bare;
  const uintptr_t b = bare.Create();
  EXPECT_EQ(bare.Command(b, "EVENT"), -1);
  Call c;
  c.Set("EVENT-TYPE", "PORT-OPEN");
  EXPECT_EQ(bare.Command(b, "EVENT", &c), 0);

  Library lib([](TqonPlugin& m) {
    m.Events.OnEvent = [](TqonPlugin&, const std::string& type, TPluginCallRec*, int32_t& r) {
      if (type == "BAD") throw EqonError("no such port");
      r = 7;
    };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "EVENT", &c), 7);
  Call bad;
  bad.Set("EVENT-TYPE", "BAD");
  EXPECT_EQ(lib.Command(h, "EVENT", &bad), -3);
  EXPECT_EQ(TakeLog(h), "\x01{EVENT} no such port\r\n");
}

TEST(PluginCommands, SetStateSwitchesTheRolesOfTheCall) {
  std::vector<int> changes;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnChangeState = [&](TqonPlugin&, uint8_t roles) { changes.push_back(roles); };
  });
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  m.SetRoleEnabled(TRole::Request, true);
  Call on;
  on.rec.Roles = 2;
  on.Set("RESULT", 1);
  EXPECT_EQ(lib.Command(h, "SET-STATE", &on), 0);
  EXPECT_EQ(m.EnabledRoles(), 3);
  Call off;
  off.rec.Roles = 2;
  off.Set("RESULT", 0);
  EXPECT_EQ(lib.Command(h, "SET-STATE", &off), 0);
  EXPECT_EQ(m.EnabledRoles(), 1);
  EXPECT_EQ(changes, (std::vector<int>{2, 2}));
  EXPECT_EQ(lib.Command(h, "SET-STATE"), -1);  // no "RESULT": nothing switched
  EXPECT_EQ(changes.size(), 2u);
}

TEST(PluginCommands, SetStateReadsTheConfiguredDataSources) {
  Library lib;
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  Call c;
  c.Set("DATA-SOURCES-IN-CFG", "1;COM1;x\r\nabc;COM2;y\r\n\r\n$10;TCP")
      .Set("DATA-SOURCE-LOAD", "COM1");
  EXPECT_EQ(lib.Command(h, "SET-STATE", &c), -1);
  const std::vector<TConfigDataSource> sources = m.ConfiguredDataSources();
  ASSERT_EQ(sources.size(), 2u);
  EXPECT_EQ(sources[0].Line, "1;COM1;x");
  EXPECT_EQ(sources[0].Number, 1);
  EXPECT_EQ(sources[0].Name, "COM1");
  EXPECT_EQ(sources[0].Extra, "x");
  EXPECT_EQ(sources[1].Number, 16);
  EXPECT_EQ(sources[1].Extra, "");
  EXPECT_EQ(m.State.DataSourceLoadFor, "COM1");
}

TEST(PluginCommands, ParserItemsGoBothWays) {
  int before = 0, set = 0;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnBeforeGetParserItems = [&](TqonPlugin& self) {
      ++before;
      self.ClearParserItems();
      self.AddStandardParserItems(false);
    };
    m.Events.OnSetItems = [&](TqonPlugin&) { ++set; };
  });
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "ITEMS"), -1);  // no "RESULT" item to answer in
  Call items;
  items.Set("RESULT", "");
  EXPECT_EQ(lib.Command(h, "ITEMS", &items), 0);
  EXPECT_EQ(before, 1);
  EXPECT_EQ(items.Result().ToString(), Library::Module(h).ParserItemsAsText());

  Call not_text;
  not_text.Set("ITEMS", 5);
  EXPECT_EQ(lib.Command(h, "SET-ITEMS", &not_text), -1);
  Call text;
  text.Set("ITEMS", "A|a|Integer|\r\nB|b");
  EXPECT_EQ(lib.Command(h, "SET-ITEMS", &text), 0);
  EXPECT_EQ(set, 1);
  EXPECT_EQ(Library::Module(h).ParserItemCount(), 2);
}

OleVariant GetParam(Library& lib, uintptr_t h, const std::string& name) {
  Call c;
  c.Set("PARAM", name).Set("RESULT", "");
  EXPECT_EQ(lib.Command(h, "GET-MODULE-PARAMETER", &c), 0);
  return c.Result();
}

bool SetParam(Library& lib, uintptr_t h, const std::string& name, OleVariant value) {
  Call c;
  c.Set("PARAM", name).Set("VALUE", std::move(value)).Set("RESULT", "");
  EXPECT_EQ(lib.Command(h, "SET-MODULE-PARAMETER", &c), 0);
  return c.Result().ToBool();
}

TEST(PluginModuleParameters, CustomParametersByNameIndexAndCount) {
  Library lib;
  const uintptr_t h = lib.Create();
  for (const char* n : {"CustomA", "Custom B", "Custom:C", "Custom_D"})
    EXPECT_TRUE(SetParam(lib, h, n, std::string(n)));
  EXPECT_EQ(GetParam(lib, h, "Custom:COUNT").ToInt(), 4);
  EXPECT_EQ(GetParam(lib, h, "Custom_3").ToString(), "Custom_D");
  EXPECT_EQ(GetParam(lib, h, "CustomB").ToString(), "Custom B");
  EXPECT_TRUE(GetParam(lib, h, "Custom9").IsEmpty());
  EXPECT_TRUE(GetParam(lib, h, "CustomNone").IsNull());
  EXPECT_TRUE(SetParam(lib, h, "Custom 0", "first"));
  EXPECT_EQ(GetParam(lib, h, "CustomA").ToString(), "first");
  // "custom" is not "Custom"; a bare "Custom" names nothing.
  EXPECT_FALSE(SetParam(lib, h, "customE", 1));
  EXPECT_FALSE(SetParam(lib, h, "Custom_", 1));
  EXPECT_TRUE(SetParam(lib, h, "CustomCOUNT", 0));
  EXPECT_EQ(GetParam(lib, h, "CustomCOUNT").ToInt(), 0);
}

TEST(PluginModuleParameters, NamedFieldsAndParserItemsByIndex) {
  Library lib;
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  m.AddStandardParserItems(true);
  EXPECT_EQ(GetParam(lib, h, "ParserItemName2").ToString(), "DATE_TIME_STAMP");
  EXPECT_EQ(GetParam(lib, h, "ParserItemDesc6").ToString(), "Client ID");
  EXPECT_EQ(GetParam(lib, h, "ParserItemType3").ToInt(), kParserTypeInteger);
  EXPECT_TRUE(GetParam(lib, h, "ParserItemName7").IsEmpty());
  EXPECT_TRUE(GetParam(lib, h, "parseritemname2").IsEmpty());
  EXPECT_EQ(GetParam(lib, h, "parseritemscount").ToInt(), 7);

  EXPECT_TRUE(SetParam(lib, h, "LogTitle", "Meter"));
  EXPECT_EQ(GetParam(lib, h, "logtitle").ToString(), "Meter");
  EXPECT_TRUE(SetParam(lib, h, "ModuleType", 0x103));
  EXPECT_EQ(GetParam(lib, h, "ModuleType").ToInt(), 3);
  EXPECT_FALSE(SetParam(lib, h, "ModuleType", "three"));
  // The host's window and subscription answer true even for a value that
  // does not convert, and keep what they had.
  EXPECT_TRUE(SetParam(lib, h, "OWNER-FORM", 0x1234));
  EXPECT_TRUE(SetParam(lib, h, "OWNER-FORM", "no handle"));
  EXPECT_EQ(m.Host.OwnerForm.load(), 0x1234u);
  EXPECT_TRUE(SetParam(lib, h, "SUBSCRIBE-FOR-DATA", true));
  EXPECT_TRUE(SetParam(lib, h, "SUBSCRIBE-FOR-DATA", "maybe"));
  EXPECT_TRUE(m.Host.SubscribeForData.load());
  EXPECT_TRUE(SetParam(lib, h, "CustomCommands", "A|Do a||1|0"));
  EXPECT_EQ(GetParam(lib, h, "CustomCommands").ToString(), "A|Do a||1|0\r\n");
  EXPECT_TRUE(SetParam(lib, h, "TranslatorComponentProperties", "Filter;Columns|"));
  const std::string properties = GetParam(lib, h, "TranslatorComponentProperties").ToString();
  EXPECT_NE(properties.find("\r\nMSGNODATA\r\nMSGWRITECOMPLETE\r\nMSGWRITECOMPLETEERROR\r\n"),
            std::string::npos);
  EXPECT_EQ(properties.substr(properties.size() - 17), "\r\nFILTER\r\nCOLUMNS");
  EXPECT_FALSE(SetParam(lib, h, "NoSuchParameter", 1));
  EXPECT_TRUE(GetParam(lib, h, "NoSuchParameter").IsEmpty());
  EXPECT_EQ(GetParam(lib, h, "ModulePluginHandle").ToInt64(), static_cast<int64_t>(h));
  EXPECT_EQ(GetParam(lib, h, "DisplayFullVersion").ToString(), "5.0.0.1");
  EXPECT_FALSE(GetParam(lib, h, "TerminateNow").ToBool());
  EXPECT_FALSE(GetParam(lib, h, "TESTTRANSL").ToBool());
}

TEST(PluginModuleParameters, WithoutParamOrResultItem) {
  Library lib;
  const uintptr_t h = lib.Create();
  EXPECT_EQ(lib.Command(h, "GET-MODULE-PARAMETER"), -2);
  EXPECT_EQ(lib.Command(h, "SET-MODULE-PARAMETER"), -2);
  Call c;
  c.Set("PARAM", "LogTitle").Set("VALUE", "x");
  EXPECT_EQ(lib.Command(h, "SET-MODULE-PARAMETER", &c), 0);
  EXPECT_FALSE(c.params.FindItem("RESULT"));
  EXPECT_EQ(Library::Module(h).Identity.LogTitle.Get(), "x");
}

TEST(PluginSettingsCommands, NoSaveKeepsTheSaveHandlerQuiet) {
  std::vector<std::string> events;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnSaveSettingsNow = [&](TqonPlugin& self) {
      events.push_back("save " + self.Settings.IniFile.Get());
    };
    m.Events.OnLoadSettingsNow = [&](TqonPlugin& self) {
      events.push_back("load " + self.Settings.IniFile.Get());
    };
  });
  const uintptr_t h = lib.Create();
  Library::Module(h).Settings.IniFile = "main.ini";
  Call no_save;
  no_save.Set("INI-FILE", "other.ini").Set("NO-SAVE", 1);
  EXPECT_EQ(lib.Command(h, "SAVE-SETTINGS-NOW", &no_save), -2);
  EXPECT_TRUE(events.empty());
  Call save;
  save.Set("INI-FILE", "other.ini");
  EXPECT_EQ(lib.Command(h, "SAVE-SETTINGS-NOW", &save), -2);
  EXPECT_EQ(lib.Command(h, "LOAD-SETTINGS-NOW", &save), -2);
  EXPECT_EQ(events,
            (std::vector<std::string>{"save other.ini", "load other.ini", "save main.ini"}));
  EXPECT_EQ(Library::Module(h).Settings.IniFile.Get(), "main.ini");
}

TEST(PluginSettingsCommands, UnloadSavesOnlyToAnotherNamedFile) {
  int saves = 0;
  Library lib([&](TqonPlugin& m) { m.Events.OnSaveSettingsNow = [&](TqonPlugin&) { ++saves; }; });
  const uintptr_t h = lib.Create();
  auto cycle = [&](const char* ini) {
    Call load;
    load.Set("INI-FILE", "a.ini");
    lib.Command(h, "LOAD", &load);
    Call unload;
    if (ini) unload.Set("INI-FILE", ini);
    lib.Command(h, "UNLOAD", &unload);
  };
  cycle(nullptr);
  cycle("a.ini");
  EXPECT_EQ(saves, 0);
  EXPECT_EQ(Library::Module(h).Settings.IniFile.Get(), "a.ini");
  cycle("b.ini");
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(Library::Module(h).Settings.IniFile.Get(), "b.ini");
}

// Translates the built-in texts into "DE" only.
class GermanOnly : public TPluginTranslator {
 public:
  bool Translate(TComponent& component, const std::string& language) override {
    if (language != "DE") return false;
    auto& module = static_cast<TqonPlugin&>(component);
    module.Messages.MsgNoData = "DE:" + module.Messages.MsgNoData.Get();
    return true;
  }
};

TEST(PluginLanguage, SwitchingBackAndForthTranslatesFromTheBuiltInTexts) {
  int changes = 0;
  Library lib([&](TqonPlugin& m) {
    m.Translation.Translator = std::make_unique<GermanOnly>();
    m.Events.OnLanguageChange = [&](TqonPlugin&) { ++changes; };
  });
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  auto load = [&](const char* language) {
    Call c;
    c.Set("LANGUAGE", language);
    lib.Command(h, "LOAD", &c);
  };
  load("EN");
  EXPECT_EQ(changes, 0);  // already the current language
  load("DE");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "DE:No data for processing");
  load("EN");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "No data for processing");
  load("DE");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "DE:No data for processing");
  EXPECT_EQ(m.Translation.Language.Get(), "DE");
  EXPECT_EQ(changes, 3);
}

TEST(PluginLanguage, TheTranslatorTranslatesThePublishedMessages) {
  TestFolder folder;
  const std::string lng = folder.File("plugin.lng");
  ASSERT_TRUE(platform::ReplaceFileContent(
      lng,
      "[Languages]\r\n$DE=Deutsch\r\n\r\n"
      "EN:>No data for processing\r\nDE:>Keine Daten\r\n\r\n"
      "EN:>Data have been processed successfully\r\nDE:>Daten verarbeitet\r\n"));
  Library lib([&](TqonPlugin& m) { m.Translation.Translator->Component().LanguageFiles = lng; });
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  auto load = [&](const char* language) {
    Call c;
    c.Set("LANGUAGE", language);
    lib.Command(h, "LOAD", &c);
  };
  load("DE");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "Keine Daten");
  EXPECT_EQ(m.Messages.MsgWriteComplete.Get(), "Daten verarbeitet");
  EXPECT_EQ(m.Messages.MsgWriteCompleteError.Get(), "Data have been processed with errors");
  load("EN");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "No data for processing");
  load("DE");
  EXPECT_EQ(m.Messages.MsgNoData.Get(), "Keine Daten");
}

TEST(PluginNotifications, OneLogNoticeUntilTheHostFetchesTheLog) {
  std::vector<std::pair<uint32_t, uintptr_t>> got;
  auto window = platform::MessageWindow::Create([&](uint32_t msg, uintptr_t w, intptr_t) {
    got.emplace_back(msg, w);
    return intptr_t{0};
  });
  ASSERT_TRUE(window);
  Library lib;
  const uintptr_t h = lib.Create();
  TqonPlugin& m = Library::Module(h);
  m.Log(TLogLevel::Warning, "before the window");
  Call load;
  load.rec.HostModuleId = 5;
  load.Set("MSG-PROC-HANDLE", static_cast<int64_t>(window->Handle()));
  EXPECT_EQ(lib.Command(h, "LOAD", &load), 0);
  m.Log(TLogLevel::Warning, "one");
  m.Log(TLogLevel::Warning, "two");
  platform::PumpMessages(0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], std::make_pair(kMsgLogLines, uintptr_t{5}));

  Call log(h);
  EXPECT_EQ(plugin_entry::GetLogEx(&log.rec), 0);  // size 0: discarded
  m.Log(TLogLevel::Warning, "three");
  m.NotifyHost(kMsgReloadSettings);
  platform::PumpMessages(0);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[1].first, kMsgLogLines);
  EXPECT_EQ(got[2].first, kMsgReloadSettings);
  platform::MessageWindow::Destroy(std::move(window));
}

TEST(PluginStateLock, AStateChangeFromInsideADataCallIsRefused) {
  int32_t inner = 0;
  int unloads = 0;
  Library lib([&](TqonPlugin& m) {
    m.Events.OnUnload = [&](TqonPlugin&, TPluginCallRec*, int32_t&) { ++unloads; };
    m.Events.OnProcessData = [&](TqonPlugin& self, TPluginCallRec*, int32_t& r) {
      // As a host would from inside its output function.
      Call c(reinterpret_cast<uintptr_t>(&self));
      c.Set("COMMAND", "UNLOAD");
      inner = plugin_entry::ExecutePluginCommand(&c.rec);
      r = 1;
    };
  });
  const uintptr_t h = lib.Create();
  lib.Command(h, "LOAD");
  Call data(h);
  data.rec.Roles = 2;
  uint8_t byte = 0;
  data.rec.Input = TPluginDataDesc{0, 1, 0, reinterpret_cast<uintptr_t>(&byte)};
  EXPECT_EQ(plugin_entry::ProcessData(&data.rec), 1);
  EXPECT_EQ(inner, -3);
  EXPECT_EQ(unloads, 0);
  EXPECT_EQ(Library::Module(h).Host.LoadCount, 1);
  EXPECT_FALSE(Library::Module(h).Host.Unloaded);
}

}  // namespace
