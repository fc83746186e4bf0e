#include "host_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "config/dialog/form_stream.h"
#include "dlt645/func_types.h"
#include "host_app.h"
#include "host_platform.h"
#include "platform/module.h"
#include "platform/strings.h"

namespace host {

namespace {

std::string SecondsText(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", s);
  return text;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string MethodText(const RequestPlan& r) {
  if (r.method == "poll") return "polled every " + SecondsText(r.period_s) + " s";
  if (r.method == "at-time") return "daily at " + r.schedule;
  if (r.method == "cron")
    return "cron \"" + r.schedule + "\"" +
           (r.period_s > 0 ? " (next two " + SecondsText(r.period_s) + " s apart)" : "");
  if (r.method == "event") return "on host event \"" + r.schedule + "\"";
  return "once, when the port opens";
}

int Check(const std::vector<std::string>& args) {
  bool strict = false;
  std::vector<std::string> files;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--strict") {
      strict = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::fprintf(stderr, "dlt645-host check: unknown option '%s'\n", args[i].c_str());
      return kExitUsage;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty()) {
    std::fputs("usage: dlt645-host check [--strict] CONFIG.xml...\n", stderr);
    return kExitUsage;
  }
  int code = kExitOk;
  for (const std::string& path : files) {
    ConfigCheck check;
    std::string error;
    if (!ReadQueryConfigFile(path, &check, &error)) {
      std::printf("error: %s\n", error.c_str());
      code = kExitUsage;
      continue;
    }
    PrintConfigReport(stdout, path, check);
    const int c = ConfigCheckExit(check, strict);
    if (c == kExitUsage || code == kExitOk) code = c;
  }
  return code;
}

// ---- the plug-in's functions ----------------------------------------------

// The unit of a row's values, by its identifier: the tables name quantities,
// not units.
std::string UnitOf(const TRequestFuncType& row, bool is1997) {
  const uint32_t id = row.Id;
  if (is1997) {
    const uint32_t hi = id >> 8;
    if (hi == 0x90 || hi == 0x94 || hi == 0x98 || id == 0xD110) return "kWh";
    if (hi == 0x91 || hi == 0x95 || hi == 0x99) return "kvarh";
    if (hi == 0xA0 || id == 0xD210) return "kW";
    if (hi == 0xA1) return "kvar";
    if (hi == 0xB6) {
      switch ((id >> 4) & 0x0F) {
        case 0x1:
        case 0x9:
          return "V";
        case 0x2:
          return "A";
        case 0x3:
          return "kW";
        case 0x4:
          return "kvar";
        default:
          return "";
      }
    }
    if (id == 0xC010 || id == 0xC011) return "date/time";
    return "";
  }
  const uint32_t di3 = id >> 24;
  const uint32_t di2 = (id >> 16) & 0xFF;
  if (di3 == 0x00 || di3 == 0x01) {
    // Phase registers repeat the total's types from 0x15, 0x29 and 0x3D on.
    const uint32_t type = di2 > 0x14 ? (di2 - 1) % 0x14 + 1 : di2;
    const bool energy = di3 == 0x00;
    if (type <= 2) return energy ? "kWh" : "kW";
    if (type <= 8) return energy ? "kvarh" : "kvar";
    return energy ? "kVAh" : "kVA";
  }
  if (di3 == 0x02) {
    switch (di2) {
      case 0x01:
        return "V";
      case 0x02:
        return "A";
      case 0x03:
        return "kW";
      case 0x04:
        return "kvar";
      case 0x05:
        return "kVA";
      case 0x0A:
      case 0x0B:
        return "%";
      case 0x80:
        return (id & 0xFF) == 0x02 ? "Hz" : (id & 0xFF) == 0x07 ? "°C" : "";
      default:
        return "";
    }
  }
  return "";
}

struct FunctionInfo {
  std::string code;
  std::string name;
  std::string field;
  int values = 0;
  int decimals = 0;
  std::string unit;
  bool stamped = false;  // each value carries its date and time
  bool rates = false;
};

// The layout of a row the host's table knows; the plug-in's own rows, from
// the tables linked here, are what `read` resolves names against.
FunctionInfo RowInfo(const TRequestFuncType& row, bool is1997) {
  FunctionInfo f;
  char code[12];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(FuncTypeCode(row)));
  f.code = code;
  f.name = std::string(row.DisplayName);
  f.field = std::string(row.FieldName);
  f.values = row.ValueCount;
  f.decimals = row.Format == 0xFF ? 0 : row.Format & 0x0F;
  f.unit = row.Format == 0xFF ? "record" : UnitOf(row, is1997);
  f.stamped = row.Format != 0xFF && (row.Format & 0x30) != 0;
  f.rates = row.RateCount != 0;
  return f;
}

std::vector<FunctionInfo> Functions(bool is1997) {
  std::vector<FunctionInfo> out;
  for (const TRequestFuncType& row : FuncTypeTable(is1997))
    out.push_back(RowInfo(row, is1997));
  return out;
}

// What the plug-in offers, completed by the host's table: the exports name
// the functions and their columns, not the values' decimals and units.
std::vector<FunctionInfo> Functions(const std::vector<PluginFunction>& offered, bool is1997) {
  std::vector<FunctionInfo> out;
  for (const PluginFunction& p : offered) {
    const uint32_t code = static_cast<uint32_t>(std::strtoul(p.code.c_str(), nullptr, 16));
    const TRequestFuncType* row = FindFuncType(code & ~kFuncCode1997, is1997);
    FunctionInfo f;
    if (row) {
      f = RowInfo(*row, is1997);
    } else {
      f.values = static_cast<int>(p.columns.size());
    }
    f.code = p.code;
    f.name = p.name;
    // A load profile's columns are its record's; its own name is the host's.
    const bool record = !p.columns.empty() && p.columns.front() == "RECORD_TIME";
    if (p.columns.size() == 1 && !record) {
      f.field = p.columns.front();
    } else if (p.columns.size() > 1 && !record && p.columns.front().back() == '1') {
      // Numbered columns: FIELD1, FIELD2, ...
      f.field = p.columns.front().substr(0, p.columns.front().size() - 1);
    } else if (!row) {
      f.field = p.columns.empty() ? std::string() : p.columns.front();
    }
    out.push_back(f);
  }
  return out;
}

std::string Result(ParamsList& params) {
  const ListItem* item = params.Find("RESULT");
  return item ? item->value.AsText() : std::string();
}

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string FunctionsText(const std::vector<PluginFunction>& offered, const std::string& format,
                          bool is1997) {
  const std::vector<FunctionInfo> list = Functions(offered, is1997);
  std::string out;
  char line[512];
  if (format == "json") {
    out = "[\n";
    for (size_t i = 0; i < list.size(); ++i) {
      const FunctionInfo& f = list[i];
      std::snprintf(line, sizeof line,
                    "  {\"code\": %s, \"name\": %s, \"field\": %s, \"values\": %d, "
                    "\"decimals\": %d, \"unit\": %s, \"timestamp\": %s, \"rates\": %s}%s\n",
                    JsonText(f.code).c_str(), JsonText(f.name).c_str(), JsonText(f.field).c_str(),
                    f.values, f.decimals, JsonText(f.unit).c_str(), f.stamped ? "true" : "false",
                    f.rates ? "true" : "false", i + 1 < list.size() ? "," : "");
      out += line;
    }
    return out + "]\n";
  }
  if (format == "markdown") {
    out = "| Code | Name | Field | Values | Decimals | Unit |\n|---|---|---|---|---|---|\n";
    for (const FunctionInfo& f : list) {
      std::string unit = f.unit;
      if (f.stamped) unit += unit.empty() ? "date/time" : ", date/time";
      out += "| " + f.code + " | " + f.name + (f.rates ? " (rates)" : "") + " | " + f.field +
             " | " + std::to_string(f.values) + " | " + std::to_string(f.decimals) + " | " + unit +
             " |\n";
    }
    return out;
  }
  for (const FunctionInfo& f : list) {
    std::string unit = f.unit;
    if (f.stamped) unit += unit.empty() ? "date/time" : ", date/time";
    std::snprintf(line, sizeof line, "%s  %-34s %3d value(s), %d decimal(s)  %-16s %s\n",
                  f.code.c_str(), f.field.c_str(), f.values, f.decimals, unit.c_str(),
                  f.name.c_str());
    out += line;
  }
  return out;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j)
    row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The plug-in beside the program, else where an installation puts it.
std::string LibraryOrDefault(const std::string& library) {
  if (!library.empty()) return library;
  const std::filesystem::path program(platform::ProgramFileName());
  const auto beside = program.parent_path() / DefaultLibraryFile();
  const auto installed =
      program.parent_path().parent_path() / "lib" / "dlt645" / DefaultLibraryFile();
  std::error_code ec;
  if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
    return installed.string();
  return beside.string();
}

// A fresh settings file for a plug-in run of the host's own; removed with
// its lock when the run ends.
class ScratchSettings {
 public:
  ScratchSettings() {
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
    std::random_device rd;
    path_ = (dir / ("dlt645-host-" + std::to_string(rd()) + ".ini")).string();
  }
  ~ScratchSettings() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    RemoveSettingsLock(path_);
  }
  ScratchSettings(const ScratchSettings&) = delete;
  ScratchSettings& operator=(const ScratchSettings&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Loads the plug-in as `module` with no request and hands it to `use`.
bool WithPlugin(const std::string& library, Module module,
                const std::function<bool(PluginInstance&, std::string*)>& use, std::string* error) {
  ScratchSettings settings;
  if (!WriteSettingsFile(settings.Path(), "dlt645-host", "<DL_T645_2007_QUERY/>", error))
    return false;
  PluginLibrary lib;
  if (!lib.Load(library, !UsesWindowMessages(), error)) return false;
  bool ok = false;
  {
    PluginInstance plugin(lib, 1);
    if (!plugin.Create(error)) {
      lib.Unload();
      return false;
    }
    ListPtr load = MakeList();
    load->Put("INI-FILE", Value::Text(settings.Path()));
    load->Put("INI-SECTION-PREFIX", Value::Text("dlt645-host"));
    load->Put("HANDLE", kWide ? Value::Int64(static_cast<int64_t>(OwnProgramHandle()))
                              : Value::Int(static_cast<int32_t>(OwnProgramHandle())));
    load->Put("CONFIG-ID", Value::Int(static_cast<int32_t>(ConfigIdOf(ModuleName(module)))));
    const int32_t loaded = plugin.Command("LOAD", *load);
    if (loaded != 0) {
      *error = "the plug-in refused \"LOAD\" (" + std::to_string(loaded) + ")";
    } else {
      ok = use(plugin, error);
      ListPtr unload = MakeList();
      plugin.Command("UNLOAD", *unload);
    }
    plugin.Free();
  }
  lib.Unload();
  return ok;
}

std::vector<std::string> SplitOn(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(separator, begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) parts.push_back(text.substr(begin, end - begin));
    begin = end + separator.size();
  }
  return parts;
}

// Whether a registered column's caption is one of the function's: its
// name, "k, name" for numbered values, "name: ..." for a record's values.
bool ColumnOf(const std::string& caption, const std::string& name) {
  if (caption == name) return true;
  if (caption.size() > name.size() + 2 && caption.compare(0, name.size() + 2, name + ": ") == 0)
    return true;
  const size_t comma = caption.find(", ");
  return comma != std::string::npos && comma > 0 &&
         caption.find_first_not_of("0123456789") == comma && caption.substr(comma + 2) == name;
}

// Inflates one gzip member whose deflate data has stored and fixed-Huffman
// blocks (what the plug-in's resources hold); false on anything else.
class Inflater {
 public:
  explicit Inflater(std::string_view in) : in_(in) {}

