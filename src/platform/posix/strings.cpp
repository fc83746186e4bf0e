#include "platform/strings.h"

#include "platform/detail.h"

namespace platform {
namespace {

uint32_t LowerCodePoint(uint32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

uint32_t UpperCodePoint(uint32_t c) {
  if (c >= 'a' && c <= 'z') return c - 32;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

bool IsAscii(std::string_view text) {
  for (char ch : text)
    if (static_cast<unsigned char>(ch) >= 0x80) return false;
  return true;
}

template <uint32_t (*Map)(uint32_t)>
std::string MapCase(std::string_view text) {
  // Names and keys are nearly always ASCII: no round trip through UTF-16.
  if (IsAscii(text) || !IsValidUtf8(text)) {
    // Bytes that are not UTF-8: only ASCII letters change.
    std::string out(text);
    for (char& ch : out) {
      const auto c = static_cast<unsigned char>(ch);
      if (c < 0x80) ch = static_cast<char>(Map(c));
    }
    return out;
  }
  WString w = Utf8ToWide(text);
  for (WChar& ch : w) ch = static_cast<WChar>(Map(static_cast<uint16_t>(ch)));
  return WideToUtf8(w);
}

}  // namespace

WString AnsiToWide(std::string_view text) {
  bool ok = false;
  WString w = Utf8ToWide(text, &ok);
  if (ok) return w;
  w.clear();
  w.reserve(text.size());
  for (char c : text) w.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
  return w;
}

std::string WideToAnsi(WStringView text) { return WideToUtf8(text); }

std::string AnsiToUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(std::string_view text, bool* ok) {
  if (ok) *ok = IsValidUtf8(text);
  return std::string(text);
}

bool CodePageToAnsi(uint32_t code_page, std::string_view text, std::string* out) {
  // Only the single-byte Latin code page that shares Latin-1's letters is
  // known here; other code pages need the system's tables.
  if (code_page != 1252) return false;
  WString w;
  for (char c : text) w.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
  *out = WideToUtf8(w);
  return true;
}

std::string AnsiLowerCase(std::string_view text) { return MapCase<LowerCodePoint>(text); }
std::string AnsiUpperCase(std::string_view text) { return MapCase<UpperCodePoint>(text); }

}  // namespace platform

namespace platform::detail {

BSTR AllocBstrFromNonAscii(std::string_view text) {
  if (text.size() >= 0x3FFFFFFF) return nullptr;
  if (!IsValidUtf8(text)) {  // raw bytes: one character each (Latin-1)
    BSTR out = SysAllocStringLen(nullptr, static_cast<uint32_t>(text.size()));
    if (out)
      for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<WChar>(static_cast<unsigned char>(text[i]));
    return out;
  }
  const WString w = Utf8ToWide(text);
  return SysAllocStringLen(w.data(), static_cast<uint32_t>(w.size()));
}

}  // namespace platform::detail
