#include "plugin/module_settings.h"

#include <gtest/gtest.h>

#include "config/store/ini_file.h"
#include "config/store/proxy_code_object.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "support/test_folder.h"

namespace {

TEST(ModuleConfigs, IdentifiersAreTheComplementedCrc32) {
  EXPECT_EQ(ModuleConfigIdOf("abc"), 0xCADBBE3Du);
  EXPECT_EQ(ModuleConfigIdOf(""), 0xFFFFFFFFu);
  EXPECT_EQ(ModuleConfigIdOf("123456789"), ~0xCBF43926u);
}

TEST(ModuleConfigs, ListTextAndLookUp) {
  TModuleConfigList list;
  EXPECT_EQ(list.FindConfig(ModuleConfigIdOf("x")), -1);
  list.AddConfig("DL-T645/2007 [GPRS]");
  list.AddConfig("DL-T645/1997");
  list.AddConfig("DL-T645/1997");
  EXPECT_EQ(list.ConfigsText(), "DL-T645/2007 [GPRS]\r\nDL-T645/1997\r\nDL-T645/1997");
  std::string name;
  EXPECT_EQ(list.FindConfig(ModuleConfigIdOf("DL-T645/1997"), &name), 1);
  EXPECT_EQ(name, "DL-T645/1997");
  EXPECT_EQ(list.FindConfig(0), -1);
  EXPECT_EQ(list.FindConfig(ModuleConfigIdOf("DL-T645/2007")), -1);
}

TEST(ModuleFolders, FileNameRule) {
  EXPECT_EQ(SanitizeFileName("COM1 test", '-'), "_COM1 test");
  EXPECT_EQ(SanitizeFileName("lpt", '-'), "_lpt");
  EXPECT_EQ(SanitizeFileName("nul", '-'), "_nul");
  EXPECT_EQ(SanitizeFileName("console", '-'), "console");
  EXPECT_EQ(SanitizeFileName("a/b\\c:d*e?f\"g<h>i|j\tk", '-'), "a-b-c-d-e-f-g-h-i-j-k");
  EXPECT_EQ(SanitizeFileName(".", '-'), "_.");
  EXPECT_EQ(SanitizeFileName("..", '-'), "_..");
  EXPECT_EQ(SanitizeFileName(". .", ' '), "_. .");
  EXPECT_EQ(SanitizeFileName("a..b", '-'), "a..b");
  EXPECT_EQ(SanitizeFileName("", '-'), "");
}

TEST(ModuleFolders, SubFolderFromTheSectionPrefix) {
  EXPECT_EQ(GetSubFolder("{Cfg:Main} more text"), "Main");
  EXPECT_EQ(GetSubFolder("{Main}"), "Main");
  EXPECT_EQ(GetSubFolder(" { Main } "), "Main");
  EXPECT_EQ(GetSubFolder("P1"), "");
  EXPECT_EQ(GetSubFolder("{A{B}"), "A");
  EXPECT_EQ(GetSubFolder("{Cfg:}"), "Cfg-");
  // Never a way out of the data folder.
  EXPECT_EQ(GetSubFolder("{..}"), "_..");
  EXPECT_EQ(GetSubFolder("{x:..\\..\\up}"), "..-..-up");
  EXPECT_EQ(GetSubFolder("{Cfg:a/b}"), "a-b");
}

TEST(ModuleFolders, ConfigNameFallsBackToTitleAndFileName) {
  TModuleConfigList list;
  list.AddConfig("COM1 test");
  list.AddConfig("DL-T645/1997");
  EXPECT_EQ(GetConfigName(&list, ModuleConfigIdOf("COM1 test"), "T", "x.dll"), "_COM1 test");
  EXPECT_EQ(GetConfigName(&list, ModuleConfigIdOf("DL-T645/1997"), "T", "x.dll"), "DL-T645-1997");
  EXPECT_EQ(GetConfigName(&list, 0, "DL-T645/2007 [GPRS]\r\nDL-T645/1997", "x.dll"),
            "DL-T645-2007 [GPRS]");
  EXPECT_EQ(GetConfigName(nullptr, 5, "..", "x.dll"), "_..");
  const std::string lib = std::string("dir") + platform::PathDelimiter() + "DLT645.DLL";
  EXPECT_EQ(GetConfigName(&list, 7, "", lib), "dlt645");
  EXPECT_EQ(GetConfigName(nullptr, 0, "\r\nsecond", lib), "dlt645");
}

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* n : {"XDG_DATA_HOME", "HOME"}) {
      std::string v;
      saved_.emplace_back(
          n, platform::GetEnvironmentValue(n, &v) ? std::optional<std::string>(v) : std::nullopt);
    }
    platform::SetEnvironmentValue("XDG_DATA_HOME", folder_.Path());
  }
  void TearDown() override {
    for (const auto& [n, v] : saved_) {
      if (v)
        platform::SetEnvironmentValue(n, *v);
      else
        platform::RemoveEnvironmentValue(n);
    }
  }
  TestFolder folder_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(DataFolderTest, AppDataPathTakesTheFourthFieldOfTheRegistryPath) {
  const char d = platform::PathDelimiter();
  const std::string base = platform::CommonAppDataFolder();
  ASSERT_FALSE(base.empty());
  const std::string lib = std::string("lib") + d;
  EXPECT_EQ(GetAppDataPath("\\Software\\A\\B\\C", lib), base + d + "B" + d);
  EXPECT_EQ(GetAppDataPath("\\Software\\A\\ P:Q? \\C", lib), base + d + "P Q " + d);
  EXPECT_EQ(GetAppDataPath("\\Software\\A\\..", lib), base + d + "_.." + d);
  EXPECT_EQ(GetAppDataPath("\\Software", lib), base + d);

  const std::string app = GetAppDataPath("\\Software\\A\\B", lib);
  EXPECT_EQ(GetModuleDataPath(app, "Main", "DL-T645-1997"), app + "Main" + d + "DL-T645-1997" + d);
  EXPECT_EQ(GetModuleDataPath(app, "", "dlt645"), app + "dlt645" + d);

  // Without any data folder the library's own folder stands in.
  platform::RemoveEnvironmentValue("XDG_DATA_HOME");
  platform::RemoveEnvironmentValue("HOME");
  if (platform::CommonAppDataFolder().empty()) {
    EXPECT_EQ(GetAppDataPath("\\Software\\A\\B", lib), lib);
  }
}

