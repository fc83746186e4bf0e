#include "paramlist/ole_variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/errors.h"
#include "base/str_to_int.h"
#include "base/trim.h"
#include "platform/datetime.h"

using platform::VARIANT;

namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;

void CheckAlloc(const void* block, bool wanted) {
  if (wanted && !block) throw EOutOfResources("Out of memory");
}

// The integer a variant holds, for the integer types and VT_BOOL.
bool IntegerOf(const VARIANT& v, int64_t* out) {
  switch (v.vt) {
    case platform::VT_I1:
      *out = v.cVal;
      return true;
    case platform::VT_I2:
      *out = v.iVal;
      return true;
    case platform::VT_I4:
    case platform::VT_INT:
      *out = v.lVal;
      return true;
    case platform::VT_I8:
      *out = v.llVal;
      return true;
    case platform::VT_UI1:
      *out = v.bVal;
      return true;
    case platform::VT_UI2:
      *out = v.uiVal;
      return true;
    case platform::VT_UI4:
    case platform::VT_UINT:
      *out = v.ulVal;
      return true;
    case platform::VT_UI8:
      if (v.ullVal > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
      *out = static_cast<int64_t>(v.ullVal);
      return true;
    case platform::VT_BOOL:
      *out = v.boolVal != 0 ? 1 : 0;
      return true;
    default:
      return false;
  }
}

bool WholeDoubleOf(const VARIANT& v, int64_t* out) {
  double d;
  if (v.vt == platform::VT_R8)
    d = v.dblVal;
  else if (v.vt == platform::VT_R4)
    d = v.fltVal;
  else
    return false;
  if (!(d >= -kTwoPow63 && d < kTwoPow63) || std::trunc(d) != d) return false;
  *out = static_cast<int64_t>(d);
  return true;
}

bool TextToDouble(std::string_view text, double* out) {
  std::string_view s = TrimControls(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  double d = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), d);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  *out = d;
  return true;
}

std::string CurrencyToText(int64_t cy) {
  const bool negative = cy < 0;
  const uint64_t magnitude = negative ? 0u - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "%s%llu", negative ? "-" : "",
                        static_cast<unsigned long long>(magnitude / 10000));
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction != 0) {
    int digits = 4;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --digits;
    }
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%0*u", digits, fraction);
  }
  return buf;
}

}  // namespace

std::string VarTypeName(platform::VARTYPE vt) {
  switch (vt) {
    case platform::VT_EMPTY:
      return "Empty";
    case platform::VT_NULL:
      return "Null";
    case platform::VT_I1:
    case platform::VT_I2:
    case platform::VT_I4:
    case platform::VT_INT:
    case platform::VT_UI1:
    case platform::VT_UI2:
    case platform::VT_UI4:
    case platform::VT_UINT:
      return "Integer";
    case platform::VT_I8:
    case platform::VT_UI8:
      return "Int64";
    case platform::VT_R4:
    case platform::VT_R8:
      return "Double";
    case platform::VT_CY:
      return "Currency";
    case platform::VT_DATE:
      return "Date";
    case platform::VT_BSTR:
    case platform::VT_HOST_ANSI_STRING:
    case platform::VT_HOST_UNICODE_STRING:
      return "String";
    case platform::VT_BOOL:
      return "Boolean";
    case platform::VT_UNKNOWN:
    case platform::VT_DISPATCH:
      return "Interface";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "$%04X", static_cast<unsigned>(vt));
      return buf;
    }
  }
}

std::string DoubleToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string DateTimeToText(double date_time) {
  if (!std::isfinite(date_time)) return DoubleToText(date_time);
  const int64_t ms = platform::DateTimeToMs(date_time);
  constexpr int64_t kMsPerDay = platform::kSecondsPerDay * 1000;
  int64_t days = ms / kMsPerDay;
  int64_t rest = ms % kMsPerDay;
  if (rest < 0) {
    rest += kMsPerDay;
    --days;
  }
  int year = 0, month = 0, day = 0;
  platform::DecodeDate(days, &year, &month, &day);
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  if (rest != 0) {
    const auto secs = static_cast<int>(rest / 1000);
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " %02d:%02d:%02d", secs / 3600,
                       secs / 60 % 60, secs % 60);
    if (rest % 1000 != 0)
      std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03d",
                    static_cast<int>(rest % 1000));
  }
  return buf;
}

OleVariant FromHostValue(const VARIANT* value, HostStringForm form) {
  if (!value) return OleVariant();
  if (value->vt == platform::VT_HOST_ANSI_STRING && value->byref && form == HostStringForm::Wide)
    return OleVariant::FromWide(static_cast<const platform::WChar*>(value->byref));
  return OleVariant(*value);
}

OleVariant TakeHostValue(VARIANT* value, HostStringForm form) {
  if (!value) return OleVariant();
  if (value->vt == platform::VT_HOST_ANSI_STRING || value->vt == platform::VT_HOST_UNICODE_STRING) {
    // The text behind the pointer belongs to the host; only read it.
    OleVariant v = FromHostValue(value, form);
    platform::VariantInit(value);
    return v;
  }
  return OleVariant::Attach(value);
}

