#include "host_records.h"

#include <cmath>
#include <cstdlib>

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

std::string RecordWriter::CsvHeader(const Record& record) {
  std::string line;
  for (size_t i = 0; i < record.size(); ++i) {
    if (i) line += ',';
    line += CsvField(record[i].name);
  }
  return line;
}

std::string RecordWriter::CsvRow(const Record& record) {
  std::string line;
  std::string text;
  for (size_t i = 0; i < record.size(); ++i) {
    if (i) line += ',';
    Render(record[i].name, record[i].value.get(), &text);
    line += CsvField(text);
  }
  return line;
}

std::string RecordWriter::TextLine(const Record& record) {
  static const char* const kHeader[] = {
      "FULL_DATA_PACKET", "DATA_PACKET",           "DATE_TIME_STAMP", "DATA_SOURCE_ID",
      "DATA_SOURCE_NAME", "DATA_SOURCE_FULL_NAME", "CLIENTID",        "DEVICE_ID",
      "DATA_TYPE_ID",     "DATA_TYPE_ID_STR"};
  const auto find = [&record](const char* name) -> const Field* {
    for (const Field& f : record)
      if (f.name == name) return &f;
    return nullptr;
  };
  std::string line;
  std::string text;
  if (const Field* t = find("DATE_TIME_STAMP"); t && t->value.get().vt == VT_DATE) {
    const std::string iso = IsoDateTime(t->value.get().date);
    line = iso.substr(11, 8);
  }
  for (const char* name : {"DATA_SOURCE_NAME", "DEVICE_ID", "DATA_TYPE_ID_STR"}) {
    if (const Field* f = find(name)) {
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
    // A new header whenever the columns change: records of different
    // functions carry different fields.
    std::vector<std::string> names;
    names.reserve(record.size());
    for (const Field& f : record)
      names.push_back(f.name);
    if (names != columns_) {
      columns_ = std::move(names);
      std::fprintf(out_, "%s\n", CsvHeader(record).c_str());
    }
    std::fprintf(out_, "%s\n", CsvRow(record).c_str());
  }
  std::fflush(out_);
  ++written_;
}

}  // namespace host
