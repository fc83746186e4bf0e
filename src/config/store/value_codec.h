#pragma once
// The text forms of stored settings values.
#include <string>
#include <string_view>

// A string property as stored: UTF-8, printable ASCII kept, "%" doubled,
// blanks that a reader could drop or merge (leading ones, all but the last of
// a run, a final one) as "+", every other byte as "%XX".
std::string EncodeSettingText(std::string_view ansi);
// The reverse: "%%", "%XX" and "+" undone, then UTF-8 to ANSI when the stored
// text was plain ASCII and the bytes are valid UTF-8.
std::string DecodeSettingText(std::string_view stored);

// Floats in INI files: "." and the shortest text that reads back exactly.
std::string FormatSettingFloat(double value);
// Accepts "." or "," as the decimal separator and blanks around; false when
// the text is not a number.
bool ParseSettingFloat(std::string_view text, double* value);