  bool Gunzip(std::string* out) {
    if (in_.size() < 18 || static_cast<uint8_t>(in_[0]) != 0x1F ||
        static_cast<uint8_t>(in_[1]) != 0x8B || in_[2] != 8)
      return false;
    const uint8_t flags = static_cast<uint8_t>(in_[3]);
    size_t at = 10;
    if (flags & 0x04)
      at += 2 + (static_cast<uint8_t>(in_[at]) | static_cast<uint8_t>(in_[at + 1]) << 8);
    for (uint8_t flag : {uint8_t{0x08}, uint8_t{0x10}})
      if (flags & flag) {
        while (at < in_.size() && in_[at] != '\0')
          ++at;
        ++at;
      }
    if (flags & 0x02) at += 2;
    bit_ = at * 8;
    try {
      return Inflate(out);
    } catch (const std::out_of_range&) {
      return false;
    }
  }

 private:
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit_) {
      if (bit_ / 8 >= in_.size()) throw std::out_of_range("deflate data truncated");
      v |= static_cast<uint32_t>((static_cast<uint8_t>(in_[bit_ / 8]) >> (bit_ % 8)) & 1) << i;
    }
    return v;
  }
  // Huffman codes come most significant bit first.
  uint32_t Reversed(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
      v = (v << 1) | Bits(1);
    return v;
  }
  int FixedSymbol() {
    uint32_t code = Reversed(7);
    if (code <= 0x17) return static_cast<int>(code) + 256;
    code = (code << 1) | Bits(1);
    if (code >= 0x30 && code <= 0xBF) return static_cast<int>(code) - 0x30;
    if (code >= 0xC0 && code <= 0xC7) return static_cast<int>(code) - 0xC0 + 280;
    code = (code << 1) | Bits(1);
    return static_cast<int>(code) - 0x190 + 144;
  }
  bool Inflate(std::string* out) {
    static constexpr uint16_t kLengthBase[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                               15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                               67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr uint16_t kDistBase[] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    bool last = false;
    while (!last) {
      last = Bits(1) != 0;
      const uint32_t type = Bits(2);
      if (type == 0) {
        bit_ = (bit_ + 7) / 8 * 8;
        const uint32_t len = Bits(16);
        Bits(16);
        if (bit_ / 8 + len > in_.size()) return false;
        out->append(in_.substr(bit_ / 8, len));
        bit_ += len * 8;
        continue;
      }
      if (type != 1) return false;
      for (;;) {
        const int symbol = FixedSymbol();
        if (symbol < 256) {
          *out += static_cast<char>(symbol);
          continue;
        }
        if (symbol == 256) break;
        if (symbol > 285) return false;
        const size_t length = kLengthBase[symbol - 257] + Bits(kLengthExtra[symbol - 257]);
        const uint32_t d = Reversed(5);
        if (d >= 30) return false;
        const size_t distance = kDistBase[d] + Bits(d < 4 ? 0 : static_cast<int>(d / 2 - 1));
        if (distance > out->size()) return false;
        for (size_t i = 0; i < length; ++i)
          *out += (*out)[out->size() - distance];
      }
    }
    return true;
  }

  std::string_view in_;
  size_t bit_ = 0;
};

