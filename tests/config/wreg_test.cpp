#include "config/store/wreg.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/errors.h"
#include "config/store/ini_file.h"
#include "config/store/proxy_code_object.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "settings_store_fixture.h"

namespace {

// A configuration text with everything that must survive the store.
std::string ConfigText() {
  return platform::Utf8ToAnsi(
      "<DL_T645_2007_QUERY>\r\n  <Request caption=\"100% Z\xC3\xA4hler\">\r\n    "
      "<Device>1 +  2</Device>\r\n  </Request>\r\n</DL_T645_2007_QUERY> ");
}

const std::vector<std::string> kLines = {"Left,Left",
                                         "Top,Top",
                                         "Height,Height",
                                         "Width,Width",
                                         ";---short---",
                                         "lblParams.Caption,Parser config",
                                         "OpenDialog.FileName,Open files dir",
                                         "SaveDialog.FileName,Save files dir",
                                         "spMinInt.Value,Min interval",
                                         "chkBlockIp.Checked,Block IP",
                                         ""};

void Fill(TDataSourceCfg& c) {
  c.Left = -5;
  c.Top = 7;
  c.Height = 100000;
  c.Width = 1;
  c.lblParams_Caption = ConfigText();
  c.OpenDialog_FileName = "C:\\data\\in.xml";
  c.SaveDialog_FileName = "";
  c.spMinInt_Value = 12.75;
  c.chkBlockIp_Checked = true;
}

void ExpectSame(const TDataSourceCfg& a, const TDataSourceCfg& b) {
  EXPECT_EQ(a.Left, b.Left);
  EXPECT_EQ(a.Top, b.Top);
  EXPECT_EQ(a.Height, b.Height);
  EXPECT_EQ(a.Width, b.Width);
  EXPECT_EQ(a.lblParams_Caption, b.lblParams_Caption);
  EXPECT_EQ(a.OpenDialog_FileName, b.OpenDialog_FileName);
  EXPECT_EQ(a.SaveDialog_FileName, b.SaveDialog_FileName);
  EXPECT_EQ(a.spMinInt_Value, b.spMinInt_Value);
  EXPECT_EQ(a.chkBlockIp_Checked, b.chkBlockIp_Checked);
}

using WregRegistry = SettingsStoreTest;
using WregIni = SettingsStoreTest;

TEST_F(WregRegistry, SavesTypedValuesAndLoadsThemBack) {
  TDataSourceCfg saved;
  Fill(saved);
  TWreg w;
  UseRegistry(w);
  w.Components.SetItems(kLines);
  ASSERT_TRUE(w.Save(&saved));
  EXPECT_EQ(w.OpenedRoot(), rrHKEY_CURRENT_USER);

  auto key = Key();
  ASSERT_NE(key, nullptr);
  platform::RegValue v;
  ASSERT_TRUE(key->ReadValue("Left", &v));
  EXPECT_EQ(v.type, platform::RegValueType::Integer);
  EXPECT_EQ(static_cast<int32_t>(v.integer), -5);
  ASSERT_TRUE(key->ReadValue("Min interval", &v));
  ASSERT_EQ(v.type, platform::RegValueType::Binary);
  double d = 0;
  ASSERT_EQ(v.data.size(), sizeof d);
  std::memcpy(&d, v.data.data(), sizeof d);
  EXPECT_EQ(d, 12.75);
  ASSERT_TRUE(key->ReadValue("Parser config", &v));
  EXPECT_EQ(v.type, platform::RegValueType::String);
  EXPECT_EQ(v.data.substr(0, 40), "<DL_T645_2007_QUERY>%0D%0A+ <Request cap");
  EXPECT_EQ(v.data.back(), '+');  // the final blank
  ASSERT_TRUE(key->ReadValue("Block IP", &v));
  EXPECT_EQ(v.data, "True");
  EXPECT_FALSE(key->ReadValue("Save files dir", &v));  // empty: not stored

  TDataSourceCfg loaded;
  TWreg r;
  UseRegistry(r);
  r.Components.SetItems(kLines);
  ASSERT_TRUE(r.Load(&loaded));
  ExpectSame(saved, loaded);
}

TEST_F(WregRegistry, SubPathsBecomeSubKeysAndTheSecondRootIsTried) {
  TDataSourceCfg cfg;
  TWreg w;
  UseRegistry(w);
  w.RegistryRoot = rrNone;
  w.Components.SetItems({"Left,Sub\\\\Inner\\Left;comment", "Top;\\Top"});
  ASSERT_TRUE(w.Save(&cfg));
  EXPECT_EQ(w.OpenedRoot(), rrHKEY_CURRENT_USER);
  platform::RegValue v;
  auto sub = Key("\\A\\B\\Sub\\Inner");
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->ReadValue("Left", &v));
  EXPECT_EQ(v.integer, 326u);
  ASSERT_TRUE(Key()->ReadValue("Top", &v));
  EXPECT_EQ(v.integer, 144u);
}

