#pragma once
// Line and field splitting for the plug-in's text forms.
#include <string>
#include <string_view>
#include <vector>

// Lines separated by CR LF, LF or CR; a text ending with a line break has no
// empty last line.
std::vector<std::string> SplitLines(std::string_view text);
// Fields separated by any of the delimiter characters; empty fields are kept.
std::vector<std::string> SplitFields(std::string_view text, std::string_view delimiters);