// The texts of the form's menu items: name and caption.
void ReadMenuItems(TFormStreamReader& r, std::vector<DialogMenuItem>* out) {
  const std::string class_name = r.ReadShortString();
  DialogMenuItem item;
  item.name = r.ReadShortString();
  while (!r.EndOfList()) {
    const std::string property = r.ReadShortString();
    if (property == "Caption") {
      item.caption = r.ReadString();
      item.has_caption = true;
    } else {
      r.SkipValue();
    }
  }
  const size_t menu_item = class_name.rfind("MenuItem");
  if (menu_item != std::string::npos && menu_item + 8 == class_name.size()) out->push_back(item);
  while (!r.EndOfList())
    ReadMenuItems(r, out);
}

std::string XmlUnescaped(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    bool replaced = false;
    for (const auto& [entity, c] : kEntities)
      if (text.compare(i, std::strlen(entity), entity) == 0) {
        out += c;
        i += std::strlen(entity) - 1;
        replaced = true;
        break;
      }
    if (!replaced) out += text[i];
  }
  return out;
}

// The schema rows are the string constants of the script that read
// "  Name~@MenuItem~Type[~Params[~Default]]", two spaces a level.
std::vector<DialogSchemaRow> SchemaRows(const std::string& script_xml) {
  std::vector<DialogSchemaRow> rows;
  const std::string mark = "<string ";
  for (size_t at = script_xml.find(mark); at != std::string::npos;
       at = script_xml.find(mark, at + 1)) {
    const size_t text_at = script_xml.find(" text=\"", at);
    const size_t close = script_xml.find('>', at);
    if (text_at == std::string::npos || text_at > close) continue;
    const size_t begin = text_at + 7;
    const size_t end = script_xml.find('"', begin);
    if (end == std::string::npos) break;
    std::string literal = XmlUnescaped(script_xml.substr(begin, end - begin));
    if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') continue;
    literal = literal.substr(1, literal.size() - 2);
    for (size_t q = literal.find("''"); q != std::string::npos; q = literal.find("''", q + 1))
      literal.erase(q, 1);
    if (literal.find("~@") == std::string::npos) continue;
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tilde = literal.find('~');; tilde = literal.find('~', from)) {
      fields.push_back(literal.substr(from, tilde == std::string::npos ? tilde : tilde - from));
      if (tilde == std::string::npos) break;
      from = tilde + 1;
    }
    if (fields.size() < 3 || fields[1].empty() || fields[1][0] != '@') continue;
    DialogSchemaRow row;
    const size_t indent = fields[0].find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    row.depth = static_cast<int>(indent);
    row.name = fields[0].substr(indent);
    row.caption_from = fields[1].substr(1);
    row.type = fields[2];
    // A category's parameters are its colours, no range.
    if (fields.size() > 3 && row.type.rfind("dtCategory", 0) != 0) row.params = fields[3];
    row.has_default = fields.size() > 4;
    if (row.has_default) row.default_value = fields[4];
    rows.push_back(row);
  }
  return rows;
}