TEST_F(WregRegistry, AValueOfTheWrongTypeIsSkippedAndDeleted) {
  auto key =
      platform::RegistryKey::Open(platform::RegistryRootKey::CurrentUser, key_ + "\\A\\B", true);
  ASSERT_NE(key, nullptr);
  key->WriteString("Left", "12");
  key->WriteInteger("Top", 77);
  key->WriteString("Min interval", "1.5");
  key->WriteInteger("Parser config", 42);  // a string property accepts an integer value
  TDataSourceCfg cfg;
  TWreg r;
  UseRegistry(r);
  r.Components.SetItems(kLines);
  ASSERT_TRUE(r.Load(&cfg));
  EXPECT_EQ(cfg.Left, 326);
  EXPECT_EQ(cfg.Top, 77);
  EXPECT_EQ(cfg.spMinInt_Value, 0);
  EXPECT_EQ(cfg.lblParams_Caption, "42");
  platform::RegValue v;
  EXPECT_FALSE(key->ReadValue("Left", &v));
  EXPECT_FALSE(key->ReadValue("Min interval", &v));
  EXPECT_TRUE(key->ReadValue("Top", &v));
}

TEST_F(WregRegistry, APathThatCannotBeOpenedTouchesNothing) {
  TDataSourceCfg cfg;
  TWreg w;
  UseRegistry(w);
  w.Components.SetItems(kLines);
  // Loading never creates the key.
  EXPECT_FALSE(w.Load(&cfg));
  EXPECT_EQ(Key(), nullptr);
  EXPECT_EQ(Key("\\A"), nullptr);
  // No root that can be opened: neither pass does anything.
  w.RegistryRoot = rrNone;
  w.SecondRegistryRoot = 77;
  Fill(cfg);
  EXPECT_FALSE(w.Save(&cfg));
  EXPECT_FALSE(w.Load(&cfg));
  EXPECT_EQ(Key(), nullptr);
  EXPECT_EQ(cfg.Left, -5);
}

TEST_F(WregRegistry, AnEmptyValueDeletesTheStoredOne) {
  TDataSourceCfg cfg;
  Fill(cfg);
  TWreg w;
  UseRegistry(w);
  w.Components.SetItems({"lblParams.Caption,Parser config"});
  ASSERT_TRUE(w.Save(&cfg));
  platform::RegValue v;
  ASSERT_TRUE(Key()->ReadValue("Parser config", &v));
  cfg.lblParams_Caption.clear();
  ASSERT_TRUE(w.Save(&cfg));
  EXPECT_FALSE(Key()->ReadValue("Parser config", &v));
}

TEST_F(WregIni, SectionsFollowThePrefix) {
  TDataSourceCfg cfg;
  const struct {
    const char* prefix;
    const char* line;
    const char* section;
  } cases[] = {
      {"P1", "Left,Left", "P1.Common"},   {"P1\\", "Left,Left", "P1"},
      {"P1/", "Left,Left", "P1"},         {"", "Left,Left", "Common"},
      {"P1", "Left,Sub\\Left", "P1.Sub"}, {"P1\\", "Left,Sub\\Deep\\Left", "P1.Sub.Deep"},
      {"", "Left,Sub\\Left", "Sub"},      {"A\\B", "Left,Left", "A.B.Common"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix + std::string(" ") + c.line);
    EXPECT_EQ(WregIniSection(c.prefix,
                             [&] {
                               TWregItem item;
                               ParseWregItem(c.line, &item);
                               return item.SubPath;
                             }()),
              c.section);
    const std::string file = Ini();
    platform::RemoveFile(file);
    TWreg w;
    w.INIFile = file;
    w.INIFileSectionPrefix = c.prefix;
    w.Components.SetItems({c.line});
    ASSERT_TRUE(w.Save(&cfg));
    TIniFile ini;
    ASSERT_TRUE(ini.LoadFromFile(file));
    std::string v;
    EXPECT_TRUE(ini.ReadString(c.section, "Left", &v));
    EXPECT_EQ(v, "326");
  }
}

