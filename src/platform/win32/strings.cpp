#include <windows.h>

#include "platform/detail.h"
#include "platform/strings.h"

namespace platform {
namespace {

WString MultiToWide(UINT cp, std::string_view text, DWORD flags, bool* ok) {
  if (ok) *ok = true;
  if (text.empty()) return WString();
  const int n = MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) {
    if (ok) *ok = false;
    return WString();
  }
  WString out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToMulti(UINT cp, WStringView text, bool* ok) {
  if (ok) *ok = true;
  if (text.empty()) return std::string();
  BOOL used_default = FALSE;
  const BOOL* flag = cp == CP_UTF8 ? nullptr : &used_default;
  const int n = WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, const_cast<BOOL*>(flag));
  if (n <= 0) {
    if (ok) *ok = false;
    return std::string();
  }
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      const_cast<BOOL*>(flag));
  if (ok && used_default) *ok = false;
  return out;
}

}  // namespace

WString AnsiToWide(std::string_view text) { return MultiToWide(CP_ACP, text, 0, nullptr); }
std::string WideToAnsi(WStringView text) { return WideToMulti(CP_ACP, text, nullptr); }

std::string AnsiToUtf8(std::string_view text) { return WideToUtf8(AnsiToWide(text)); }

std::string Utf8ToAnsi(std::string_view text, bool* ok) {
  bool valid = false;
  const WString w = Utf8ToWide(text, &valid);
  if (!valid) {
    if (ok) *ok = false;
    return std::string(text);
  }
  bool fits = false;
  std::string out = WideToMulti(CP_ACP, w, &fits);
  if (ok) *ok = fits;
  return fits ? out : std::string(text);
}

bool CodePageToAnsi(uint32_t code_page, std::string_view text, std::string* out) {
  bool ok = false;
  const WString w = MultiToWide(code_page, text, 0, &ok);
  if (!ok && !text.empty()) return false;
  *out = WideToAnsi(w);
  return true;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharLowerBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

std::string AnsiUpperCase(std::string_view text) {
  std::string out(text);
  if (!out.empty()) CharUpperBuffA(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace platform

namespace platform::detail {

BSTR AllocBstrFromNonAscii(std::string_view text) {
  if (text.size() >= 0x3FFFFFFF) return nullptr;
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return SysAllocStringLen(nullptr, 0);
  BSTR out = SysAllocStringLen(nullptr, static_cast<uint32_t>(n));
  if (out) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
  return out;
}

}  // namespace platform::detail
