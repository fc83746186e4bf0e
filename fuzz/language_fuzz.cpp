// Random bytes through the language-file reader, the message formats its
// translations are used with, and the string holder's stored form. Checks
// that nothing reads outside the data, that any format (a translation is
// one) formats any arguments, and that a holder's texts round-trip.
//
// Input: a language file; its lines also serve as the holder's texts and
// its stored data.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/text/message_format.h"
#include "config/text/qon_str_holder.h"
#include "config/text/translator.h"
#include "fuzz_check.h"
#include "platform/strings.h"

namespace {

void Format(std::string_view format) {
  (void)FormatConversions(format);
  (void)FormatMessage(format, {});
  (void)FormatMessage(format, {42, -1.5e300, std::string_view("te\0xt", 5), 7ull, "z"});
  (void)FormatMessage(format, {"a", "b", 1, 2, 3.0});
}

std::vector<std::string> Lines(std::string_view bytes) {
  std::vector<std::string> out;
  size_t begin = 0;
  while (begin <= bytes.size() && out.size() < 64) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string_view::npos) end = bytes.size();
    out.emplace_back(bytes.substr(begin, end - begin));
    begin = end + 1;
  }
  return out;
}

void Holder(const std::vector<std::string>& lines) {
  TqonStrHolder stored;
  stored.InternalVer = 2;
  stored.DecodeStrData(lines);  // whatever a settings file held

  std::vector<std::string> texts;
  for (const std::string& line : lines)
    if (platform::IsValidUtf8(line)) texts.push_back(line);
  TqonStrHolder h;
  h.InternalVer = 2;
  h.KeyString = lines.empty() ? std::string() : lines[0].substr(0, 4);
  h.SetStrings(TStrings(texts));
  TqonStrHolder back;
  back.InternalVer = 2;
  back.DecodeStrData(h.EncodeStrData());
  Check(back.KeyString == h.KeyString, "key round trip");
  Check(back.Strings().Items() == h.Strings().Items(), "texts round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  TLanguageData language;
  ParseLanguageFile(bytes, "EN", "DE", &language);
  for (const auto& [source, translation] : language.Translations) {
    Format(source);
    Format(translation);
  }
  Format(bytes);
  Holder(Lines(bytes));
  return 0;
}
