// The options dialog resources as the library carries them, read back with
// readers of this test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/dialog/gzip.h"
#include "config/dialog/options_dialog.h"
#include "config/dialog/options_form.h"
#include "config/text/qon_str_holder.h"
#include "config/text/translator.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "plugin/module_settings.h"
#include "support/test_folder.h"

namespace {

// --- An independent reader of the binary component stream.

struct Obj {
  std::string cls, name;
  std::vector<std::pair<std::string, std::string>> props;
  std::vector<Obj> children;
  std::string Prop(const std::string& n) const {
    for (const auto& [k, v] : props) {
      if (k == n) return v;
    }
    return "<absent>";
  }
};

class StreamReader {
 public:
  explicit StreamReader(const std::string& d) : d_(d) {}
  Obj Read() {
    if (d_.compare(0, 4, "TPF0") != 0) throw std::runtime_error("signature");
    p_ = 4;
    Obj o = Object();
    if (p_ != d_.size()) throw std::runtime_error("trailing bytes");
    return o;
  }

 private:
  uint8_t Byte() {
    if (p_ >= d_.size()) throw std::runtime_error("truncated");
    return static_cast<uint8_t>(d_[p_++]);
  }
  int64_t Le(int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
      v |= static_cast<uint64_t>(Byte()) << (8 * i);
    if (n < 8 && (v >> (8 * n - 1)) & 1) v |= ~0ull << (8 * n);  // sign
    return static_cast<int64_t>(v);
  }
  std::string Short() {
    const size_t n = Byte();
    if (p_ + n > d_.size()) throw std::runtime_error("truncated");
    std::string s = d_.substr(p_, n);
    p_ += n;
    return s;
  }
  std::string Value() {
    switch (Byte()) {
      case 2:
        return std::to_string(Le(1));
      case 3:
        return std::to_string(Le(2));
      case 4:
        return std::to_string(Le(4));
      case 6:
        return "'" + Short() + "'";
      case 7:
        return Short();
      case 8:
        return "False";
      case 9:
        return "True";
      case 11: {
        std::string s = "[";
        for (std::string m = Short(); !m.empty(); m = Short())
          s += (s.size() > 1 ? "," : "") + m;
        return s + "]";
      }
      case 12: {
        const size_t n = static_cast<size_t>(Le(4));
        std::string s = d_.substr(p_, n);
        p_ += n;
        return "'" + s + "'";
      }
      default:
        throw std::runtime_error("unexpected value type");
    }
  }
  Obj Object() {
    Obj o;
    o.cls = Short();
    o.name = Short();
    while (d_.at(p_) != 0) {
      std::string name = Short();
      o.props.emplace_back(name, Value());
    }
    ++p_;
    while (d_.at(p_) != 0)
      o.children.push_back(Object());
    ++p_;
    return o;
  }
  const std::string& d_;
  size_t p_ = 0;
};

std::string Resource(const char* name) {
  std::string data;
  EXPECT_TRUE(platform::LoadModuleResource(name, &data)) << name;
  return data;
}

TEST(DialogResources, FormNameNamesTheFormResource) {
  EXPECT_EQ(Resource("FORM_NAME"), "TFRMOPTION");
  std::string form;
  EXPECT_TRUE(platform::LoadModuleResource("tfrmoption", &form));
  EXPECT_EQ(form.substr(0, 4), "TPF0");
}

TEST(DialogResources, TheFormHoldsEveryComponentAndProperty) {
  const Obj f = StreamReader(Resource("TFRMOPTION")).Read();
  EXPECT_EQ(f.cls, "TfrmOption");
  EXPECT_EQ(f.name, "frmOption");
  const std::vector<std::pair<std::string, std::string>> form_props = {
      {"Left", "326"},
      {"Top", "144"},
      {"Width", "481"},
      {"Height", "435"},
      {"BorderWidth", "2"},
      {"Caption", "'DL T645 2007'"},
      {"Constraints.MinHeight", "250"},
      {"Constraints.MinWidth", "320"},
      {"BorderIcons", "[biSystemMenu,biMaximize,biHelp]"},
      {"KeyPreview", "True"},
      {"Font.Name", "'MS Sans Serif'"},
      {"Font.Height", "-11"},
      {"HelpContext", "1"},
      {"Scaled", "False"},
      {"PixelsPerInch", "96"},
      {"OnCreate", "FormCreate"},
      {"OnDestroy", "FormDestroy"},
  };
  for (const auto& [k, v] : form_props)
    EXPECT_EQ(f.Prop(k), v) << k;

  ASSERT_EQ(f.children.size(), 3u);
  const Obj& bot = f.children[0];
  EXPECT_EQ(bot.cls, "TPanel");
  EXPECT_EQ(bot.name, "__pBot");
  EXPECT_EQ(bot.Prop("Align"), "alBottom");
  EXPECT_EQ(bot.Prop("Height"), "45");
  EXPECT_EQ(bot.Prop("BevelOuter"), "bvNone");
  EXPECT_EQ(bot.Prop("Hint"), "'OkCancel'");
  EXPECT_EQ(bot.Prop("HelpContext"), "1");
  ASSERT_EQ(bot.children.size(), 1u);
  const Obj& lbl = bot.children[0];
  EXPECT_EQ(lbl.cls, "TTntLabel");
  EXPECT_EQ(lbl.name, "lblParams");
  EXPECT_EQ(lbl.Prop("Left"), "4");
  EXPECT_EQ(lbl.Prop("Top"), "0");
  EXPECT_EQ(lbl.Prop("Width"), "32");
  EXPECT_EQ(lbl.Prop("Height"), "13");
  EXPECT_EQ(lbl.Prop("AutoSize"), "False");
  EXPECT_EQ(lbl.Prop("Visible"), "False");

  const Obj& pan = f.children[1];
  EXPECT_EQ(pan.cls, "TPanel");
  EXPECT_EQ(pan.name, "pan0");
  EXPECT_EQ(pan.Prop("Align"), "alClient");
  EXPECT_EQ(pan.Prop("BevelOuter"), "bvNone");
  EXPECT_EQ(pan.Prop("HelpContext"), "1");
  EXPECT_TRUE(pan.children.empty());

  const Obj& menu = f.children[2];
  EXPECT_EQ(menu.cls, "TTntPopupMenu");
  EXPECT_EQ(menu.name, "tmpMenu");
  const std::vector<std::pair<std::string, std::string>> items = {
      {"MsgSendReq", "'Send requests, otherwise parse response only'"},
      {"FuncTypeList", ""},
      {"MsgDevAddr", "'Device address'"},
      {"MsgFunc", "'Function'"},
      {"MsgReqTimeout", "'Request timeout (ms)'"},
      {"MsgReqMethod", "'Request method'"},
      {"MsgMOnce", "'Once, on the program startup'"},
      {"MsgPolling", "'Polling'"},
      {"MsgPollInt", "'Interval'"},
      {"MsgPollUnits", "'Interval units'"},
      {"MsgName", "'Export name'"},
      {"TxtMillisecond", "'Millisecond'"},
      {"TxtSecond", "'Second'"},
      {"TxtMinute", "'Minute'"},
      {"TxtHour", "'Hour'"},
      {"MsgReq", "'Request'"},
      {"PollUnitList", ""},
      {"MsgTime", "'Time (semicolon separated)'"},
      {"MsgAtTime", "'At specified time'"},
      {"MsgCron", "'Time using Unix Cron schedule'"},
      {"MsgCronMask", "'Cron string'"},
      {"MsgEvent", "'Event'"},
      {"MsgEventId", "'Event ID'"},
      {"MsgResponseItems", "'Response items'"},
      {"MsgResponseItem", "'Value'"},
      {"MsgFuncRate", "'Rate'"},
      {"MsgLoadProfile", "'Load profile'"},
      {"MsgLoadBlock", "'Block (LATEST, EARLIEST, ATTIME)'"},
      {"MsgLoadBlocks", "'Number of blocks'"},
      {"MsgLoadClass", "'Class (0 all, 1..6; empty: as the function)'"},
      {"MsgLoadTimeFrom", "'Block time from (NOW, TODAY = 00:00 today)'"},
      {"MsgLoadTimeOffset", "'Block time offset (minutes)'"},
  };
  ASSERT_EQ(menu.children.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const Obj& it = menu.children[i];
    EXPECT_EQ(it.name, items[i].first);
    if (items[i].second.empty()) {
      EXPECT_EQ(it.Prop("Tag"), "9999") << it.name;
      EXPECT_EQ(it.Prop("Caption"), "<absent>") << it.name;
    } else {
      EXPECT_EQ(it.Prop("Caption"), items[i].second) << it.name;
      EXPECT_EQ(it.Prop("Tag"), "<absent>") << it.name;
    }
  }
}

const std::vector<std::string> kSchema = {
    "Request~@MsgReq~dtCategory,Editable",
    " Enabled~@MsgSendReq~dtCheckbox~~2",
    " Device~@MsgDevAddr~dtValidChars~0123456789-*,;~1",
    " Timeout~@MsgReqTimeout~dtInteger~1,65535~1000",
    " RequestMethod~@MsgReqMethod~dtCategory",
    "  MethodOnce~@MsgMOnce~dtCheckbox,RadioButton~~2",
    "  MethodPoll~@MsgPolling~dtCheckbox,RadioButton~~0",
    "   PollInterval~@MsgPollInt~dtInteger~1,655350~1000",
    "   PollUnits~@MsgPollUnits~dtComboDropDownValuesList~@PollUnitList~MS",
    "  MethodAtTime~@MsgAtTime~dtCheckbox,RadioButton~~0",
    "   AtTime~@MsgTime~dtValidChars~0123456789:apm./;~12:00:00",
    "  MethodCron~@MsgCron~dtCheckbox,RadioButton~~0",
    "   CronTime~@MsgCronMask~dtValidChars~*0123456789/ ,-~0 0 12 * * *",
    " LoadProfile~@MsgLoadProfile~dtCategory,Optional",
    "  LoadBlock~@MsgLoadBlock~dtValidChars~ABCDEFGHIJKLMNOPQRSTUVWXYZ~LATEST",
    "  LoadBlocks~@MsgLoadBlocks~dtInteger~1,99~1",
    "  LoadClass~@MsgLoadClass~dtValidChars~0123456",
    "  LoadTimeFrom~@MsgLoadTimeFrom~dtValidChars~ABCDEFGHIJKLMNOPQRSTUVWXYZ~NOW",
    "  LoadTimeOffset~@MsgLoadTimeOffset~dtInteger~-527040,527040~0",
    " Response~@MsgResponseItems~dtCategory,Optional~F0F0F0,000000",
    "  Item~@MsgResponseItem~dtCategory,Editable,Repeatable~F0F0F0,000000",
    "   Function~@MsgFunc~dtComboDropDownValuesList~@FuncTypeList~0",
    "   Rate~@MsgFuncRate~dtInteger~0,14~0",
};

TEST(DialogResources, SchemaAndValueLists) {
  EXPECT_EQ(options_form::SchemaLines(), kSchema);
  EXPECT_EQ(options_form::PollUnitList("Millisecond", "Second", "Minute", "Hour"),
            "Millisecond==MS||Second==S||Minute==M||Hour==H");
}

// --- The form data.

std::vector<std::string> Split(const std::string& s, const std::string& sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + sep.size()) {
    out.push_back(s.substr(start, at - start));
  }
  out.push_back(s.substr(start));
  return out;
}