uint32_t U32At(const std::string& data, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, data.data() + at, 4);
  return v;
}

}  // namespace

bool ReadPluginFunctions(const std::string& library, bool is1997, std::vector<PluginFunction>* out,
                         std::string* error) {
  out->clear();
  return WithPlugin(
      library, is1997 ? Module::k1997 : Module::k2007,
      [&](PluginInstance& plugin, std::string* why) {
        ListPtr list = MakeList();
        list->Put("EVENT-TYPE", Value::Text("GetFuncTypeList"));
        list->Put("RESULT", Value::Text(""));
        ListPtr items = MakeList();
        items->Put("RESULT", Value::Text(""));
        if (plugin.Command("EVENT", *list) != 0 || plugin.Command("ITEMS", *items) != 0) {
          *why = "the plug-in did not describe its functions";
          return false;
        }
        for (const std::string& entry : SplitOn(Result(*list), "||")) {
          const size_t eq = entry.rfind("==");
          if (eq == std::string::npos) continue;
          out->push_back({entry.substr(eq + 2), entry.substr(0, eq), {}});
        }
        // "Caption|NAME|Type|Default" lines, the functions' columns in the
        // functions' order after the columns every record has.
        std::vector<std::pair<std::string, std::string>> columns;
        for (const std::string& line : SplitOn(Result(*items), "\r\n")) {
          const size_t bar = line.find('|');
          if (bar == std::string::npos) continue;
          const size_t end = line.find('|', bar + 1);
          columns.emplace_back(line.substr(0, bar), line.substr(bar + 1, end - bar - 1));
        }
        size_t at = 0;
        if (!out->empty())
          while (at < columns.size() && !ColumnOf(columns[at].first, out->front().name))
            ++at;
        for (PluginFunction& f : *out)
          while (at < columns.size() && ColumnOf(columns[at].first, f.name))
            f.columns.push_back(columns[at++].second);
        if (out->empty()) *why = "the plug-in offers no function";
        return !out->empty();
      },
      error);
}

