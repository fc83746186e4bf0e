#include "config/text/translator.h"

#include "base/str_to_int.h"
#include "base/trim.h"
#include "config/store/ini_file.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace {

constexpr size_t kHeaderLines = 19;
constexpr size_t kMaxFileSize = 16u << 20;

bool StartsWithText(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && platform::SameTextAscii(s.substr(0, prefix.size()), prefix);
}

struct Charset {
  const char* name;
  uint32_t code_page;
  int charset;
};
constexpr Charset kCharsets[] = {
    {"windows-1250", 1250, 238}, {"windows-1251", 1251, 204}, {"windows-1252", 1252, 0},
    {"windows-1253", 1253, 161}, {"windows-1254", 1254, 162}, {"windows-1255", 1255, 177},
    {"windows-1256", 1256, 178}, {"windows-1257", 1257, 186}, {"windows-1258", 1258, 163},
    {"windows-874", 874, 222},   {"shift-jis", 932, 128},     {"hangeul", 949, 129},
    {"johab", 1361, 130},        {"gb2312", 936, 134},        {"chinesebig5", 950, 136},
};

// UTF-16 files (with a byte-order mark) are read as their UTF-8 form.
std::string Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  platform::WString w;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]),
               b = static_cast<unsigned char>(bytes[i + 1]);
    w.push_back(static_cast<platform::WChar>(big_endian ? (a << 8) | b : (b << 8) | a));
  }
  return platform::WideToUtf8(w);
}

// Windows-1252 differs from Latin-1 in 0x80..0x9F: euro sign, quotes,
// dashes. Unassigned bytes keep their Latin-1 meaning, as on Windows.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view text) {
  platform::WString w;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    w.push_back(static_cast<platform::WChar>(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b));
  }
  return platform::WideToUtf8(w);
}

std::vector<std::string> Candidates(const std::string& files) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t bar = files.find('|', start);
    const std::string_view part = TrimBlanks(std::string_view(files).substr(
        start, bar == std::string::npos ? std::string::npos : bar - start));
    if (!part.empty()) out.emplace_back(part);
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

std::string WithoutBom(std::string bytes, bool* utf8) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    *utf8 = true;
    return bytes.substr(3);
  }
  if (bytes.size() >= 2 &&
      (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
    *utf8 = true;
    return Utf16ToUtf8(std::string_view(bytes).substr(2), bytes[0] == '\xFE');
  }
  return bytes;
}

// Which property a tag of 10000..10047 may mask.
int MaskBit(std::string_view upper_name) {
  if (upper_name == "HINT") return 1;
  if (upper_name == "CAPTION") return 2;
  if (upper_name == "ITEMS") return 4;
  if (upper_name == "STRINGS") return 8;
  if (upper_name == "TEXT") return 16;
  if (upper_name == "PAGES") return 32;
  return 0;
}

bool IsTextKind(TTypeKind k) {
  return k == TTypeKind::tkString || k == TTypeKind::tkLString || k == TTypeKind::tkWString;
}

// A header line of the first lines of a file; false when the line is none.
// utf16: the file came with a UTF-16 byte-order mark and is read as UTF-8.
bool HeaderLine(std::string_view line, TLanguageData* data, bool utf16, bool* utf8,
                uint32_t* code_page) {
  if (StartsWithText(line, "Encoding=")) {
    const std::string_view v = TrimBlanks(line.substr(9));
    if (platform::SameTextAscii(v, "utf-8"))
      *utf8 = true;
    else if (platform::SameTextAscii(v, "utf-16") || platform::SameTextAscii(v, "unicode"))
      *utf8 = utf16;  // a UTF-16 file has already become UTF-8
    else
      return false;
    return true;
  }
  if (StartsWithText(line, "BiDiMode=")) {
    const std::string_view v = TrimBlanks(line.substr(9));
    if (platform::SameTextAscii(v, "righttoleft"))
      data->BiDiMode = 1;
    else if (platform::SameTextAscii(v, "righttoleftnoalign"))
      data->BiDiMode = 2;
    else if (platform::SameTextAscii(v, "righttoleftreadingonly"))
      data->BiDiMode = 3;
    else
      return false;
    return true;
  }
  if (StartsWithText(line, "Locale=")) {
    int64_t v = 0;
    if (!TryStrToInt64(TrimBlanks(line.substr(7)), &v) || v <= 0 || v > 0xFFFFFFFFll) return false;
    data->Locale = static_cast<uint32_t>(v);
    return true;
  }
  if (StartsWithText(line, "Charset=")) {
    const std::string_view v = TrimBlanks(line.substr(8));
    for (const auto& c : kCharsets) {
      if (platform::SameTextAscii(v, c.name)) {
        *code_page = c.code_page;
        data->Charset = c.charset;
        return true;
      }
    }
    return false;
  }
  static const char* const kSwitches[] = {"//filenew",  "//filerewrite", "//fileappend",
                                          "//saveuntr", "//saveuntrobj", "//saveunused",
                                          "//saveall"};
  for (const char* sw : kSwitches) {
    if (platform::SameTextAscii(line, sw)) {
      data->Switches.emplace_back(sw);
      return true;
    }
  }
  return false;
}

}  // namespace