TEST_F(WregIni, ConfigurationTextRoundTripsUnchanged) {
  TDataSourceCfg saved;
  Fill(saved);
  TWreg w;
  w.INIFile = Ini();
  w.INIFileSectionPrefix = "{Cfg:Main}";
  w.Components.SetItems(kLines);
  ASSERT_TRUE(w.Save(&saved));
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Ini(), &content));
  EXPECT_NE(
      content.find(
          "Parser config=<DL_T645_2007_QUERY>%0D%0A+ <Request caption=\"100%% Z%C3%A4hler\">"),
      std::string::npos);
  EXPECT_NE(content.find("Min interval=12.75"), std::string::npos);
  EXPECT_NE(content.find("Block IP=True"), std::string::npos);

  TDataSourceCfg loaded;
  ASSERT_TRUE(w.Load(&loaded));
  ExpectSame(saved, loaded);
}

TEST_F(WregIni, HostileStoredValuesLeaveTheirPropertiesAlone) {
  ASSERT_TRUE(platform::ReplaceFileContent(
      Ini(),
      "[Common]\r\nLeft=abc\r\nTop=99999999999\r\nHeight= $10 \r\nMin interval=1,5e\r\n"
      "Block IP=maybe\r\nParser config=%\r\nOpen files dir=%ZZ%4\r\nWidth=\r\n"));
  TDataSourceCfg cfg;
  cfg.chkBlockIp_Checked = true;
  TWreg w;
  w.INIFile = Ini();
  w.Components.SetItems(kLines);
  EXPECT_TRUE(w.Load(&cfg));
  EXPECT_EQ(cfg.Left, 326);
  EXPECT_EQ(cfg.Top, 144);
  EXPECT_EQ(cfg.Height, 16);
  EXPECT_EQ(cfg.Width, 481);
  EXPECT_EQ(cfg.spMinInt_Value, 0);
  EXPECT_TRUE(cfg.chkBlockIp_Checked);
  EXPECT_EQ(cfg.lblParams_Caption, "%");
  EXPECT_EQ(cfg.OpenDialog_FileName, "%ZZ%4");
  // The INI store deletes nothing on load.
  std::string content;
  ASSERT_TRUE(platform::ReadWholeFile(Ini(), &content));
  EXPECT_NE(content.find("Left=abc"), std::string::npos);
}

TEST_F(WregIni, ATruncatedFileStillLoadsWhatItHolds) {
  ASSERT_TRUE(
      platform::ReplaceFileContent(Ini(), std::string("[Common]\nTop=5\nLeft=1\0\xff[", 24)));
  TDataSourceCfg cfg;
  TWreg w;
  w.INIFile = Ini();
  w.Components.SetItems(kLines);
  EXPECT_TRUE(w.Load(&cfg));
  EXPECT_EQ(cfg.Top, 5);
  EXPECT_EQ(cfg.Left, 326);  // "1\0\xff[" is no number
  cfg.Left = 3;
  ASSERT_TRUE(w.Save(&cfg));
  TDataSourceCfg again;
  ASSERT_TRUE(w.Load(&again));
  EXPECT_EQ(again.Left, 3);
}

TEST_F(WregIni, LoadingFromAMissingFileReadsTheRegistry) {
  TDataSourceCfg cfg;
  cfg.Left = 1;
  TWreg reg;
  UseRegistry(reg);
  reg.Components.SetItems({"Left,Left"});
  ASSERT_TRUE(reg.Save(&cfg));
  TDataSourceCfg loaded;
  reg.INIFile = Ini("missing.ini");
  ASSERT_TRUE(reg.Load(&loaded));
  EXPECT_EQ(loaded.Left, 1);
  EXPECT_FALSE(platform::FileExists(Ini("missing.ini")));
}

TEST_F(WregIni, SkippedLinesWriteNothing) {
  TDataSourceCfg cfg;
  TWreg w;
  w.INIFile = Ini();
  w.Components.SetItems({";---short---", "", "   ", "Left", "Left,", ",Left", "Nothing.Here,Value",
                         "*Custom,Value", "Name.Part,Value"});
  EXPECT_FALSE(w.Save(&cfg));
  EXPECT_FALSE(platform::FileExists(Ini()));
  w.Components.SetItems({"Left , Left ; the form's left"});
  EXPECT_TRUE(w.Save(&cfg));
  TIniFile ini;
  ini.LoadFromFile(Ini());
  EXPECT_EQ(ini.KeyNames("Common"), std::vector<std::string>{"Left"});
}

TEST_F(WregIni, AFileThatCannotBeWrittenMakesTheSaveFail) {
  TDataSourceCfg cfg;
  TWreg w;
  w.INIFile = folder_.File("no-such-folder") + platform::PathDelimiter() + "x.ini";
  w.Components.SetItems({"Left,Left"});
  EXPECT_FALSE(w.Save(&cfg));
}

