#pragma once
// The text-to-integer rule of the whole library: optional leading blanks, an
// optional sign, then decimal digits, or hexadecimal digits after "$", "x" or
// "0x" (x in either case). Decimal text is range-checked; hexadecimal text of
// up to eight (sixteen) digits wraps to the two's complement value, as the
// host's own conversion does.
#include <cstdint>
#include <string>
#include <string_view>

bool TryStrToInt(std::string_view text, int32_t* value);
bool TryStrToInt64(std::string_view text, int64_t* value);
// Raises EConvertError "'text' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t fallback);