void ParseLanguageFile(std::string_view raw, const std::string& source_language,
                       const std::string& target_language, TLanguageData* data) {
  bool utf8 = false;
  const bool utf16 =
      raw.size() >= 2 && (raw.substr(0, 2) == "\xFF\xFE" || raw.substr(0, 2) == "\xFE\xFF");
  const std::string bytes = WithoutBom(std::string(raw), &utf8);
  uint32_t code_page = 0;
  const std::string src_prefix = source_language + ":>", dst_prefix = target_language + ":>";
  std::string src, dst;
  bool has_src = false, has_dst = false;

  auto end_block = [&] {
    if (has_src && has_dst && !src.empty() && !dst.empty()) {
      std::string text = dst;
      bool ok = false;
      if (utf8 || code_page == 1252) {
        // 1252 by its own table: the system's may be plain Latin-1.
        text = platform::Utf8ToAnsi(utf8 ? dst : Cp1252ToUtf8(dst), &ok);
        if (!ok) text = dst;
      } else if (code_page != 0 && !platform::CodePageToAnsi(code_page, dst, &text)) {
        text = dst;
      }
      data->Translations.emplace(src, text);
      data->Translations.emplace(platform::AnsiLowerCase(src), text);
    }
    has_src = has_dst = false;
    src.clear();
    dst.clear();
  };

  size_t pos = 0, line_no = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line = std::string_view(bytes).substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    const bool header_zone = line_no++ < kHeaderLines;

    if (line.empty()) {
      end_block();
      continue;
    }
    if (header_zone && HeaderLine(line, data, utf16, &utf8, &code_page)) continue;
    if (line.size() >= 2 && line[0] == '/' && line[1] == '/') continue;
    if (!has_src && StartsWithText(line, src_prefix)) {
      src = std::string(line.substr(src_prefix.size()));
      has_src = true;
    } else if (!has_dst && StartsWithText(line, dst_prefix)) {
      dst = std::string(line.substr(dst_prefix.size()));
      has_dst = true;
    }
  }
  // A last block without an empty line after it counts as well.
  end_block();
}

TTranslator::TTranslator(TComponent* owner) : TComponent(owner) {
  for (const char* p : {"CAPTION", "HINT", "TEXT", "TITLE", "CAPTIONS"})
    ComponentProperties.Add(p);
}

void TTranslator::AddComponentProperty(std::string_view name) {
  const std::string upper = platform::AsciiUpperCase(TrimBlanks(name));
  if (!upper.empty() && ComponentProperties.IndexOf(upper) < 0) ComponentProperties.Add(upper);
}

void TTranslator::AddComponentProperties(std::string_view names) {
  size_t start = 0;
  for (;;) {
    const size_t sep = names.find_first_of(";|", start);
    AddComponentProperty(
        names.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start));
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
}

std::string TTranslator::DefaultLanguage() const {
  for (const auto& file : Candidates(LanguageFiles)) {
    std::string bytes;
    if (!platform::FileExists(file) || !platform::ReadWholeFile(file, &bytes, kMaxFileSize))
      continue;
    bool utf8 = false;
    const TIniFile ini(WithoutBom(std::move(bytes), &utf8));
    bool listed = false;
    for (const auto& key : ini.KeyNames("Languages")) {
      if (key.size() > 1 && key[0] == '$') listed = true;
    }
    if (!listed) continue;
    std::string def;
    ini.ReadString("Languages", "Default", &def);
    return def;
  }
  return std::string();
}