TEST_F(WregIni, TheCustomStoreReadsAndWritesNothing) {
  TDataSourceCfg cfg;
  TWreg w;
  w.INIFile = "$CUSTOM$";
  w.Components.SetItems({"Left,Left"});
  EXPECT_TRUE(w.Save(&cfg));
  EXPECT_FALSE(w.Load(&cfg));
  EXPECT_FALSE(platform::FileExists("$CUSTOM$"));
}

// --- Property paths on objects that are not proxies

class TestFont : public TPersistent {
 public:
  const char* ClassName() const override { return "TFont"; }
  std::span<const TPropInfo> PublishedProperties() const override {
    static const TPropInfo props[] = {
        {"Name", TTypeKind::tkString,
         [](const TPersistent& s) -> TPropValue { return PropSelf<TestFont>(s).name; },
         [](TPersistent& s, const TPropValue& v) { PropSelf<TestFont>(s).name = PropAsText(v); }}};
    return props;
  }
  std::string name = "MS Sans Serif";
};

class TestLabel : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TLabel"; }
  std::span<const TPropInfo> PublishedProperties() const override {
    static const auto props = JoinProps(
        ComponentProperties(),
        {{"Caption", TTypeKind::tkString,
          [](const TPersistent& s) -> TPropValue { return PropSelf<TestLabel>(s).caption; },
          [](TPersistent& s, const TPropValue& v) {
            PropSelf<TestLabel>(s).caption = PropAsText(v);
          }}});
    return props;
  }
  std::string caption;
};

const char* const kModes[] = {"mdOne", "mdTwo"};

class TestForm : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TForm"; }
  std::span<const TPropInfo> PublishedProperties() const override {
    static const auto props = JoinProps(
        ComponentProperties(),
        {
            {"Font", TTypeKind::tkClass,
             [](const TPersistent& s) -> TPropValue {
               return static_cast<TPersistent*>(&const_cast<TestForm&>(PropSelf<TestForm>(s)).font);
             },
             nullptr},
            {"Lines", TTypeKind::tkClass,
             [](const TPersistent& s) -> TPropValue {
               return static_cast<TPersistent*>(
                   &const_cast<TestForm&>(PropSelf<TestForm>(s)).lines);
             },
             nullptr},
            {"Link", TTypeKind::tkClass,
             [](const TPersistent& s) -> TPropValue {
               return static_cast<TPersistent*>(PropSelf<TestForm>(s).link);
             },
             [](TPersistent& s, const TPropValue& v) {
               PropSelf<TestForm>(s).link = dynamic_cast<TComponent*>(std::get<TPersistent*>(v));
             }},
            {"Mode", TTypeKind::tkEnumeration,
             [](const TPersistent& s) -> TPropValue { return int64_t{PropSelf<TestForm>(s).mode}; },
             [](TPersistent& s, const TPropValue& v) {
               PropSelf<TestForm>(s).mode = static_cast<int>(PropAsInt(v));
             },
             kModes, 2},
            {"Count", TTypeKind::tkInteger,
             [](const TPersistent& s) -> TPropValue {
               return int64_t{PropSelf<TestForm>(s).count};
             },
             nullptr},
        });
    return props;
  }
  TestFont font;
  TStrings lines;
  TComponent* link = nullptr;
  int mode = 0;
  int count = 3;
};

TEST(WregPaths, ProxiesTakeTheWholePathWithUnderscores) {
  TDataSourceCfg cfg;
  EXPECT_STREQ(ResolvePropertyPath(&cfg, "lblParams.Caption").Property->Name, "lblParams_Caption");
  EXPECT_STREQ(ResolvePropertyPath(&cfg, "chkBlockIp.Checked").Property->Name,
               "chkBlockIp_Checked");
  EXPECT_EQ(ResolvePropertyPath(&cfg, "spMinInt.Value").Kind(), TTypeKind::tkFloat);
  EXPECT_EQ(ResolvePropertyPath(&cfg, "Nope.Caption").Kind(), TTypeKind::tkUnknown);
  EXPECT_EQ(ResolvePropertyPath(&cfg, "").Kind(), TTypeKind::tkUnknown);
  EXPECT_EQ(ResolvePropertyPath(nullptr, "Left").Kind(), TTypeKind::tkUnknown);
}