// Expands FORM_DATA with the system's gzip tool; empty when it cannot run.
std::string ExpandWithGzip(const std::string& member) {
  TestFolder folder;
  const std::string in = folder.File("form_data.gz"), out = folder.File("form_data.txt");
  if (!platform::ReplaceFileContent(in, member)) return std::string();
  const std::string cmd = "gzip -dc \"" + in + "\" > \"" + out + "\"";
  if (std::system(cmd.c_str()) != 0) return std::string();
  std::string text;
  platform::ReadWholeFile(out, &text);
  return text;
}

TEST(DialogResources, FormDataIsOneGzipMemberNamedOne) {
  const std::string gz = Resource("FORM_DATA");
  ASSERT_GT(gz.size(), 20u);
  EXPECT_EQ(gz.substr(0, 4), std::string("\x1f\x8b\x08\x08", 4));  // deflate, with a file name
  EXPECT_EQ(gz.substr(10, 2), std::string("1\0", 2));
  const std::string text = options_form::FormDataText();
  const auto le32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<uint8_t>(gz[at + static_cast<size_t>(i)]);
    return v;
  };
  EXPECT_EQ(le32(gz.size() - 4), text.size());
  EXPECT_EQ(le32(gz.size() - 8), GzipCrc32(text));
  EXPECT_LT(gz.size(), text.size() / 2);  // really compressed

  const std::string expanded = ExpandWithGzip(gz);
  if (expanded.empty()) GTEST_SKIP() << "no gzip tool here";
  EXPECT_EQ(expanded, text);
}