bool ReadOptionsDialog(const std::string& library, OptionsDialog* out, std::string* error) {
  *out = OptionsDialog();
  return WithPlugin(
      library, Module::k2007,
      [&](PluginInstance& plugin, std::string* why) {
        const std::string package = plugin.OptionsDialog();
        constexpr size_t kHeader = 24;
        const auto part = [&](size_t field, std::string* text) {
          if (package.size() < kHeader) return false;
          const uint32_t at = U32At(package, field);
          const uint32_t size = U32At(package, field + 4);
          if (at > package.size() || size > package.size() - at) return false;
          *text = package.substr(at, size);
          return true;
        };
        std::string form;
        std::string script;
        if (!part(0, &form) || !part(16, &script)) {
          *why = "the plug-in describes no options dialog";
          return false;
        }
        std::string script_xml;
        if (!Inflater(script).Gunzip(&script_xml)) script_xml = script;
        try {
          TFormStreamReader reader(form);
          reader.ReadSignature();
          ReadMenuItems(reader, &out->menu);
        } catch (const std::exception& e) {
          *why = std::string("the dialog's form: ") + e.what();
          return false;
        }
        out->schema = SchemaRows(script_xml);
        if (out->schema.empty()) *why = "the dialog's script has no settings";
        return !out->schema.empty();
      },
      error);
}

std::string OptionsListing(const OptionsDialog& dialog, bool json) {
  const auto caption = [&](const std::string& item) -> std::string {
    for (const DialogMenuItem& m : dialog.menu)
      if (m.name == item && m.has_caption) return m.caption;
    return item;
  };
  std::string out;
  char line[1024];
  if (json) {
    out = "{\n  \"menu\": [\n";
    for (size_t i = 0; i < dialog.menu.size(); ++i) {
      const DialogMenuItem& m = dialog.menu[i];
      out += "    {\"name\": " + JsonText(m.name) +
             ", \"caption\": " + (m.has_caption ? JsonText(m.caption) : "null") + "}" +
             (i + 1 < dialog.menu.size() ? "," : "") + "\n";
    }
    out += "  ],\n  \"schema\": [\n";
    for (size_t i = 0; i < dialog.schema.size(); ++i) {
      const DialogSchemaRow& r = dialog.schema[i];
      out += "    {\"depth\": " + std::to_string(r.depth) + ", \"name\": " + JsonText(r.name) +
             ", \"caption\": " + JsonText(caption(r.caption_from)) +
             ", \"type\": " + JsonText(r.type) + ", \"range\": " + JsonText(r.params) +
             ", \"default\": " + (r.has_default ? JsonText(r.default_value) : "null") + "}" +
             (i + 1 < dialog.schema.size() ? "," : "") + "\n";
    }
    return out + "  ]\n}\n";
  }
  out = "Menu:\n";
  for (const DialogMenuItem& m : dialog.menu) {
    std::snprintf(line, sizeof line, "  %-18s %s\n", m.name.c_str(),
                  m.has_caption ? m.caption.c_str() : "(filled by the plug-in)");
    out += line;
  }
  out += "\nSettings (element, type, range or values, default):\n";
  for (const DialogSchemaRow& r : dialog.schema) {
    std::snprintf(line, sizeof line, "  %s%-*s %-34s %-16s %-12s %s\n",
                  std::string(static_cast<size_t>(2 * r.depth), ' ').c_str(), 16 - 2 * r.depth,
                  r.name.c_str(), caption(r.caption_from).c_str(), r.type.c_str(), r.params.c_str(),
                  r.default_value.c_str());
    out += line;
  }
  return out;
}

