#include "host_config.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/str_to_int.h"
#include "base/trim.h"
#include "config/store/ini_file.h"
#include "config/store/value_codec.h"
#include "config/store/wreg.h"
#include "config/xml/dov_xml_tree.h"
#include "config/xml/read_cfg.h"
#include "dlt645/frame_codec.h"
#include "dlt645/func_types.h"
#include "dlt645/query_config.h"
#include "parser/basic_request_item.h"
#include "parser/cron/schedule.h"
#include "platform/strings.h"
#include "platform/tick.h"

namespace host {

namespace {

constexpr const char* kRoot = "DL_T645_2007_QUERY";

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}
bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A strict reader that only checks; the plug-in's own reader is lenient and
// would quietly load whatever a broken text happens to build.
class SyntaxCheck {
 public:
  explicit SyntaxCheck(const std::string& t) : t_(t) {}

  std::string Run() {
    std::vector<std::pair<std::string, size_t>> open;  // name, line
    bool root_seen = false;
    while (p_ < t_.size()) {
      if (t_[p_] != '<') {
        const size_t start = p_;
        while (p_ < t_.size() && t_[p_] != '<') {
          if (t_[p_] == '&' && !Entity()) return error_;
          if (t_[p_] == '>') return At(p_, "'>' in text");
          ++p_;
        }
        if (open.empty()) {
          for (size_t i = start; i < p_; ++i)
            if (!IsBlank(t_[i])) return At(i, "text outside the root element");
        }
        continue;
      }
      const size_t tag = p_;
      if (Starts("<?")) {
        if (!SkipTo("?>")) return At(tag, "unterminated processing instruction");
      } else if (Starts("<!--")) {
        if (!SkipTo("-->")) return At(tag, "unterminated comment");
      } else if (Starts("<![CDATA[")) {
        if (open.empty()) return At(tag, "CDATA outside the root element");
        if (!SkipTo("]]>")) return At(tag, "unterminated CDATA section");
      } else if (Starts("<!")) {
        if (!SkipTo(">")) return At(tag, "unterminated declaration");
      } else if (Starts("</")) {
        p_ += 2;
        std::string name;
        if (!Name(&name)) return At(p_, "expected a name after '</'");
        SkipBlanks();
        if (p_ >= t_.size() || t_[p_] != '>') return At(p_, "expected '>' after </" + name);
        ++p_;
        if (open.empty()) return At(tag, "closing tag </" + name + "> without an open element");
        if (open.back().first != name)
          return At(tag, "closing tag </" + name + "> does not match <" + open.back().first +
                             "> of line " + std::to_string(open.back().second));
        open.pop_back();
      } else {
        ++p_;
        std::string name;
        if (!Name(&name)) return At(p_, "expected an element name after '<'");
        if (open.empty() && root_seen) return At(tag, "a second root element <" + name + ">");
        std::vector<std::string> attrs;
        for (;;) {
          const bool blank = SkipBlanks();
          if (p_ >= t_.size()) return At(tag, "unterminated tag <" + name);
          if (Starts("/>")) {
            p_ += 2;
            if (open.empty()) root_seen = true;
            break;
          }
          if (t_[p_] == '>') {
            ++p_;
            open.emplace_back(name, LineOf(tag));
            root_seen = true;
            break;
          }
          if (!blank) return At(p_, "expected a blank, '>' or '/>' in <" + name);
          std::string attr;
          if (!Name(&attr)) return At(p_, "expected an attribute name in <" + name);
          for (const auto& a : attrs)
            if (a == attr) return At(p_, "attribute " + attr + " given twice");
          attrs.push_back(attr);
          SkipBlanks();
          if (p_ >= t_.size() || t_[p_] != '=') return At(p_, "expected '=' after " + attr);
          ++p_;
          SkipBlanks();
          if (p_ >= t_.size() || (t_[p_] != '"' && t_[p_] != '\''))
            return At(p_, "attribute " + attr + " needs a quoted value");
          const char quote = t_[p_++];
          while (p_ < t_.size() && t_[p_] != quote) {
            if (t_[p_] == '<') return At(p_, "'<' in the value of " + attr);
            if (t_[p_] == '&' && !Entity()) return error_;
            ++p_;
          }
          if (p_ >= t_.size()) return At(tag, "unterminated value of " + attr);
          ++p_;
        }
      }
    }
    if (!open.empty())
      return At(t_.size(), "element <" + open.back().first + "> of line " +
                               std::to_string(open.back().second) + " is never closed");
    if (!root_seen) return At(0, "no element at all");
    return {};
  }