TEST(DialogResources, FormDataHasTheThreeSections) {
  const std::string expanded = ExpandWithGzip(Resource("FORM_DATA"));
  const std::string text = expanded.empty() ? options_form::FormDataText() : expanded;
  const auto sections = Split(text, "\r\n\r\n<=======>\r\n\r\n");
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[1], Resource("FORM_NAME"));

  TqonStrHolder props;
  SetupPropertiesHolder(props);
  std::vector<std::string> lines = Split(sections[2], "\r\n");
  ASSERT_EQ(lines.size(), 10u);  // nine lines, each ended by CR LF
  EXPECT_EQ(lines, props.Strings().Items());

  const std::string& xml = sections[0];
  EXPECT_EQ(xml.find('\n'), std::string::npos);
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\"?><program", 0), 0u);
  EXPECT_EQ(xml.substr(xml.size() - 10), "</program>");
  for (const char* proc : {"FormCreate", "btnOKClick", "btnCancelClick", "FormDestroy"}) {
    EXPECT_NE(xml.find("text=\"" + std::string(proc) + "\"/><parameters pos="), std::string::npos)
        << proc;
  }
}

// Elements, their nesting and their positions, checked tag by tag.
TEST(DialogResources, ScriptTreeIsWellFormedWithPositions) {
  const std::string xml = Split(options_form::FormDataText(), "\r\n\r\n<=======>\r\n\r\n")[0];
  std::vector<std::string> open;
  std::vector<std::string> procedures, strings;
  size_t i = xml.find("<program");
  ASSERT_NE(i, std::string::npos);
  while (i < xml.size()) {
    ASSERT_EQ(xml[i], '<') << i;
    const size_t end = xml.find('>', i);
    ASSERT_NE(end, std::string::npos);
    std::string tag = xml.substr(i + 1, end - i - 1);
    if (tag[0] == '/') {
      ASSERT_FALSE(open.empty());
      EXPECT_EQ(tag.substr(1), open.back());
      open.pop_back();
    } else {
      const bool empty = tag.back() == '/';
      if (empty) tag.pop_back();
      const std::string name = tag.substr(0, tag.find(' '));
      EXPECT_NE(tag.find(" pos=\""), std::string::npos) << tag;
      if (name == "expr" || name == "string" || name == "number" || name == "op" || name == "set" ||
          name == "dsgn") {
        EXPECT_NE(tag.find(" pos1=\""), std::string::npos) << tag;
      }
      if (name == "string") {
        const size_t t = tag.find("text=\"");
        strings.push_back(tag.substr(t + 6, tag.size() - t - 7));
      }
      if (!empty) open.push_back(name);
      if (name == "procedure") procedures.push_back("");
    }
    i = end + 1;
  }
  EXPECT_TRUE(open.empty());
  EXPECT_EQ(procedures.size(), 4u);
  // Every schema line is a literal of the script; the category colours end
  // in the script's own black.
  for (const auto& line : kSchema) {
    const size_t colours = line.find("~F0F0F0,000000");
    const std::string literal = colours == std::string::npos
                                    ? "'" + line + "'"
                                    : "'" + line.substr(0, colours) + "~F0F0F0,'";
    EXPECT_NE(std::find(strings.begin(), strings.end(), literal), strings.end()) << literal;
  }
  EXPECT_NE(std::find(strings.begin(), strings.end(), "'propTree~Requests queue~RootNodeName,'"),
            strings.end());
  EXPECT_NE(xml.find("text=\"IntToHex\""), std::string::npos);
  EXPECT_NE(xml.find("<addr pos="), std::string::npos);
  EXPECT_NE(xml.find("text=\"&lt;&gt;\""), std::string::npos);
  EXPECT_NE(xml.find("<compoundstmt pos=\""), std::string::npos);
  EXPECT_NE(xml.find("<types pos=\""), std::string::npos);
}