bool ResolveFunction(const std::string& token, bool is1997, std::string* code, std::string* error) {
  const std::string upper = platform::AsciiUpperCase(token);
  if (upper == "04000101" || upper == "04000102") {
    *code = upper;
    return true;
  }
  const std::vector<FunctionInfo> all = [] {
    std::vector<FunctionInfo> both = Functions(false);
    for (FunctionInfo& f : Functions(true))
      both.push_back(f);
    return both;
  }();
  for (const FunctionInfo& f : all)
    if (f.code == upper || platform::AsciiUpperCase(f.field) == upper ||
        platform::AsciiUpperCase(f.name) == upper) {
      *code = f.code;
      return true;
    }
  // A 1997 meter's codes may be written without the table's bit.
  if (is1997 && upper.size() == 4)
    for (const FunctionInfo& f : all)
      if (f.code == "8000" + upper) {
        *code = f.code;
        return true;
      }
  std::vector<std::pair<size_t, std::string>> closest;
  for (const FunctionInfo& f : all) {
    const size_t d = std::min(EditDistance(upper, f.code),
                              EditDistance(upper, platform::AsciiUpperCase(f.field)));
    closest.emplace_back(d, f.code + " " + f.field);
  }
  std::stable_sort(closest.begin(), closest.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  *error = "no function '" + token + "'; the closest: ";
  for (size_t i = 0; i < closest.size() && i < 3; ++i)
    *error += (i ? ", " : "") + closest[i].second;
  return false;
}

std::string FunctionsListing(const std::vector<PluginFunction>& offered, const std::string& format,
                             bool is1997) {
  return FunctionsText(offered, format, is1997);
}

std::string FunctionsDocument(const std::vector<PluginFunction>& offered2007,
                              const std::vector<PluginFunction>& offered1997) {
  return "# Functions\n\n"
         "Every function of the plug-in's tables: the code a `<Function>` element names, the\n"
         "name of its values in the records (with the value's number appended when a\n"
         "function has several, or the rate when one is asked), how many values an answer\n"
         "carries at most, their decimals and unit. \"(rates)\" marks functions that take a\n"
         "`<Rate>`; \"date/time\" a time stamp beside each value (`TIMESTAMP1`, ...).\n"
         "Generated by `dlt645-host functions --format markdown`; do not edit.\n\n"
         "## DL/T 645-2007\n\n" +
         FunctionsText(offered2007, "markdown", false) +
         "\n## DL/T 645-1997\n\n"
         "Codes with bit 31 set (`8000xxxx`) select the 1997 table and its frames.\n\n" +
         FunctionsText(offered1997, "markdown", true);
}

namespace {

// ---- commissioning runs: the plug-in on one port, a job in another thread ----

struct RunArgs {
  Module module = Module::k2007;
  std::string library;
  uint32_t timeout_ms = 2000;
  std::string meter;
  std::vector<std::string> functions;
  std::string rate = "0";
  std::vector<PortSpec> ports;
  bool verbose = false;
};

// Parses the common options of read, discover and sync-time.
bool ParseRunArgs(const std::vector<std::string>& args, RunArgs* out, std::string* error) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = "option " + a + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--module") {
      if (!value(&v)) return false;
      if (v == "2007") {
        out->module = Module::k2007;
      } else if (v == "1997") {
        out->module = Module::k1997;
      } else if (v == "gprs") {
        out->module = Module::kGprs;
      } else {
        *error = "--module '" + v + "' is none of 2007, gprs, 1997";
        return false;
      }
    } else if (a == "--library") {
      if (!value(&out->library)) return false;
    } else if (a == "--timeout") {
      if (!value(&v)) return false;
      const long n = std::strtol(v.c_str(), nullptr, 10);
      if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || n < 1 ||
          n > 65535) {
        *error = "--timeout '" + v + "' is not a number of milliseconds from 1 to 65535";
        return false;
      }
      out->timeout_ms = static_cast<uint32_t>(n);
    } else if (a == "--meter") {
      if (!value(&out->meter)) return false;
    } else if (a == "--function") {
      if (!value(&v)) return false;
      size_t begin = 0;
      for (;;) {
        const size_t comma = v.find(',', begin);
        const std::string token =
            v.substr(begin, comma == std::string::npos ? comma : comma - begin);
        if (!token.empty()) out->functions.push_back(token);
        if (comma == std::string::npos) break;
        begin = comma + 1;
      }
    } else if (a == "--rate") {
      if (!value(&out->rate)) return false;
    } else if (a == "--verbose" || a == "-v") {
      out->verbose = true;
    } else if (!a.empty() && a[0] == '-') {
      *error = "unknown option '" + a + "'";
      return false;
    } else {
      PortSpec port;
      if (!ParsePortSpec(a, &port, error)) return false;
      out->ports.push_back(port);
    }
  }
  if (out->ports.size() != 1) {
    *error = "one port is needed (tcp://HOST:PORT, listen://ADDR:PORT or serial:DEVICE)";
    return false;
  }
  return true;
}

using Job = std::function<int(PluginInstance&)>;

