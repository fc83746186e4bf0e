#pragma once
// An owning VARIANT: values inside the library are kept in the same form the
// host exchanges them in, and this wrapper frees what they own (BSTRs,
// interface references) and deep-copies them.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/strings.h"
#include "platform/variant.h"

class OleVariant {
 public:
  OleVariant() noexcept { platform::VariantInit(&v_); }
  ~OleVariant() {
    if (!Plain(v_.vt)) platform::VariantClear(&v_);
  }

  // Deep copy of a raw variant. The host's string types (0x100: pointer to a
  // byte string, 0x102: pointer to a UTF-16 string) become BSTRs, so a value
  // held here never points into memory it does not own.
  explicit OleVariant(const platform::VARIANT& raw);
  OleVariant(const OleVariant& other);
  OleVariant(OleVariant&& other) noexcept;
  OleVariant& operator=(const OleVariant& other);
  OleVariant& operator=(OleVariant&& other) noexcept;

  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char16_t> && !std::is_same_v<T, wchar_t>) OleVariant(T value)
  noexcept {  // NOLINT: implicit on purpose, values read naturally
    platform::VariantInit(&v_);
    if constexpr (sizeof(T) == 8) {
      v_.vt = std::is_signed_v<T> ? platform::VT_I8 : platform::VT_UI8;
      v_.llVal = static_cast<int64_t>(value);
    } else if constexpr (std::is_unsigned_v<T> && sizeof(T) == 4) {
      v_.vt = platform::VT_UI4;
      v_.ulVal = static_cast<uint32_t>(value);
    } else {
      v_.vt = platform::VT_I4;
      v_.lVal = static_cast<int32_t>(value);
    }
  }
  OleVariant(bool value) noexcept;
  OleVariant(double value) noexcept;
  // Byte strings are in the ANSI code page.
  OleVariant(std::string_view text);
  OleVariant(const std::string& text) : OleVariant(std::string_view(text)) {}
  OleVariant(const char* text) : OleVariant(std::string_view(text ? text : "")) {}
  // Other pointers would silently turn into booleans.
  OleVariant(const void*) = delete;

  static OleVariant Null() noexcept;
  static OleVariant FromDate(double date_time) noexcept;
  static OleVariant FromWide(platform::WStringView text);
  // Takes over what the raw variant owns and leaves it empty.
  static OleVariant Attach(platform::VARIANT* raw) noexcept;

  const platform::VARIANT& Raw() const noexcept { return v_; }
  platform::VARTYPE Type() const noexcept { return v_.vt; }
  // Hands the content to the caller, who must clear it; this becomes empty.
  platform::VARIANT Detach() noexcept;
  // Deep copy into a caller's variant, which is cleared first.
  void CopyTo(platform::VARIANT* out) const;
  void Clear() noexcept;

  bool IsEmpty() const noexcept { return v_.vt == platform::VT_EMPTY; }
  bool IsNull() const noexcept { return v_.vt == platform::VT_NULL; }
  bool IsEmptyOrNull() const noexcept { return IsEmpty() || IsNull(); }
  bool IsString() const noexcept { return v_.vt == platform::VT_BSTR; }
  // Lists refilled record after record reuse the strings their items held:
  // - WriteAsciiText: when this holds a string as long as the ASCII text,
  //   the text is written into it and the answer is true; otherwise (other
  //   text, another length, no string) nothing changes and it is false.
  // - CopyFrom: as operator=, but a string as long as `other`'s takes its
  //   code units in place.
  // The string is this variant's own (values are deep copies), so nothing
  // else can see it change.
  bool WriteAsciiText(std::string_view text) noexcept;
  void CopyFrom(const OleVariant& other);

  // Conversions. The To forms raise EConvertError; the Try forms answer false.
  // Text: integers in decimal, doubles with "." and round-trip precision,
  // booleans "True"/"False", dates as "YYYY-MM-DD[ hh:mm:ss[.zzz]]"; empty
  // and null give "".
  std::string ToString() const;
  bool TryToString(std::string* out) const;
  // Integers: every integer type, VT_BOOL (1/0), whole doubles in range and
  // text by the library's text-to-integer rule.
  int32_t ToInt() const;
  bool TryToInt(int32_t* out) const;
  int64_t ToInt64() const;
  bool TryToInt64(int64_t* out) const;
  // Booleans: numbers non-zero; text "True"/"False" (any case) or an integer.
  bool ToBool() const;
  bool TryToBool(bool* out) const;
  // Doubles: numbers, dates, booleans (1/0) and text with "." as the decimal
  // point whatever the locale.
  double ToDouble() const;
  bool TryToDouble(double* out) const;

 private:
  // Scalars and references own nothing: no call into the variant library.
  static bool Plain(platform::VARTYPE vt) noexcept {
    if (vt & platform::VT_BYREF) return true;
    switch (vt) {
      case platform::VT_EMPTY:
      case platform::VT_NULL:
      case platform::VT_I2:
      case platform::VT_I4:
      case platform::VT_R4:
      case platform::VT_R8:
      case platform::VT_CY:
      case platform::VT_DATE:
      case platform::VT_ERROR:
      case platform::VT_BOOL:
      case platform::VT_I1:
      case platform::VT_UI1:
      case platform::VT_UI2:
      case platform::VT_UI4:
      case platform::VT_I8:
      case platform::VT_UI8:
      case platform::VT_INT:
      case platform::VT_UINT:
        return true;
      default:
        return false;
    }
  }

  [[noreturn]] void ThrowCannotConvert(const char* target) const;

  platform::VARIANT v_;
};

// How an interface slot reads the host's string variants: a payload of type
// 0x100 is a byte string for the narrow slots and a UTF-16 string for the
// wide ones; 0x102 is always UTF-16.
enum class HostStringForm { Narrow, Wide };

// A value coming in through an interface, by the rule above; other variants
// are copied unchanged. A null pointer reads as empty.
OleVariant FromHostValue(const platform::VARIANT* value, HostStringForm form);
// The same for an out-variant the host filled for us: takes what it owns and
// leaves it empty.
OleVariant TakeHostValue(platform::VARIANT* value, HostStringForm form);

// Name of a variant type for messages ("Integer", "String", ...).
std::string VarTypeName(platform::VARTYPE vt);
// The round-trip text of a double with "." as the decimal point.
std::string DoubleToText(double value);
// A day-count date-time as "YYYY-MM-DD[ hh:mm:ss[.zzz]]".
std::string DateTimeToText(double date_time);