TEST(DialogResources, PackagesCutOutAgain) {
  const TDialogTexts t = LoadDialogTexts("");
  EXPECT_EQ(t.Form, Resource("TFRMOPTION"));
  EXPECT_EQ(t.Script, Resource("FORM_DATA"));
  EXPECT_TRUE(t.Extra.empty());
  const TDialogTexts named = LoadDialogTexts("tfrmOption");
  EXPECT_EQ(named.Form, t.Form);
  EXPECT_TRUE(named.Script.empty());  // there is no TFRMOPTION_CODE
  EXPECT_TRUE(LoadDialogTexts("missing").Form.empty());

  const TDialogTexts parts{"form", "extra!", "script"};
  const std::string p = PackDialogTexts(parts);
  ASSERT_EQ(p.size(), 24u + 4 + 6 + 6);
  auto le32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<uint8_t>(p[at + static_cast<size_t>(i)]);
    return v;
  };
  EXPECT_EQ(p.substr(le32(0), le32(4)), "form");
  EXPECT_EQ(p.substr(le32(8), le32(12)), "extra!");
  EXPECT_EQ(p.substr(le32(16), le32(20)), "script");
}

TEST(TranslatorProperties, ListsGrowFromSeparatedText) {
  TTranslator tr;
  tr.AddComponentProperties("Filter;columns|| caption ;MsgNoData");
  EXPECT_EQ(tr.ComponentProperties.Items(),
            (std::vector<std::string>{"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS", "FILTER",
                                      "COLUMNS", "MSGNODATA"}));
}

}  // namespace
