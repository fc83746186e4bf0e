#pragma once
// Text conversions. Byte strings are in the ANSI code page: CP_ACP on
// Windows, UTF-8 on POSIX. On POSIX a byte string that is not valid UTF-8
// converts byte for byte (Latin-1), so raw bytes never fail to convert.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace platform {

using WString = std::basic_string<WChar>;
using WStringView = std::basic_string_view<WChar>;

WString AnsiToWide(std::string_view text);
std::string WideToAnsi(WStringView text);
// Zero-terminated forms, for strings that cross the ABI edge.
WString AnsiToWide(const char* text);
std::string WideToAnsi(const WChar* text);

std::string AnsiToUtf8(std::string_view text);
// ok (when given) is false and the input is returned unchanged when the text
// is not valid UTF-8 or has no form in the ANSI code page.
std::string Utf8ToAnsi(std::string_view text, bool* ok = nullptr);
WString Utf8ToWide(std::string_view text, bool* ok = nullptr);
std::string WideToUtf8(WStringView text);
bool IsValidUtf8(std::string_view text);

// A text in the given Windows code page (1250..1258, 874, 932, 936, 949, 950,
// 1361) to the ANSI code page; false when the code page is unknown here.
bool CodePageToAnsi(uint32_t code_page, std::string_view text, std::string* out);

// Lower and upper case with the system's character tables (CharLowerBuff on
// Windows; ASCII, Latin-1, Greek and Cyrillic letters of UTF-8 text on POSIX).
std::string AnsiLowerCase(std::string_view text);
std::string AnsiUpperCase(std::string_view text);
// ASCII letters only.
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
// The value of one hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char c);

// BSTR helpers.
BSTR AllocBstrFromAnsi(std::string_view text);
std::string BstrToAnsi(BSTR text);

}  // namespace platform