OleVariant::OleVariant(const VARIANT& raw) {
  platform::VariantInit(&v_);
  if (raw.vt == platform::VT_HOST_ANSI_STRING) {
    const auto* text = static_cast<const char*>(raw.byref);
    v_.bstrVal = platform::AllocBstrFromAnsi(text ? text : "");
    CheckAlloc(v_.bstrVal, true);
    v_.vt = platform::VT_BSTR;
  } else if (raw.vt == platform::VT_HOST_UNICODE_STRING) {
    if (raw.byref) {
      v_.bstrVal = platform::SysAllocString(static_cast<const platform::WChar*>(raw.byref));
      CheckAlloc(v_.bstrVal, true);
    }
    v_.vt = platform::VT_BSTR;
  } else if (platform::VariantCopy(&v_, &raw) != 0) {
    throw EConvertError("Could not copy variant of type (" + VarTypeName(raw.vt) + ")");
  }
}

OleVariant::OleVariant(const OleVariant& other) {
  platform::VariantInit(&v_);
  if (platform::VariantCopy(&v_, &other.v_) != 0)
    throw EConvertError("Could not copy variant of type (" + VarTypeName(other.v_.vt) + ")");
}

OleVariant::OleVariant(OleVariant&& other) noexcept {
  std::memcpy(static_cast<void*>(&v_), &other.v_, sizeof v_);
  platform::VariantInit(&other.v_);
}

