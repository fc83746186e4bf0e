#pragma once
// The form script as the host's script engine takes it: the syntax tree of a
// small procedural script as one line of XML, every element with the source
// position ("line:column") of its token, expressions also with their end
// position. Standard library only: the resource generator uses it.
#include <string>
#include <string_view>

// Raises std::runtime_error with the position of a syntax error.
std::string FormScriptToXml(std::string_view source);