 private:
  bool Starts(const char* s) const {
    return t_.compare(p_, std::char_traits<char>::length(s), s) == 0;
  }
  bool SkipTo(const char* end) {
    const size_t e = t_.find(end, p_);
    if (e == std::string::npos) return false;
    p_ = e + std::char_traits<char>::length(end);
    return true;
  }
  bool SkipBlanks() {
    const size_t start = p_;
    while (p_ < t_.size() && IsBlank(t_[p_]))
      ++p_;
    return p_ > start;
  }
  bool Name(std::string* out) {
    if (p_ >= t_.size() || !IsNameStart(static_cast<unsigned char>(t_[p_]))) return false;
    const size_t start = p_;
    while (p_ < t_.size() && IsNameChar(static_cast<unsigned char>(t_[p_])))
      ++p_;
    *out = t_.substr(start, p_ - start);
    return true;
  }
  // At an '&': leaves p_ on the ';'.
  bool Entity() {
    const size_t start = p_;
    const size_t semi = t_.find(';', p_);
    if (semi == std::string::npos || semi - p_ > 12) {
      error_ = At(start, "'&' that starts no entity (write &amp;)");
      return false;
    }
    const std::string e = t_.substr(p_ + 1, semi - p_ - 1);
    bool ok = e == "amp" || e == "lt" || e == "gt" || e == "quot" || e == "apos";
    if (!ok && e.size() > 1 && e[0] == '#') {
      const bool hex = e[1] == 'x';
      const std::string digits = e.substr(hex ? 2 : 1);
      ok = !digits.empty();
      for (char c : digits)
        ok = ok &&
             (hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9'));
    }
    if (!ok) {
      error_ = At(start, "unknown entity &" + e + ";");
      return false;
    }
    p_ = semi;
    return true;
  }
  // Counted as the check goes, so that a text of many elements costs one
  // pass (positions only grow; an earlier one starts the count again).
  size_t LineOf(size_t pos) {
    if (pos < counted_to_) {
      counted_to_ = 0;
      counted_line_ = 1;
    }
    for (; counted_to_ < pos && counted_to_ < t_.size(); ++counted_to_)
      if (t_[counted_to_] == '\n') ++counted_line_;
    return counted_line_;
  }
  std::string At(size_t pos, const std::string& message) const {
    size_t line = 1;
    size_t col = 1;
    for (size_t i = 0; i < pos && i < t_.size(); ++i) {
      if (t_[i] == '\n') {
        ++line;
        col = 1;
      } else {
        ++col;
      }
    }
    return std::to_string(line) + ":" + std::to_string(col) + ": " + message;
  }

  const std::string& t_;
  size_t p_ = 0;
  std::string error_;
  size_t counted_to_ = 0;
  size_t counted_line_ = 1;
};

// Read in pieces up to the limit, so that a device or a runaway file never
// fills the memory.
bool ReadWholeFile(const std::string& path, std::string* out, bool* too_large) {
  *too_large = false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string data;
  char piece[65536];
  while (in.read(piece, sizeof piece) || in.gcount() > 0) {
    data.append(piece, static_cast<size_t>(in.gcount()));
    if (data.size() > kMaxConfigFileBytes) {
      *too_large = true;
      return false;
    }
  }
  if (in.bad()) return false;
  *out = std::move(data);
  return true;
}

// The plug-in's own reading of a code: hexadecimal, leading zeros allowed.
bool ParseFunctionCode(const std::string& text, uint32_t* code) {
  int32_t v = 0;
  if (!TryStrToInt("$" + text, &v)) return false;
  *code = static_cast<uint32_t>(v);
  return true;
}

bool ParseInt(const std::string& text, int64_t* out) {
  const std::string t(TrimControls(text));
  if (t.empty() || t.size() > 18) return false;
  size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
  if (i == t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *out = t[0] == '-' ? -v : v;
  return true;
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The devices as the plug-in keeps them; entries it refuses are errors.
void CheckDevices(const TdovXMLNode* request, const std::string& caption, RequestPlan* plan,
                  ConfigCheck* c) {
  const TRequestDevices judged = ReadRequestDevices(request);
  for (const std::string& entry : judged.Refused)
    c->errors.push_back(caption + ": device " + Quoted(entry) +
                        " is not a meter address (up to 12 digits); nothing is sent to it");
  if (judged.NoneLeft)
    c->errors.push_back(caption + ": no device left to poll; the request sends nothing");
  for (const std::string& device : judged.Devices)
    plan->devices.emplace_back(TrimControls(device));
}

// The times of day as the plug-in reads them ("h[:m[:s]]", am/pm, ";"
// between); what it would skip or quietly set to 0 is an error.
void CheckAtTime(const std::string& list, const std::string& caption, ConfigCheck* c) {
  int times = 0;
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find_first_of(";,", begin);
    if (end == std::string::npos) end = list.size();
    const std::string entry(TrimControls(std::string_view(list).substr(begin, end - begin)));
    begin = end + 1;
    if (entry.empty()) continue;
    std::string t = platform::AsciiLowerCase(entry);
    size_t cut = t.find_first_of("ap");
    const bool pm = cut != std::string::npos && t[cut] == 'p';
    const bool half = cut != std::string::npos;
    const std::string suffix = half ? std::string(TrimControls(t.substr(cut))) : "";
    if (half) t = std::string(TrimControls(t.substr(0, cut)));
    int64_t parts[3] = {0, 0, 0};
    bool ok =
        !t.empty() && (!half || suffix == "am" || suffix == "pm" || suffix == "a" || suffix == "p");
    size_t pos = 0;
    int count = 0;
    for (; ok && count < 3; ++count) {
      const size_t colon = t.find(':', pos);
      ok = ParseInt(t.substr(pos, colon == std::string::npos ? colon : colon - pos), &parts[count]);
      if (colon == std::string::npos) {
        ++count;
        break;
      }
      pos = colon + 1;
    }
    ok = ok && pos <= t.size() && t.find(':', pos) == std::string::npos;
    int64_t hours = parts[0];
    if (ok && half) ok = hours >= 1 && hours <= 12;
    if (ok && pm && hours < 12) hours += 12;
    if (ok && half && !pm && hours == 12) hours = 0;
    ok = ok && hours >= 0 && hours <= 23 && parts[1] >= 0 && parts[1] <= 59 && parts[2] >= 0 &&
         parts[2] <= 59;
    if (!ok) {
      c->errors.push_back(caption + ": AtTime " + Quoted(entry) +
                          " is no time of day (HH:MM:SS, 0..23 hours, or 1..12 with am/pm)");
      continue;
    }
    ++times;
  }
  if (times == 0 && list.find_first_not_of(" ;,") == std::string::npos)
    c->errors.push_back(caption + ": AtTime names no time; the request never fires");
}

// The cron text as the plug-in schedules it: six fields, seconds first.
// Answers the seconds between its next two moments, 0 when it never fires.
double CheckCron(const std::string& text, const std::string& caption, ConfigCheck* c) {
  if (text.size() > kMaxCronText) {
    c->errors.push_back(caption + ": the cron text is longer than " + std::to_string(kMaxCronText) +
                        " characters");
    return 0;
  }
  const std::vector<std::string_view> fields = SplitCronFields(text);
  if (fields.size() < 6) {
    c->errors.push_back(caption + ": cron " + Quoted(text) + " has " +
                        std::to_string(fields.size()) +
                        " fields; six are needed, seconds first (\"0 " + text + "\"?)");
    return 0;
  }
  if (fields.size() > 6)
    c->warnings.push_back(caption + ": cron " + Quoted(text) +
                          ": the fields after the sixth are ignored");
  std::string six;
  for (size_t k = 0; k < 6; ++k)
    six.append(fields[k]).append(" ");
  six += "*";
  try {
    const TChronSchedule entries = ParseCronText(six);
    const double first = NextMoment(entries, 0, 0, platform::LocalNow());
    const double second = first > 0 ? NextMoment(entries, 0, 0, first) : 0;
    if (first <= 0) {
      c->errors.push_back(caption + ": cron " + Quoted(text) + " never fires");
      return 0;
    }
    return second > first ? std::round((second - first) * 86400.0) : 0;
  } catch (const std::exception& e) {
    c->errors.push_back(caption + ": cron " + Quoted(text) + " never fires: " + e.what());
  }
  return 0;
}

// An integer element within its range; answers the value (def when absent).
int64_t CheckRange(const TdovXMLNode* request, const char* name, int64_t def, int64_t low,
                   int64_t high, const std::string& caption, ConfigCheck* c) {
  const TdovXMLNode* node = nullptr;
  const std::string text = ReadCfgText(request, name, "", true, nullptr, &node);
  if (!node || TrimControls(text).empty()) return def;
  int64_t v = 0;
  if (!ParseInt(text, &v)) {
    c->errors.push_back(caption + ": " + name + " " + Quoted(text) + " is not a whole number");
    return def;
  }
  if (v < low || v > high) {
    c->errors.push_back(caption + ": " + name + " " + std::to_string(v) + " is outside " +
                        std::to_string(low) + ".." + std::to_string(high));
  }
  return v;
}

void CheckRequest(const TdovXMLNode* request, int position, ConfigCheck* c) {
  TBasicRequestItem item;
  item.LoadFromNode(request, position);
  const std::string caption = item.Caption;
  RequestPlan plan;
  plan.caption = caption;
  plan.listen_only = !item.Enabled;
  static const char* const kMethods[] = {"once", "poll", "at-time", "cron", "event"};
  plan.method = item.Method < 5 ? kMethods[item.Method] : "once";

  if (!item.Enabled)
    c->warnings.push_back(caption + ": no <Enabled>1</Enabled>: listen-only, nothing is sent");
  CheckRange(request, "Timeout", 300, 1, kMaxTimeoutMs, caption, c);
  const std::string units = ReadCfgText(request, "PollUnits", "");
  const std::string known = platform::AsciiUpperCase(units);
  if (!units.empty() && known != "MS" && known != "S" && known != "M" && known != "H")
    c->errors.push_back(caption + ": unknown PollUnits " + Quoted(units) +
                        " (MS, S, M or H); the plug-in would take milliseconds");
  switch (item.Method) {
    case kMethodPoll:
      CheckRange(request, "PollInterval", 1000, 1, kMaxPollInterval, caption, c);
      plan.period_s = item.PollInterval / 1000.0;
      break;
    case kMethodAtTime:
      plan.schedule = item.Mode.MethodText;
      plan.period_s = 86400;
      CheckAtTime(item.Mode.MethodText, caption, c);
      break;
    case kMethodCron:
      plan.schedule = item.Mode.MethodText;
      plan.period_s = CheckCron(item.Mode.MethodText, caption, c);
      break;
    case kMethodEvent:
      plan.schedule = item.Mode.MethodText;
      if (TrimControls(plan.schedule).empty())
        c->warnings.push_back(caption + ": MethodEvent without an EventId never fires");
      break;
    default:
      break;
  }
  CheckDevices(request, caption, &plan, c);

  // Found as the plug-in finds it: an entry that is itself a <Response>
  // is one.
  const TdovXMLNode* response = ReadCfgNode(request, "Response");
  if (!response) {
    c->warnings.push_back(caption + ": no <Response>, the request is skipped");
    c->plan.push_back(std::move(plan));
    return;
  }
  int items = 0;
  for (size_t k = 0; k < response->ChildCount(); ++k) {
    const std::string fn = ReadCfgText(response->Child(k), "Function", "");
    uint32_t code = 0;
    // As the plug-in reads it: code 0 is the total combined active energy
    // only when written out as eight zeros.
    if (!ParseFunctionCode(fn, &code) || (code == 0 && TrimControls(fn) != "00000000")) {
      c->warnings.push_back(caption + ": function '" + fn + "' is not a function code, skipped");
      continue;
    }
    const bool is1997 = (code & kFuncCode1997) != 0;
    const TRequestFuncType* type = FindFuncType(code & ~kFuncCode1997, is1997);
    if (!type) {
      c->warnings.push_back(caption + ": function " + fn + " is in neither table, skipped");
      continue;
    }
    ++items;
    const int32_t rate = ReadCfgInt(response->Child(k), "Rate", 0);
    if (rate < 0 || rate > kMaxRate)
      c->warnings.push_back(caption + ": function " + fn + ": rate " + std::to_string(rate) +
                            " is outside 0.." + std::to_string(kMaxRate));
    const ConfiguredFunction f{code, static_cast<uint8_t>(rate > 0 && rate < 256 ? rate : 0)};
    if (std::find(c->functions.begin(), c->functions.end(), f) == c->functions.end())
      c->functions.push_back(f);
    plan.functions.push_back(f.rate && type->RateCount ? fn + " rate " + std::to_string(f.rate)
                                                       : fn);
  }
  if (items == 0) {
    c->warnings.push_back(caption + ": no function the plug-in knows, nothing to ask");
  } else {
    plan.loaded = true;
    ++c->requests;
  }
  c->plan.push_back(std::move(plan));
}
}  // namespace

std::string XmlSyntaxError(const std::string& text) {
  return SyntaxCheck(text).Run();
}

bool CheckQueryConfig(const std::string& utf8_text, ConfigCheck* check, std::string* error) {
  std::string text = utf8_text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  if (!platform::IsValidUtf8(text)) {
    *error = "the text is not UTF-8";
    return false;
  }
  const std::string syntax = XmlSyntaxError(text);
  if (!syntax.empty()) {
    *error = syntax;
    return false;
  }
  TdovXMLTree tree;
  tree.SetXML(text);
  const TdovXMLNode* root = nullptr;
  for (size_t i = 0; i < tree.ChildCount() && !root; ++i) {
    const TdovXMLNode* top = tree.Child(i);
    root = platform::SameTextAscii(top->Name(), kRoot) ? top : top->FindDescendant(kRoot);
  }
  if (!root) {
    *error = std::string("no element ") + kRoot + " (the root of a query configuration)";
    return false;
  }
  ConfigCheck c;
  for (size_t i = 0; i < root->ChildCount(); ++i)
    CheckRequest(root->Child(i), static_cast<int>(i + 1), &c);
  bool ok = false;
  c.xml = platform::Utf8ToAnsi(text, &ok);
  if (!ok) {
    *error = "the text has characters that the system's code page cannot hold";
    return false;
  }
  *check = std::move(c);
  return true;
}

bool ReadQueryConfigFile(const std::string& path, ConfigCheck* check, std::string* error) {
  std::string text;
  bool too_large = false;
  if (!ReadWholeFile(path, &text, &too_large)) {
    *error = path + (too_large ? ": larger than " + std::to_string(kMaxConfigFileBytes >> 20) +
                                     " MB, not a query configuration"
                               : ": cannot be read");
    return false;
  }
  std::string e;
  if (!CheckQueryConfig(text, check, &e)) {
    const bool positioned = !e.empty() && e[0] >= '0' && e[0] <= '9';
    *error = path + (positioned ? ":" : ": ") + e;
    return false;
  }
  return true;
}

std::string ConfigSection(const std::string& prefix) {
  return WregIniSection(prefix, "");
}

bool WriteSettingsFile(const std::string& path, const std::string& prefix,
                       const std::string& ansi_xml, std::string* error) {
  TIniFile ini;
  ini.LoadFromFile(path);  // a missing file starts empty
  try {
    ini.WriteString(ConfigSection(prefix), kConfigKey, EncodeSettingText(ansi_xml));
  } catch (const std::exception& e) {
    *error = path + ": " + e.what();
    return false;
  }
  if (!ini.SaveToFile(path)) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

bool ReadSettingsFile(const std::string& path, const std::string& prefix, std::string* ansi_xml,
                      std::string* error) {
  TIniFile ini;
  if (!ini.LoadFromFile(path)) {
    *error = path + ": cannot be read";
    return false;
  }
  std::string stored;
  if (!ini.ReadString(ConfigSection(prefix), kConfigKey, &stored)) {
    *error = path + ": no key '" + std::string(kConfigKey) + "' in section [" +
             ConfigSection(prefix) + "] (see --section)";
    return false;
  }
  *ansi_xml = DecodeSettingText(stored);
  return true;
}

}  // namespace host