// Loads the plug-in with no request of its own on the port and runs the job
// once the port is open; 1 when the port never opened.
int RunJob(const std::string& name, const RunArgs& a, uint32_t job_ms, const Job& job) {
  const ScratchSettings settings;
  std::string error;
  if (!WriteSettingsFile(settings.Path(), "dlt645-host", "<DL_T645_2007_QUERY/>", &error)) {
    std::fprintf(stderr, "dlt645-host %s: %s\n", name.c_str(), error.c_str());
    return kExitFailure;
  }
  HostOptions o;
  o.ports = a.ports;
  o.settings = settings.Path();
  o.module = a.module;
  o.library = a.library;
  o.log_level = a.verbose ? 2 : 0;
  o.verbose = a.verbose;
  o.connect_attempts = 1;
  o.duration_s = job_ms / 1000.0 + 3;
  Host app(o, stdout, stderr);
  app.Job = job;
  const int code = app.Run(LibraryOrDefault(a.library), settings.Path());
  if (!app.JobRan()) {
    std::fprintf(stderr, "dlt645-host %s: %s did not open in time\n", name.c_str(),
                 a.ports.front().text.c_str());
    return kExitFailure;
  }
  return code;
}

// "A=1\r\nB=2\r\n" as lines.
void PrintLines(const std::string& text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find("\r\n", begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) std::printf("%s\n", text.substr(begin, end - begin).c_str());
    begin = end + 2;
  }
  std::fflush(stdout);
}

int ReadFunctions(PluginInstance& plugin, const RunArgs& a, const std::vector<std::string>& codes) {
  int code = kExitOk;
  for (const std::string& function : codes) {
    ListPtr params = MakeList();
    params->Put("DATA-SOURCE", Value::Int(1));
    params->Put("DEVICE", Value::Text(a.meter));
    params->Put("FUNCTION", Value::Text(function));
    params->Put("RATE", Value::Text(a.rate));
    params->Put("TIMEOUT", Value::Int(static_cast<int32_t>(a.timeout_ms)));
    params->Put("RESULT", Value::Text(""));
    const int32_t r = plugin.Command("READ-NOW", *params, kRoleRequests | kRoleParsing);
    if (r != 0) {
      std::fprintf(stderr, "dlt645-host read: %s: %s\n", function.c_str(), Result(*params).c_str());
      code = kExitFailure;
      continue;
    }
    PrintLines(Result(*params));
  }
  return code;
}

int Read(const std::vector<std::string>& args) {
  RunArgs a;
  std::string error;
  if (!ParseRunArgs(args, &a, &error) || a.meter.empty() || a.functions.empty()) {
    std::fprintf(stderr,
                 "dlt645-host read: %s\nusage: dlt645-host read [--module 1997] "
                 "--meter ADDR --function CODE|NAME[,...] [--rate R] [--timeout MS] PORT\n",
                 error.empty() ? "--meter and --function are needed" : error.c_str());
    return kExitUsage;
  }
  std::vector<std::string> codes;
  for (const std::string& token : a.functions) {
    std::string code;
    if (!ResolveFunction(token, a.module == Module::k1997, &code, &error)) {
      std::fprintf(stderr, "dlt645-host read: %s\n", error.c_str());
      return kExitUsage;
    }
    codes.push_back(code);
  }
  const uint32_t job_ms = a.timeout_ms * static_cast<uint32_t>(codes.size());
  return RunJob("read", a, job_ms,
                [&](PluginInstance& plugin) { return ReadFunctions(plugin, a, codes); });
}

int Discover(const std::vector<std::string>& args) {
  RunArgs a;
  std::string error;
  if (!ParseRunArgs(args, &a, &error)) {
    std::fprintf(stderr,
                 "dlt645-host discover: %s\nusage: dlt645-host discover [--timeout MS] "
                 "PORT\n",
                 error.c_str());
    return kExitUsage;
  }
  return RunJob("discover", a, a.timeout_ms, [&](PluginInstance& plugin) {
    ListPtr params = MakeList();
    params->Put("DATA-SOURCE", Value::Int(1));
    params->Put("TIMEOUT", Value::Int(static_cast<int32_t>(a.timeout_ms)));
    params->Put("RESULT", Value::Text(""));
    const int32_t r = plugin.Command("READ-ADDRESS", *params, kRoleRequests | kRoleParsing);
    if (r != 0) {
      std::fprintf(stderr, "dlt645-host discover: %s\n", Result(*params).c_str());
      return kExitFailure;
    }
    std::printf("%s\n", Result(*params).c_str());
    return kExitOk;
  });
}

int SyncTime(const std::vector<std::string>& args) {
  RunArgs a;
  std::string error;
  if (!ParseRunArgs(args, &a, &error)) {
    std::fprintf(stderr,
                 "dlt645-host sync-time: %s\nusage: dlt645-host sync-time [--meter ADDR] "
                 "[--timeout MS] PORT\n",
                 error.c_str());
    return kExitUsage;
  }
  return RunJob("sync-time", a, a.timeout_ms * 3, [&](PluginInstance& plugin) {
    ListPtr params = MakeList();
    params->Put("DATA-SOURCE", Value::Int(1));
    params->Put("RESULT", Value::Text(""));
    const int32_t r = plugin.Command("SYNC-TIME", *params, kRoleRequests | kRoleParsing);
    if (r != 0) {
      std::fprintf(stderr, "dlt645-host sync-time: %s\n", Result(*params).c_str());
      return kExitFailure;
    }
    std::printf("SYNC-TIME=%s\n", Result(*params).c_str());
    std::fflush(stdout);
    // A broadcast is never answered: the meter's clock tells whether it took it.
    if (a.meter.empty()) return kExitOk;
    return ReadFunctions(plugin, a, {"04000101", "04000102"});
  });
}

