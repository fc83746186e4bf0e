#include "config/dialog/options_form.h"

#include "config/dialog/form_script.h"
#include "config/dialog/form_stream.h"

namespace options_form {

const TMenuItem kMenuItems[] = {
    {"MsgSendReq", "Send requests, otherwise parse response only", 0},
    {"FuncTypeList", nullptr, 9999},
    {"MsgDevAddr", "Device address", 0},
    {"MsgFunc", "Function", 0},
    {"MsgReqTimeout", "Request timeout (ms)", 0},
    {"MsgReqMethod", "Request method", 0},
    {"MsgMOnce", "Once, on the program startup", 0},
    {"MsgPolling", "Polling", 0},
    {"MsgPollInt", "Interval", 0},
    {"MsgPollUnits", "Interval units", 0},
    {"MsgName", "Export name", 0},
    {"TxtMillisecond", "Millisecond", 0},
    {"TxtSecond", "Second", 0},
    {"TxtMinute", "Minute", 0},
    {"TxtHour", "Hour", 0},
    {"MsgReq", "Request", 0},
    {"PollUnitList", nullptr, 9999},
    {"MsgTime", "Time (semicolon separated)", 0},
    {"MsgAtTime", "At specified time", 0},
    {"MsgCron", "Time using Unix Cron schedule", 0},
    {"MsgCronMask", "Cron string", 0},
    {"MsgEvent", "Event", 0},
    {"MsgEventId", "Event ID", 0},
    {"MsgResponseItems", "Response items", 0},
    {"MsgResponseItem", "Value", 0},
    {"MsgFuncRate", "Rate", 0},
    {"MsgLoadProfile", "Load profile", 0},
    {"MsgLoadBlock", "Block (LATEST, EARLIEST, ATTIME)", 0},
    {"MsgLoadBlocks", "Number of blocks", 0},
    {"MsgLoadClass", "Class (0 all, 1..6; empty: as the function)", 0},
    {"MsgLoadTimeFrom", "Block time from (NOW, TODAY = 00:00 today)", 0},
    {"MsgLoadTimeOffset", "Block time offset (minutes)", 0},
};
const size_t kMenuItemCount = sizeof kMenuItems / sizeof kMenuItems[0];

const TSchemaRow kSchema[] = {
    {0, "Request", "MsgReq", "dtCategory,Editable", "", nullptr, false},
    {1, "Enabled", "MsgSendReq", "dtCheckbox", "", "2", false},
    {1, "Device", "MsgDevAddr", "dtValidChars", "0123456789-*,;", "1", false},
    {1, "Timeout", "MsgReqTimeout", "dtInteger", "1,65535", "1000", false},
    {1, "RequestMethod", "MsgReqMethod", "dtCategory", "", nullptr, false},
    {2, "MethodOnce", "MsgMOnce", "dtCheckbox,RadioButton", "", "2", false},
    {2, "MethodPoll", "MsgPolling", "dtCheckbox,RadioButton", "", "0", false},
    {3, "PollInterval", "MsgPollInt", "dtInteger", "1,655350", "1000", false},
    {3, "PollUnits", "MsgPollUnits", "dtComboDropDownValuesList", "@PollUnitList", "MS", false},
    {2, "MethodAtTime", "MsgAtTime", "dtCheckbox,RadioButton", "", "0", false},
    {3, "AtTime", "MsgTime", "dtValidChars", "0123456789:apm./;", "12:00:00", false},
    {2, "MethodCron", "MsgCron", "dtCheckbox,RadioButton", "", "0", false},
    {3, "CronTime", "MsgCronMask", "dtValidChars", "*0123456789/ ,-", "0 0 12 * * *", false},
    {1, "LoadProfile", "MsgLoadProfile", "dtCategory,Optional", "", nullptr, false},
    {2, "LoadBlock", "MsgLoadBlock", "dtValidChars", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "LATEST", false},
    {2, "LoadBlocks", "MsgLoadBlocks", "dtInteger", "1,99", "1", false},
    {2, "LoadClass", "MsgLoadClass", "dtValidChars", "0123456", nullptr, false},
    {2, "LoadTimeFrom", "MsgLoadTimeFrom", "dtValidChars", "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "NOW",
     false},
    {2, "LoadTimeOffset", "MsgLoadTimeOffset", "dtInteger", "-527040,527040", "0", false},
    {1, "Response", "MsgResponseItems", "dtCategory,Optional", "", nullptr, true},
    {2, "Item", "MsgResponseItem", "dtCategory,Editable,Repeatable", "", nullptr, true},
    {3, "Function", "MsgFunc", "dtComboDropDownValuesList", "@FuncTypeList", "0", false},
    {3, "Rate", "MsgFuncRate", "dtInteger", "0,14", "0", false},
};
const size_t kSchemaCount = sizeof kSchema / sizeof kSchema[0];

namespace {

constexpr const char* kLightColour = "F0F0F0";
constexpr const char* kBlack = "000000";  // IntToHex(clBlack, 6)

// The line up to its parameters field (which the caller adds).
std::string LineHead(const TSchemaRow& r) {
  return std::string(static_cast<size_t>(r.Depth), ' ') + r.Name + "~@" + r.CaptionFrom + "~" +
         r.Type;
}

// Trailing fields are left out when empty.
std::string LineTail(const TSchemaRow& r, const std::string& params) {
  if (r.Default) return "~" + params + "~" + r.Default;
  if (!params.empty()) return "~" + params;
  return std::string();
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace

std::vector<std::string> SchemaLines() {
  std::vector<std::string> out;
  for (size_t i = 0; i < kSchemaCount; ++i) {
    const auto& r = kSchema[i];
    const std::string params =
        r.CategoryColours ? std::string(kLightColour) + "," + kBlack : r.Params;
    out.push_back(LineHead(r) + LineTail(r, params));
  }
  return out;
}

std::vector<std::string> KeptProperties() {
  return {"Left,Left",
          "Top,Top",
          "Height,Height",
          "Width,Width",
          ";---short---",
          "lblParams.Caption,Parser config",
          "OpenDialog.FileName,Open files dir",
          "SaveDialog.FileName,Save files dir",
          "spMinInt.Value,Min interval"};
}

std::string PollUnitList(const std::string& ms, const std::string& s, const std::string& m,
                         const std::string& h) {
  return ms + kValueSep + "MS" + kListSep + s + kValueSep + "S" + kListSep + m + kValueSep + "M" +
         kListSep + h + kValueSep + "H";
}

std::string FormStream() {
  TFormStreamWriter w;
  w.WriteSignature();
  w.BeginObject("TfrmOption", "frmOption");
  w.WritePropName("Left");
  w.WriteInteger(326);
  w.WritePropName("Top");
  w.WriteInteger(144);
  w.WritePropName("Width");
  w.WriteInteger(481);
  w.WritePropName("Height");
  w.WriteInteger(435);
  w.WritePropName("HelpContext");
  w.WriteInteger(1);
  w.WritePropName("BorderIcons");
  w.WriteSet({"biSystemMenu", "biMaximize", "biHelp"});
  w.WritePropName("BorderWidth");
  w.WriteInteger(2);
  w.WritePropName("Caption");
  w.WriteString("DL T645 2007");
  w.WritePropName("Constraints.MinHeight");
  w.WriteInteger(250);
  w.WritePropName("Constraints.MinWidth");
  w.WriteInteger(320);
  w.WritePropName("Font.Height");
  w.WriteInteger(-11);
  w.WritePropName("Font.Name");
  w.WriteString("MS Sans Serif");
  w.WritePropName("KeyPreview");
  w.WriteBoolean(true);
  w.WritePropName("Scaled");
  w.WriteBoolean(false);
  w.WritePropName("OnCreate");
  w.WriteIdent("FormCreate");
  w.WritePropName("OnDestroy");
  w.WriteIdent("FormDestroy");
  w.WritePropName("PixelsPerInch");
  w.WriteInteger(96);
  w.EndProperties();

  // The panel of the host's OK and Cancel buttons, with the hidden label
  // that carries the configuration text.
  w.BeginObject("TPanel", "__pBot");
  w.WritePropName("Align");
  w.WriteIdent("alBottom");
  w.WritePropName("Height");
  w.WriteInteger(45);
  w.WritePropName("BevelOuter");
  w.WriteIdent("bvNone");
  w.WritePropName("HelpContext");
  w.WriteInteger(1);
  w.WritePropName("Hint");
  w.WriteString("OkCancel");
  w.EndProperties();
  w.BeginObject("TTntLabel", "lblParams");
  w.WritePropName("Left");
  w.WriteInteger(4);
  w.WritePropName("Top");
  w.WriteInteger(0);
  w.WritePropName("Width");
  w.WriteInteger(32);
  w.WritePropName("Height");
  w.WriteInteger(13);
  w.WritePropName("AutoSize");
  w.WriteBoolean(false);
  w.WritePropName("Visible");
  w.WriteBoolean(false);
  w.EndProperties();
  w.EndObject();
  w.EndObject();

  w.BeginObject("TPanel", "pan0");
  w.WritePropName("Align");
  w.WriteIdent("alClient");
  w.WritePropName("BevelOuter");
  w.WriteIdent("bvNone");
  w.WritePropName("HelpContext");
  w.WriteInteger(1);
  w.EndProperties();
  w.EndObject();

  w.BeginObject("TTntPopupMenu", "tmpMenu");
  w.EndProperties();
  for (size_t i = 0; i < kMenuItemCount; ++i) {
    const auto& item = kMenuItems[i];
    w.BeginObject("TTntMenuItem", item.Name);
    if (item.Tag != 0) {
      w.WritePropName("Tag");
      w.WriteInteger(item.Tag);
    }
    if (item.Caption) {
      w.WritePropName("Caption");
      w.WriteString(item.Caption);
    }
    w.EndProperties();
    w.EndObject();
  }
  w.EndObject();

  w.EndObject();  // frmOption
  return w.Data();
}

std::string FormScriptSource() {
  std::string s;
  s += "const\n";
  s += "  PARAM_OPTION_VALUE_SEP = " + Quote(kValueSep) + ";\n";
  s += "  PARAM_OPTION_LIST_SEP = " + Quote(kListSep) + ";\n";
  s += "  RootNodeName = " + Quote(kRootNodeName) + ";\n";
  s += "\n";
  s += "var\n";
  s += "  propTree: TVirtualParamTreeviewEx;\n";
  s += "  Plugin: TqonPlugin;\n";
  s += "\n";
  s += "procedure FormCreate(Sender: TObject);\n";
  s += "var\n";
  s += "  res: Variant;\n";
  s += "begin\n";
  s += "  Plugin := TqonPlugin(Owner);\n";
  s += "  if Sender <> nil then\n";
  s += "  begin\n";
  s += "    propTree := CreateVirtualParamTreeview(Self, pan0,\n";
  s += "      'propTree~Requests queue~RootNodeName,' + RootNodeName + ',Panel,OpenSave',\n";
  for (size_t i = 0; i < kSchemaCount; ++i) {
    const auto& r = kSchema[i];
    const bool last = i + 1 == kSchemaCount;
    s += "      ";
    if (r.CategoryColours) {
      // The second colour is the script's own black.
      s += Quote(LineHead(r) + "~" + kLightColour + ",") + " + IntToHex(clBlack, 6)";
    } else {
      s += Quote(LineHead(r) + LineTail(r, r.Params));
    }
    s += last ? ");\n" : " + LineEnding +\n";
  }
  s += "    propTree.HelpContext := 1;\n";
  s += "    InitPluginConfigForm(Self, [ifoCloseForm, ifoStdControls]);\n";
  s += "    if Plugin.CallEvent('GetFuncTypeList', [0], res) then\n";
  s += "      FuncTypeList.Caption := res;\n";
  s += "    PollUnitList.Caption := TxtMillisecond.Caption + PARAM_OPTION_VALUE_SEP + 'MS' + "
       "PARAM_OPTION_LIST_SEP +\n";
  s += "      TxtSecond.Caption + PARAM_OPTION_VALUE_SEP + 'S' + PARAM_OPTION_LIST_SEP +\n";
  s += "      TxtMinute.Caption + PARAM_OPTION_VALUE_SEP + 'M' + PARAM_OPTION_LIST_SEP +\n";
  s += "      TxtHour.Caption + PARAM_OPTION_VALUE_SEP + 'H';\n";
  s += "    TButton(FindComponent('btnOK')).OnClick := @btnOKClick;\n";
  s += "    TButton(FindComponent('btnCancel')).OnClick := @btnCancelClick;\n";
  s += "  end\n";
  s += "  else\n";
  s += "    LoadPluginConfigForm(Self);\n";
  s += "  propTree.AsText := lblParams.Caption;\n";
  s += "end;\n";
  s += "\n";
  s += "procedure btnOKClick(Sender: TObject);\n";
  s += "begin\n";
  s += "  Hide;\n";
  s += "  lblParams.Caption := propTree.AsText;\n";
  s += "end;\n";
  s += "\n";
  s += "procedure btnCancelClick(Sender: TObject);\n";
  s += "begin\n";
  s += "  propTree.CancelEdit;\n";
  s += "  Hide;\n";
  s += "end;\n";
  s += "\n";
  s += "procedure FormDestroy(Sender: TObject);\n";
  s += "begin\n";
  s += "  FreeVirtualParamTreeview(propTree);\n";
  s += "end;\n";
  s += "\n";
  s += "begin\n";
  s += "end.\n";
  return s;
}

std::string FormDataText() {
  const std::string sep = std::string("\r\n\r\n") + kSectionSeparator + "\r\n\r\n";
  std::string out = FormScriptToXml(FormScriptSource());
  out += sep;
  out += kFormResourceName;
  out += sep;
  for (const auto& line : KeptProperties())
    out += line + "\r\n";
  return out;
}

}  // namespace options_form