// A configuration object that notes whether the pass is marked busy while
// the store reads its properties.
class Probe : public TDataSourceCfg {
 public:
  using TDataSourceCfg::TDataSourceCfg;
  std::span<const TPropInfo> PublishedProperties() const override {
    static const auto props = JoinProps(TDataSourceCfg::PublishedProperties(),
                                        {{"Busy", TTypeKind::tkInteger,
                                          [](const TPersistent& s) -> TPropValue {
                                            const auto& p = PropSelf<Probe>(s);
                                            p.seen_busy = p.busy && *p.busy;
                                            return int64_t{1};
                                          },
                                          [](TPersistent&, const TPropValue&) {}}});
    return props;
  }
  const bool* busy = nullptr;
  mutable bool seen_busy = false;
};

TEST(SettingsPasses, RunOnTheStoreOfTheLocation) {
  TestFolder folder;
  TSettingsLocation loc;
  loc.IniFile = folder.File("module.ini");
  loc.IniSectionPrefix = "{Cfg:Main}";
  TStrings lines(
      std::vector<std::string>{"Left,Left", "Busy,Busy", "lblParams.Caption,Parser config"});
  bool busy = false;
  Probe cfg;
  cfg.busy = &busy;
  cfg.Left = 12;
  cfg.lblParams_Caption = "<a>\r\n  x</a>";

  EXPECT_FALSE(SaveSettings(loc, TStrings(), &cfg, nullptr, &busy));
  EXPECT_FALSE(platform::FileExists(loc.IniFile));

  ASSERT_TRUE(SaveSettings(loc, lines, &cfg, nullptr, &busy));
  EXPECT_TRUE(cfg.seen_busy);
  EXPECT_FALSE(busy);
  TIniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(loc.IniFile));
  std::string v;
  EXPECT_TRUE(ini.ReadString("{Cfg:Main}.Common", "Left", &v));
  EXPECT_EQ(v, "12");

  // The INI file given with a command stands in for the location's.
  const std::string other = folder.File("other.ini");
  cfg.Left = 13;
  ASSERT_TRUE(SaveSettings(loc, lines, &cfg, &other, &busy));
  Probe loaded;
  ASSERT_TRUE(LoadSettings(loc, lines, &loaded, &other, &busy));
  EXPECT_EQ(loaded.Left, 13);
  EXPECT_EQ(loaded.lblParams_Caption, "<a>\r\n  x</a>");
  ASSERT_TRUE(LoadSettings(loc, lines, &loaded, nullptr, &busy));
  EXPECT_EQ(loaded.Left, 12);
}

TEST(SettingsPasses, AnUnreadableStoreAnswersFalseAndClearsBusy) {
  TSettingsLocation loc;
  loc.RegistryRoot1 = 5;  // rrNone
  loc.RegistryRoot2 = 200;
  loc.RegistryPath = "\\Software\\dlt645-tests\\never";
  TDataSourceCfg cfg;
  bool busy = true;
  TStrings lines(std::vector<std::string>{"Left,Left"});
  EXPECT_FALSE(LoadSettings(loc, lines, &cfg, nullptr, &busy));
  EXPECT_FALSE(busy);
  busy = true;
  EXPECT_FALSE(SaveSettings(loc, lines, &cfg, nullptr, &busy));
  EXPECT_FALSE(busy);
}

}  // namespace
