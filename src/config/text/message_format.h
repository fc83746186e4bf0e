#pragma once
// printf-style message formats whose text may come from a language file.
// The formatter checks every conversion against its argument, so a format
// never reads an argument of the wrong type or one that is not there.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

class TFormatArg {
 public:
  enum class Kind { kInt, kFloat, kText };
  TFormatArg(int v) : kind_(Kind::kInt), int_(v) {}
  TFormatArg(unsigned v) : kind_(Kind::kInt), int_(v) {}
  TFormatArg(long v) : kind_(Kind::kInt), int_(v) {}
  TFormatArg(long long v) : kind_(Kind::kInt), int_(v) {}
  TFormatArg(unsigned long v) : kind_(Kind::kInt), int_(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long long v) : kind_(Kind::kInt), int_(static_cast<int64_t>(v)) {}
  TFormatArg(double v) : kind_(Kind::kFloat), float_(v) {}
  TFormatArg(const char* v) : kind_(Kind::kText), text_(v ? v : "") {}
  TFormatArg(std::string_view v) : kind_(Kind::kText), text_(v) {}
  TFormatArg(const std::string& v) : kind_(Kind::kText), text_(v) {}

  Kind kind() const { return kind_; }
  int64_t AsInt() const { return int_; }
  double AsFloat() const { return float_; }
  std::string_view AsText() const { return text_; }

 private:
  Kind kind_;
  int64_t int_ = 0;
  double float_ = 0;
  std::string_view text_;
};

// The classes of a format's conversions in order: "i" integer (d i u o x X c),
// "f" float (e E f F g G a A), "s" text, "?" anything else ("%n", "%p", "%*d",
// an unknown letter, a "%" at the end). "%%" is not a conversion.
std::string FormatConversions(std::string_view format);
// Whether a translation may stand in for a source format.
inline bool SameConversions(std::string_view source, std::string_view translation) {
  return FormatConversions(source) == FormatConversions(translation);
}

// Formats like snprintf. A conversion that has no argument, or one of
// another class (an integer may fill a float conversion), is written as it
// stands and still uses up its argument; widths and precisions above 512 are cut to 512.
std::string FormatMessage(std::string_view format, std::initializer_list<TFormatArg> args);
