#include "host_records.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "dlt645/func_types.h"
#include "host_platform.h"
#include "platform/datetime.h"
#include "platform/strings.h"

namespace host {

namespace {

using namespace platform;

bool IsPacketField(const std::string& name) {
  return name == "FULL_DATA_PACKET" || name == "DATA_PACKET";
}

std::string IntText(int64_t v) {
  return std::to_string(v);
}
std::string UintText(uint64_t v) {
  return std::to_string(v);
}

enum class Shape { kNull, kNumber, kBool, kText };

// The value in text and what JSON makes of it.
Shape Render(const std::string& name, const VARIANT& v, std::string* text) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      text->clear();
      return Shape::kNull;
    case VT_I1:
      *text = IntText(v.cVal);
      return Shape::kNumber;
    case VT_I2:
      *text = IntText(v.iVal);
      return Shape::kNumber;
    case VT_I4:
    case VT_INT:
      *text = IntText(v.lVal);
      return Shape::kNumber;
    case VT_I8:
      *text = IntText(v.llVal);
      return Shape::kNumber;
    case VT_UI1:
      *text = UintText(v.bVal);
      return Shape::kNumber;
    case VT_UI2:
      *text = UintText(v.uiVal);
      return Shape::kNumber;
    case VT_UI4:
    case VT_UINT:
      *text = UintText(v.ulVal);
      return Shape::kNumber;
    case VT_UI8:
      *text = UintText(v.ullVal);
      return Shape::kNumber;
    case VT_R4:
    case VT_R8:
    case VT_CY: {
      const double d = v.vt == VT_R4   ? static_cast<double>(v.fltVal)
                       : v.vt == VT_R8 ? v.dblVal
                                       : static_cast<double>(v.cyVal) / 10000.0;
      if (!std::isfinite(d)) {
        text->clear();
        return Shape::kNull;
      }
      *text = NumberText(d);
      return Shape::kNumber;
    }
    case VT_DATE:
      *text = IsoDateTime(v.date);
      return Shape::kText;
    case VT_BOOL:
      *text = v.boolVal ? "true" : "false";
      return Shape::kBool;
    case VT_BSTR: {
      const uint32_t len = v.bstrVal ? SysStringLen(v.bstrVal) : 0;
      if (IsPacketField(name)) {
        *text = HexBytes(WideToBytes(v.bstrVal, len));
      } else {
        *text = v.bstrVal ? WideToUtf8(WStringView(v.bstrVal, len)) : std::string();
      }
      return Shape::kText;
    }
    default:
      *text = "(variant type " + std::to_string(v.vt) + ")";
      return Shape::kText;
  }
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof(buf), "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += '"';
  return out;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out.push_back(c);
  }
  out += '"';
  return out;
}

}  // namespace

std::string IsoDateTime(double days) {
  const int64_t ms = DateTimeToMs(days);
  const int64_t per_day = kSecondsPerDay * 1000;
  int64_t day = ms / per_day;
  int64_t rest = ms % per_day;
  if (rest < 0) {
    rest += per_day;
    --day;
  }
  int y = 0;
  int mo = 0;
  int d = 0;
  DecodeDate(day, &y, &mo, &d);
  const int h = static_cast<int>(rest / 3600000);
  const int mi = static_cast<int>(rest / 60000 % 60);
  const int s = static_cast<int>(rest / 1000 % 60);
  const int frac = static_cast<int>(rest % 1000);
  char buf[48];
  if (frac != 0) {
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, mi, s, frac);
  } else {
    std::snprintf(buf, sizeof(buf), "%04d-%02d-%02dT%02d:%02d:%02d", y, mo, d, h, mi, s);
  }
  return buf;
}