bool TTranslator::LoadLanguage(const std::string& language) {
  if (!loaded_ || !platform::SameTextAscii(loaded_source_, SourceLanguage) ||
      !platform::SameTextAscii(loaded_target_, language)) {
    data_ = TLanguageData();
    loaded_ = true;
    loaded_source_ = SourceLanguage;
    loaded_target_ = language;
    if (!language.empty() && !platform::SameTextAscii(language, "NONE")) {
      for (const auto& file : Candidates(LanguageFiles)) {
        std::string bytes;
        if (platform::FileExists(file) && platform::ReadWholeFile(file, &bytes, kMaxFileSize)) {
          ParseLanguageFile(bytes, SourceLanguage, language, &data_);
        }
      }
    }
    if (data_.Locale != 0) platform::SetThreadLocaleId(data_.Locale);
  }
  return !data_.Translations.empty();
}

bool TTranslator::TranslateText(const std::string& text, std::string* out) const {
  if (text.empty()) return false;
  auto it = data_.Translations.find(text);
  if (it == data_.Translations.end()) it = data_.Translations.find(platform::AnsiLowerCase(text));
  if (it == data_.Translations.end()) return false;
  *out = it->second;
  return true;
}

bool TTranslator::Translate(TComponent& component, const std::string& language) {
  if (!LoadLanguage(language)) return false;
  language_ = language;
  if (component.Tag() != kTagNotSelf) TranslateOne(component);
  WalkOwned(component);
  return true;
}

void TTranslator::WalkOwned(TComponent& c) {
  for (size_t i = 0; i < c.ComponentCount(); ++i) {
    TComponent& child = *c.Components(i);
    const std::string& name = child.Name();
    if (child.Tag() == kTagSkip || name.compare(0, 2, "__") == 0) continue;
    if (child.Tag() == kTagCustomOnly) {
      if (OnCustomTranslate) OnCustomTranslate(*this, child);
    } else if (child.Tag() != kTagNotSelf) {
      TranslateOne(child);
    }
    if (name.empty() || name[0] != '_') WalkOwned(child);
  }
}

void TTranslator::TranslateOne(TComponent& c) {
  if (data_.BiDiMode != 0) c.ApplyBiDiMode(data_.BiDiMode, data_.Charset < 0 ? 1 : data_.Charset);
  const int32_t tag = c.Tag();
  const int mask = tag >= kTagMaskFirst && tag <= kTagMaskLast ? tag - kTagMaskFirst : 0;
  for (size_t i = 0; i < ComponentProperties.Count(); ++i) {
    const std::string& name = ComponentProperties[i];
    if (mask & MaskBit(name)) continue;
    const TPropInfo* p = c.FindProperty(name);
    if (!p) continue;
    try {
      TranslateProperty(c, *p);
    } catch (const std::exception&) {
      // One property that cannot be set leaves the others to translate.
    }
  }
  if (auto* res = dynamic_cast<ITranslatedTexts*>(&c)) res->Translate(*this, language_);
  if (OnCustomTranslate) OnCustomTranslate(*this, c);
}

void TTranslator::TranslateProperty(TComponent& c, const TPropInfo& p) {
  if (!p.Get) return;
  const TPropValue v = p.Get(c);
  if (IsTextKind(p.Kind)) {
    std::string out;
    if (p.Set && TranslateText(PropAsText(v), &out)) p.Set(c, TPropValue{out});
    return;
  }
  if (p.Kind != TTypeKind::tkClass) return;
  const auto* obj = std::get_if<TPersistent*>(&v);
  auto* list = obj ? dynamic_cast<TStrings*>(*obj) : nullptr;
  if (!list) return;
  std::vector<std::string> items = list->Items();
  bool changed = false;
  for (auto& s : items) {
    std::string out;
    if (TranslateText(s, &out)) {
      s = out;
      changed = true;
    }
  }
  if (changed) list->SetItems(std::move(items));
}

std::string SetupPluginLanguage(TTranslator& translator, const std::string& host_program_file,
                                const std::string& library_file) {
  translator.SourceLanguage = "EN";
  const std::string own = platform::ChangeFileExt(library_file, ".lng");
  if (!platform::FileExists(own)) {
    translator.LanguageFiles.clear();
    return "EN";
  }
  translator.LanguageFiles = platform::ExtractFilePath(host_program_file) + "plugins.lng|" + own;
  return translator.DefaultLanguage();
}