TEST(WregPaths, OtherObjectsAreWalkedByComponentAndProperty) {
  TestForm form;
  form.SetName("frm");
  auto& label = form.CreateOwned<TestLabel>();
  label.SetName("lblParams");
  auto r = ResolvePropertyPath(&form, "lblParams.Caption");
  EXPECT_EQ(r.Object, &label);
  ASSERT_NE(r.Property, nullptr);
  EXPECT_STREQ(r.Property->Name, "Caption");
  EXPECT_EQ(ResolvePropertyPath(&form, "Mode").Object, &form);
  // "Font" is not a component: the first part of a dotted path must be one.
  EXPECT_EQ(ResolvePropertyPath(&form, "Font.Name").Property, nullptr);
  EXPECT_EQ(ResolvePropertyPath(&form, "lblParams.Caption.Deeper").Property, nullptr);
  EXPECT_EQ(ResolvePropertyPath(&form, "Missing.Caption").Property, nullptr);
  EXPECT_EQ(ResolvePropertyPath(&form, "lblParams.Missing").Property, nullptr);
}

TEST_F(WregIni, ListsReferencesAndEnumerationsOfAFormRoundTrip) {
  TestForm form;
  form.SetName("frm");
  auto& label = form.CreateOwned<TestLabel>();
  label.SetName("lblParams");
  label.caption = "two\r\nlines";
  form.lines.SetItems({"a b", "", "100%"});
  form.link = &label;
  form.mode = 1;
  TWreg w;
  w.INIFile = Ini();
  w.Components.SetItems(
      {"lblParams.Caption,Caption", "Lines,Lines", "Link,Link", "Mode,Mode", "Count,Count"});
  ASSERT_TRUE(w.Save(&form));
  TIniFile ini;
  ini.LoadFromFile(Ini());
  std::string v;
  ASSERT_TRUE(ini.ReadString("Common", "Link", &v));
  EXPECT_EQ(v, "frm.lblParams");
  ASSERT_TRUE(ini.ReadString("Common", "Mode", &v));
  EXPECT_EQ(v, "mdTwo");

  label.caption.clear();
  form.lines.Clear();
  form.link = nullptr;
  form.mode = 0;
  form.count = 9;
  ASSERT_TRUE(w.Load(&form));
  EXPECT_EQ(label.caption, "two\r\nlines");
  EXPECT_EQ(form.lines.Items(), (std::vector<std::string>{"a b", "", "100%"}));
  EXPECT_EQ(form.link, &label);
  EXPECT_EQ(form.mode, 1);
  EXPECT_EQ(form.count, 9);  // no setter
}

TEST_F(WregIni, VirtualItemsGoThroughTheEvents) {
  TDataSourceCfg cfg;
  TWreg w;
  w.INIFile = Ini();
  w.Components.SetItems({"Virtual.Text,Extra", "Left,Left"});
  w.BeforeProcessItem = [](TWreg&, const std::string& name, int index, bool& require,
                           bool& is_virtual, TTypeKind& kind) {
    if (name == "Virtual.Text") {
      EXPECT_EQ(index, 0);
      EXPECT_FALSE(require);
      EXPECT_TRUE(is_virtual);
      require = true;
      kind = TTypeKind::tkLString;
    } else {
      require = false;  // Left is left out
    }
  };
  w.GetValue = [](TWreg&, const std::string&, int, TPropValue& v) { v = std::string("a  b%"); };
  ASSERT_TRUE(w.Save(&cfg));
  TIniFile ini;
  ini.LoadFromFile(Ini());
  std::string v;
  ASSERT_TRUE(ini.ReadString("Common", "Extra", &v));
  EXPECT_EQ(v, "a+ b%%");
  EXPECT_FALSE(ini.ReadString("Common", "Left", &v));
  std::string got;
  w.SetValue = [&](TWreg&, const std::string&, int, const TPropValue& value) {
    got = PropAsText(value);
  };
  ASSERT_TRUE(w.Load(&cfg));
  EXPECT_EQ(got, "a  b%");
}

TEST(ProxyCodeObject, InitialValuesAndAssignToDoNothing) {
  TDataSourceCfg cfg;
  EXPECT_EQ(cfg.Left, 326);
  EXPECT_EQ(cfg.Top, 144);
  EXPECT_EQ(cfg.Height, 435);
  EXPECT_EQ(cfg.Width, 481);
  EXPECT_EQ(cfg.spMinInt_Value, 0);
  EXPECT_FALSE(cfg.chkBlockIp_Checked);
  TestForm form;
  form.count = 5;
  EXPECT_NO_THROW(form.Assign(cfg));
  EXPECT_EQ(form.count, 5);
  EXPECT_THROW(cfg.Assign(form), EqonError);
}

}  // namespace