int FunctionsCommand(const std::vector<std::string>& args) {
  std::string format = "text";
  std::string library;
  bool is1997 = false;
  bool module_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--format" && i + 1 < args.size()) {
      format = args[++i];
    } else if (args[i] == "--module" && i + 1 < args.size()) {
      is1997 = args[++i] == "1997";
      module_given = true;
    } else if (args[i] == "--library" && i + 1 < args.size()) {
      library = args[++i];
    } else {
      std::fputs(
          "usage: dlt645-host functions [--module 1997] [--format text|json|markdown] "
          "[--library FILE]\n",
          stderr);
      return kExitUsage;
    }
  }
  if (format != "text" && format != "json" && format != "markdown") {
    std::fprintf(stderr, "dlt645-host functions: --format '%s' is none of text, json, markdown\n",
                 format.c_str());
    return kExitUsage;
  }
  library = LibraryOrDefault(library);
  // The document covers both tables unless one is asked for.
  const bool both = format == "markdown" && !module_given;
  std::vector<PluginFunction> offered;
  std::vector<PluginFunction> offered1997;
  std::string error;
  if (!ReadPluginFunctions(library, is1997 && !both, &offered, &error) ||
      (both && !ReadPluginFunctions(library, true, &offered1997, &error))) {
    std::fprintf(stderr, "dlt645-host functions: %s: %s\n", library.c_str(), error.c_str());
    return kExitFailure;
  }
  std::fputs(both ? FunctionsDocument(offered, offered1997).c_str()
                  : FunctionsText(offered, format, is1997).c_str(),
             stdout);
  return kExitOk;
}

// The options dialog as the plug-in describes it: the menu of texts and
// the schema rows of the property tree.
int OptionsCommand(const std::vector<std::string>& args) {
  bool json = false;
  std::string library;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--format" && i + 1 < args.size() &&
        (args[i + 1] == "text" || args[i + 1] == "json")) {
      json = args[++i] == "json";
    } else if (args[i] == "--library" && i + 1 < args.size()) {
      library = args[++i];
    } else {
      std::fputs("usage: dlt645-host options [--format text|json] [--library FILE]\n", stderr);
      return kExitUsage;
    }
  }
  library = LibraryOrDefault(library);
  OptionsDialog dialog;
  std::string error;
  if (!ReadOptionsDialog(library, &dialog, &error)) {
    std::fprintf(stderr, "dlt645-host options: %s: %s\n", library.c_str(), error.c_str());
    return kExitFailure;
  }
  std::fputs(OptionsListing(dialog, json).c_str(), stdout);
  return kExitOk;
}

}  // namespace

void PrintConfigReport(std::FILE* out, const std::string& path, const ConfigCheck& check) {
  std::fprintf(out, "%s: %zu request(s), %d loaded\n", path.c_str(), check.plan.size(),
               check.requests);
  for (const RequestPlan& r : check.plan) {
    std::string line = "  " + r.caption + ": ";
    if (!r.loaded) {
      line += "skipped";
    } else {
      line += r.listen_only ? "listen-only (" + MethodText(r) + ", nothing sent)" : MethodText(r);
      line += "; devices " + Joined(r.devices) + "; functions " + Joined(r.functions);
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  for (const std::string& e : check.errors)
    std::fprintf(out, "error: %s: %s\n", path.c_str(), e.c_str());
  for (const std::string& w : check.warnings)
    std::fprintf(out, "warning: %s: %s\n", path.c_str(), w.c_str());
  std::fprintf(out, "%s: %zu error(s), %zu warning(s)\n", path.c_str(), check.errors.size(),
               check.warnings.size());
}

int ConfigCheckExit(const ConfigCheck& check, bool strict) {
  if (!check.errors.empty()) return kExitUsage;
  if (strict && !check.warnings.empty()) return kExitFailure;
  return kExitOk;
}

bool IsSubcommand(const std::string& word) {
  return word == "check" || word == "read" || word == "discover" || word == "sync-time" ||
         word == "functions" || word == "options";
}

int RunSubcommand(const std::vector<std::string>& args) {
  if (args.empty()) return kExitUsage;
  if (args[0] == "check") return Check(args);
  if (args[0] == "read") return Read(args);
  if (args[0] == "discover") return Discover(args);
  if (args[0] == "sync-time") return SyncTime(args);
  if (args[0] == "functions") return FunctionsCommand(args);
  if (args[0] == "options") return OptionsCommand(args);
  return kExitUsage;
}

}  // namespace host