int ZoneOffsetMinutes(int64_t utc_seconds) {
  // The difference of the local and the UTC calendar reading of one instant.
  static std::mutex mutex;  // localtime and gmtime share their result
  const std::time_t t = static_cast<std::time_t>(utc_seconds);
  std::tm local{};
  std::tm utc{};
  {
    std::lock_guard<std::mutex> lock(mutex);
    const std::tm* l = std::localtime(&t);
    const std::tm* u = std::gmtime(&t);
    if (!l || !u) return 0;
    local = *l;
    utc = *u;
  }
  const auto minutes = [](const std::tm& tm) {
    int64_t days = 0;
    if (!TryEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, &days)) return int64_t{0};
    return days * 1440 + tm.tm_hour * 60 + tm.tm_min;
  };
  return static_cast<int>(minutes(local) - minutes(utc));
}

std::string ZoneText(int offset_minutes) {
  const int a = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  char buf[16];
  std::snprintf(buf, sizeof(buf), "%c%02d:%02d", offset_minutes < 0 ? '-' : '+', a / 60, a % 60);
  return buf;
}

std::string IsoNowWithZone() {
  const auto now = std::chrono::system_clock::now();
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const int64_t seconds = ms / 1000;
  const int offset = ZoneOffsetMinutes(seconds);
  // Unix day 0 is day 25569 of the OLE calendar.
  const double local_days =
      25569.0 + static_cast<double>(ms + int64_t{offset} * 60000) / (86400.0 * 1000.0);
  std::string text = IsoDateTime(local_days);
  if (text.size() == 19) text += ".000";
  return text + ZoneText(offset);
}