OleVariant& OleVariant::operator=(const OleVariant& other) {
  if (this != &other) {
    OleVariant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

OleVariant& OleVariant::operator=(OleVariant&& other) noexcept {
  if (this != &other) {
    if (!Plain(v_.vt)) platform::VariantClear(&v_);
    std::memcpy(static_cast<void*>(&v_), &other.v_, sizeof v_);
    platform::VariantInit(&other.v_);
  }
  return *this;
}

OleVariant::OleVariant(bool value) noexcept {
  platform::VariantInit(&v_);
  v_.vt = platform::VT_BOOL;
  v_.boolVal = value ? platform::VARIANT_TRUE_ : platform::VARIANT_FALSE_;
}

OleVariant::OleVariant(double value) noexcept {
  platform::VariantInit(&v_);
  v_.vt = platform::VT_R8;
  v_.dblVal = value;
}

OleVariant::OleVariant(std::string_view text) {
  platform::VariantInit(&v_);
  v_.bstrVal = platform::AllocBstrFromAnsi(text);
  CheckAlloc(v_.bstrVal, true);
  v_.vt = platform::VT_BSTR;
}

bool OleVariant::WriteAsciiText(std::string_view text) noexcept {
  if (v_.vt != platform::VT_BSTR || !v_.bstrVal) return false;
  if (platform::SysStringLen(v_.bstrVal) != text.size()) return false;
  for (const char ch : text)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  for (size_t i = 0; i < text.size(); ++i)
    v_.bstrVal[i] = static_cast<platform::WChar>(static_cast<unsigned char>(text[i]));
  return true;
}

void OleVariant::CopyFrom(const OleVariant& other) {
  if (this == &other) return;
  if (v_.vt == platform::VT_BSTR && other.v_.vt == platform::VT_BSTR && v_.bstrVal &&
      other.v_.bstrVal) {
    const uint32_t n = platform::SysStringLen(v_.bstrVal);
    if (n == platform::SysStringLen(other.v_.bstrVal)) {
      std::memcpy(v_.bstrVal, other.v_.bstrVal, n * sizeof(platform::WChar));
      return;
    }
  }
  *this = other;
}

OleVariant OleVariant::Null() noexcept {
  OleVariant v;
  v.v_.vt = platform::VT_NULL;
  return v;
}

OleVariant OleVariant::FromDate(double date_time) noexcept {
  OleVariant v;
  v.v_.vt = platform::VT_DATE;
  v.v_.date = date_time;
  return v;
}

OleVariant OleVariant::FromWide(platform::WStringView text) {
  OleVariant v;
  v.v_.bstrVal = platform::SysAllocStringLen(text.data(), static_cast<uint32_t>(text.size()));
  CheckAlloc(v.v_.bstrVal, true);
  v.v_.vt = platform::VT_BSTR;
  return v;
}

OleVariant OleVariant::Attach(VARIANT* raw) noexcept {
  OleVariant v;
  if (raw) {
    std::memcpy(static_cast<void*>(&v.v_), raw, sizeof(VARIANT));
    platform::VariantInit(raw);
  }
  return v;
}

VARIANT OleVariant::Detach() noexcept {
  VARIANT out = v_;
  platform::VariantInit(&v_);
  return out;
}

void OleVariant::CopyTo(VARIANT* out) const {
  if (platform::VariantCopy(out, &v_) != 0)
    throw EConvertError("Could not copy variant of type (" + VarTypeName(v_.vt) + ")");
}

void OleVariant::Clear() noexcept {
  if (Plain(v_.vt))
    platform::VariantInit(&v_);
  else
    platform::VariantClear(&v_);
}

void OleVariant::ThrowCannotConvert(const char* target) const {
  if (v_.vt == platform::VT_BSTR) {
    const std::string text = platform::BstrToAnsi(v_.bstrVal);
    if (std::strcmp(target, "Integer") == 0 || std::strcmp(target, "Int64") == 0)
      throw EConvertError("'" + text + "' is not a valid integer value");
    if (std::strcmp(target, "Double") == 0)
      throw EConvertError("'" + text + "' is not a valid floating point value");
    if (std::strcmp(target, "Boolean") == 0)
      throw EConvertError("'" + text + "' is not a valid boolean value");
  }
  throw EConvertError("Could not convert variant of type (" + VarTypeName(v_.vt) + ") into type (" +
                      target + ")");
}

bool OleVariant::TryToString(std::string* out) const {
  int64_t i = 0;
  switch (v_.vt) {
    case platform::VT_EMPTY:
    case platform::VT_NULL:
      out->clear();
      return true;
    case platform::VT_BSTR:
      *out = platform::BstrToAnsi(v_.bstrVal);
      return true;
    case platform::VT_BOOL:
      *out = v_.boolVal != 0 ? "True" : "False";
      return true;
    case platform::VT_R8:
      *out = DoubleToText(v_.dblVal);
      return true;
    case platform::VT_R4: {
      if (!std::isfinite(v_.fltVal)) {
        *out = DoubleToText(v_.fltVal);
        return true;
      }
      char buf[32];
      const auto r = std::to_chars(buf, buf + sizeof buf, v_.fltVal);
      out->assign(buf, r.ptr);
      return true;
    }
    case platform::VT_DATE:
      *out = DateTimeToText(v_.date);
      return true;
    case platform::VT_CY:
      *out = CurrencyToText(v_.cyVal);
      return true;
    case platform::VT_UI8:
      *out = std::to_string(v_.ullVal);
      return true;
    default:
      if (!IntegerOf(v_, &i)) return false;
      *out = std::to_string(i);
      return true;
  }
}

std::string OleVariant::ToString() const {
  std::string s;
  if (!TryToString(&s)) ThrowCannotConvert("String");
  return s;
}

bool OleVariant::TryToInt64(int64_t* out) const {
  if (IntegerOf(v_, out) || WholeDoubleOf(v_, out)) return true;
  if (v_.vt == platform::VT_BSTR) return TryStrToInt64(platform::BstrToAnsi(v_.bstrVal), out);
  return false;
}

int64_t OleVariant::ToInt64() const {
  int64_t v = 0;
  if (!TryToInt64(&v)) ThrowCannotConvert("Int64");
  return v;
}

bool OleVariant::TryToInt(int32_t* out) const {
  // Text keeps the 32-bit rule, under which eight hex digits wrap.
  if (v_.vt == platform::VT_BSTR) return TryStrToInt(platform::BstrToAnsi(v_.bstrVal), out);
  int64_t v = 0;
  if (!TryToInt64(&v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    return false;
  *out = static_cast<int32_t>(v);
  return true;
}

int32_t OleVariant::ToInt() const {
  int32_t v = 0;
  if (!TryToInt(&v)) ThrowCannotConvert("Integer");
  return v;
}

bool OleVariant::TryToBool(bool* out) const {
  int64_t i = 0;
  switch (v_.vt) {
    case platform::VT_R8:
      *out = v_.dblVal != 0;
      return true;
    case platform::VT_R4:
      *out = v_.fltVal != 0;
      return true;
    case platform::VT_UI8:
      *out = v_.ullVal != 0;
      return true;
    case platform::VT_BSTR: {
      const std::string text = platform::BstrToAnsi(v_.bstrVal);
      if (platform::SameTextAscii(text, "True")) {
        *out = true;
        return true;
      }
      if (platform::SameTextAscii(text, "False")) {
        *out = false;
        return true;
      }
      if (!TryStrToInt64(text, &i)) return false;
      *out = i != 0;
      return true;
    }
    default:
      if (!IntegerOf(v_, &i)) return false;
      *out = i != 0;
      return true;
  }
}

bool OleVariant::ToBool() const {
  bool v = false;
  if (!TryToBool(&v)) ThrowCannotConvert("Boolean");
  return v;
}

bool OleVariant::TryToDouble(double* out) const {
  int64_t i = 0;
  switch (v_.vt) {
    case platform::VT_R8:
      *out = v_.dblVal;
      return true;
    case platform::VT_R4:
      *out = v_.fltVal;
      return true;
    case platform::VT_DATE:
      *out = v_.date;
      return true;
    case platform::VT_CY:
      *out = static_cast<double>(v_.cyVal) / 10000.0;
      return true;
    case platform::VT_UI8:
      *out = static_cast<double>(v_.ullVal);
      return true;
    case platform::VT_BSTR:
      return TextToDouble(platform::BstrToAnsi(v_.bstrVal), out);
    default:
      if (!IntegerOf(v_, &i)) return false;
      *out = static_cast<double>(i);
      return true;
  }
}

double OleVariant::ToDouble() const {
  double v = 0;
  if (!TryToDouble(&v)) ThrowCannotConvert("Double");
  return v;
}
