#pragma once
// The two trimming rules of the library. Texts that people type into
// configurations and settings lose every control character and blank at their
// ends; lines of files whose format gives tabs and blanks a meaning of their
// own lose only those.
#include <string_view>

// Blanks and control characters (every byte up to 0x20) off both ends.
constexpr std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ')
    s.remove_suffix(1);
  return s;
}

// Blanks and tabs off both ends; other control characters stay.
constexpr std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}
