#include "config/store/ini_file.h"

#include "base/errors.h"
#include "base/trim.h"
#include "platform/files.h"
#include "platform/strings.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool HasLineBreak(std::string_view s) {
  return s.find('\r') != std::string_view::npos || s.find('\n') != std::string_view::npos ||
         s.find('\0') != std::string_view::npos;
}

}  // namespace

void TIniFile::Parse(std::string_view content) {
  lines_.clear();
  modified_ = false;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find('\n', pos);
    if (end == std::string_view::npos) end = content.size();
    std::string_view raw = content.substr(pos, end - pos);
    pos = end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    Line line;
    line.text = std::string(raw);
    const std::string_view t = TrimBlanks(raw);
    if (!t.empty() && t.front() == '[') {
      const size_t close = t.find(']');
      if (close != std::string_view::npos) {
        line.kind = Kind::kSection;
        line.name = std::string(TrimBlanks(t.substr(1, close - 1)));
      }
    } else if (!t.empty() && t.front() != ';') {
      const size_t eq = t.find('=');
      if (eq != std::string_view::npos) {
        line.kind = Kind::kKey;
        line.name = std::string(TrimBlanks(t.substr(0, eq)));
      }
    }
    lines_.push_back(std::move(line));
  }
}

std::string TIniFile::Content() const {
  std::string out;
  for (const auto& l : lines_) {
    out += l.text;
    out += "\r\n";
  }
  return out;
}

bool TIniFile::LoadFromFile(const std::string& path) {
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes)) {
    Parse(std::string_view());
    return false;
  }
  Parse(bytes);
  return true;
}

bool TIniFile::SaveToFile(const std::string& path) const {
  return platform::ReplaceFileContent(path, Content());
}

bool TIniFile::FindSection(std::string_view section, size_t* begin, size_t* end) const {
  const std::string_view want = TrimBlanks(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Kind::kSection || !platform::SameTextAscii(lines_[i].name, want))
      continue;
    size_t j = i + 1;
    while (j < lines_.size() && lines_[j].kind != Kind::kSection)
      ++j;
    *begin = i + 1;
    *end = j;
    return true;
  }
  return false;
}

size_t TIniFile::FindKey(size_t begin, size_t end, std::string_view key) const {
  const std::string_view want = TrimBlanks(key);
  for (size_t i = begin; i < end; ++i) {
    if (lines_[i].kind == Kind::kKey && platform::SameTextAscii(lines_[i].name, want)) return i;
  }
  return std::string::npos;
}

bool TIniFile::ReadString(std::string_view section, std::string_view key,
                          std::string* value) const {
  size_t b = 0, e = 0;
  if (!FindSection(section, &b, &e)) return false;
  const size_t i = FindKey(b, e, key);
  if (i == std::string::npos) return false;
  const std::string& text = lines_[i].text;
  std::string_view v = TrimBlanks(std::string_view(text).substr(text.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  *value = std::string(v);
  return true;
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string_view s = TrimBlanks(section), k = TrimBlanks(key);
  if (HasLineBreak(section) || s.find(']') != std::string_view::npos) {
    throw EqonError("Invalid INI section name");
  }
  if (HasLineBreak(key) || k.empty() || k.find('=') != std::string_view::npos || k.front() == ';' ||
      k.front() == '[') {
    throw EqonError("Invalid INI key name");
  }
  if (HasLineBreak(value)) throw EqonError("INI values cannot hold line breaks");
  std::string line(k);
  line += '=';
  // A reader drops blanks around a value and one pair of quotes; quote the
  // value when it would lose either, so that it reads back as written.
  const bool quote =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                         (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                          value.back() == value.front()));
  if (quote) line += '"';
  line += value;
  if (quote) line += '"';

  size_t b = 0, e = 0;
  if (!FindSection(section, &b, &e)) {
    if (!lines_.empty() && !TrimBlanks(lines_.back().text).empty()) lines_.push_back(Line{});
    lines_.push_back(Line{Kind::kSection, "[" + std::string(s) + "]", std::string(s)});
    lines_.push_back(Line{Kind::kKey, line, std::string(k)});
    modified_ = true;
    return;
  }
  const size_t i = FindKey(b, e, key);
  if (i != std::string::npos) {
    if (lines_[i].text != line) {
      lines_[i].text = line;
      modified_ = true;
    }
    return;
  }
  // After the section's last non-empty line, so that a blank line before the
  // next section stays where it was.
  size_t at = e;
  while (at > b && TrimBlanks(lines_[at - 1].text).empty())
    --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                Line{Kind::kKey, line, std::string(k)});
  modified_ = true;
}

bool TIniFile::DeleteKey(std::string_view section, std::string_view key) {
  size_t b = 0, e = 0;
  if (!FindSection(section, &b, &e)) return false;
  const size_t i = FindKey(b, e, key);
  if (i == std::string::npos) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
  modified_ = true;
  return true;
}

bool TIniFile::SectionExists(std::string_view section) const {
  size_t b = 0, e = 0;
  return FindSection(section, &b, &e);
}

std::vector<std::string> TIniFile::SectionNames() const {
  std::vector<std::string> out;
  for (const auto& l : lines_) {
    if (l.kind == Kind::kSection) out.push_back(l.name);
  }
  return out;
}

std::vector<std::string> TIniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> out;
  size_t b = 0, e = 0;
  if (!FindSection(section, &b, &e)) return out;
  for (size_t i = b; i < e; ++i) {
    if (lines_[i].kind == Kind::kKey) out.push_back(lines_[i].name);
  }
  return out;
}