std::string NumberText(double value) {
  char buf[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof(buf), "%.*g", precision, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  // The C locale of a tool writes "."; a comma would break both formats.
  for (char* p = buf; *p; ++p)
    if (*p == ',') *p = '.';
  return buf;
}

std::string HexBytes(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

std::string RecordWriter::JsonLine(const Record& record) {
  std::string line = "{";
  std::string text;
  for (const Field& f : record) {
    if (line.size() > 1) line += ',';
    line += JsonString(f.name);
    line += ':';
    switch (Render(f.name, f.value.get(), &text)) {
      case Shape::kNull:
        line += "null";
        break;
      case Shape::kNumber:
      case Shape::kBool:
        line += text;
        break;
      case Shape::kText:
        line += JsonString(text);
        break;
    }
  }
  line += '}';
  return line;
}

std::string FieldText(const Field& field) {
  std::string text;
  Render(field.name, field.value.get(), &text);
  return text;
}

const Field* FindField(const Record& record, const char* name) {
  for (const Field& f : record)
    if (f.name == name) return &f;
  return nullptr;
}

std::string FieldTextOf(const Record& record, const char* name) {
  const Field* f = FindField(record, name);
  return f ? FieldText(*f) : std::string();
}

bool IsRecordField(const std::string& name) {
  static const char* const kOwn[] = {
      "FULL_DATA_PACKET", "DATA_PACKET",      "DATE_TIME_STAMP",
      "DATA_SOURCE_ID",   "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME",
      "CLIENTID",         "DEVICE_ID",        "DATA_TYPE_ID",
      "DATA_TYPE_ID_STR", "DATA_TYPE_NAME",   "QUALITY",
      "REASON",           "RECORD_TIME"};
  for (const char* own : kOwn)
    if (name == own) return true;
  return false;
}

std::vector<std::string> CsvColumns(const std::string& items_text,
                                    const std::vector<ConfiguredFunction>& functions) {
  std::vector<std::string> function_columns;
  for (bool is1997 : {false, true})
    for (const TFuncTypeColumn& c : RegisterFuncTypeColumns(is1997))
      function_columns.push_back(c.Name);
  const auto has = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  std::vector<std::string> columns;
  size_t start = 0;
  while (start < items_text.size()) {
    size_t end = items_text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = items_text.size();
    const std::string line = items_text.substr(start, end - start);
    start = end + 1;
    const size_t bar = line.find('|');
    if (bar == std::string::npos) continue;
    const std::string name = line.substr(bar + 1, line.find('|', bar + 1) - bar - 1);
    if (!name.empty() && !has(columns, name) && !has(function_columns, name))
      columns.push_back(name);
  }
  if (columns.empty()) return columns;
  // The plug-in registers the variant's table only, and names the value of
  // a single-value function after the rate asked.
  for (const ConfiguredFunction& f : functions) {
    const bool is1997 = (f.code & kFuncCode1997) != 0;
    const TRequestFuncType* row = FindFuncType(f.code & ~kFuncCode1997, is1997);
    if (!row) continue;
    std::vector<std::string> names;
    if (row->ValueCount > 1 || IsLoadProfileRow(row)) {
      for (const TFuncTypeColumn& c : RegisterFuncTypeColumns(*row))
        names.push_back(c.Name);
    } else {
      names.push_back(std::string(row->FieldName) + (f.rate ? std::to_string(f.rate) : ""));
    }
    for (const std::string& name : names)
      if (!has(columns, name)) columns.push_back(name);
  }
  return columns;
}

std::string RecordWriter::CsvRow(const Record& record, const std::vector<std::string>& columns) {
  std::vector<std::string> cells(columns.size());
  std::string other;
  std::string text;
  for (const Field& f : record) {
    Render(f.name, f.value.get(), &text);
    const auto at = std::find(columns.begin(), columns.end(), f.name);
    if (at != columns.end()) {
      cells[static_cast<size_t>(at - columns.begin())] = text;
    } else {
      if (!other.empty()) other += ';';
      other += f.name + "=" + text;
    }
  }
  std::string line;
  for (const std::string& c : cells) {
    line += CsvField(c);
    line += ',';
  }
  return line + CsvField(other);
}

std::string RecordWriter::TextLine(const Record& record) {
  static const char* const kHeader[] = {
      "FULL_DATA_PACKET", "DATA_PACKET",           "DATE_TIME_STAMP", "DATA_SOURCE_ID",
      "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME", "CLIENTID",        "DEVICE_ID",
      "DATA_TYPE_ID",     "DATA_TYPE_ID_STR"};
  std::string line;
  std::string text;
  if (const Field* t = FindField(record, "DATE_TIME_STAMP"); t && t->value.get().vt == VT_DATE) {
    const std::string iso = IsoDateTime(t->value.get().date);
    line = iso.substr(11, 8);
  }
  for (const char* name : {"DATA_SOURCE_NAME", "DEVICE_ID", "DATA_TYPE_ID_STR"}) {
    if (const Field* f = FindField(record, name)) {
      Render(f->name, f->value.get(), &text);
      if (!line.empty()) line += ' ';
      line += text;
    }
  }
  for (const Field& f : record) {
    bool header = false;
    for (const char* h : kHeader)
      header = header || f.name == h;
    if (header) continue;
    Render(f.name, f.value.get(), &text);
    if (!line.empty()) line += ' ';
    line += f.name + "=" + text;
  }
  return line;
}

void RecordWriter::Write(const Record& record) {
  if (record.empty()) return;
  if (format_ == OutputFormat::kText) {
    std::fprintf(out_, "%s\n", TextLine(record).c_str());
  } else if (format_ == OutputFormat::kJson) {
    const std::string line = JsonLine(record);
    std::fprintf(out_, "%s\n", line.c_str());
  } else {
    // One header per run, so that a file reads as one table.
    if (!header_written_) {
      if (columns_.empty())
        for (const Field& f : record)
          columns_.push_back(f.name);
      std::string header;
      for (const std::string& c : columns_)
        header += CsvField(c) + ",";
      std::fprintf(out_, "%s%s\n", header.c_str(), kOtherFieldsColumn);
      header_written_ = true;
    }
    std::fprintf(out_, "%s\n", CsvRow(record, columns_).c_str());
  }
  std::fflush(out_);
  ++written_;
}

}  // namespace host
