#pragma once
// INI files read and written the way the Windows profile functions do:
// "[section]" lines, "key=value" lines, names compared without regard to
// ASCII case, blanks around names and values dropped, a value in matching
// quotes taken without them. Lines it does not understand (comments, junk,
// any bytes at all) are kept as they are when the file is written back.
#include <string>
#include <string_view>
#include <vector>

class TIniFile {
 public:
  TIniFile() = default;
  explicit TIniFile(std::string_view content) { Parse(content); }

  // Replaces the content with the parsed bytes.
  void Parse(std::string_view content);
  // CR LF line ends.
  std::string Content() const;

  // Reads the file; false (and an empty content) when it cannot be read.
  bool LoadFromFile(const std::string& path);
  // Writes the file as a whole (never half written); false when that fails.
  bool SaveToFile(const std::string& path) const;

  // False when the key is absent.
  bool ReadString(std::string_view section, std::string_view key, std::string* value) const;
  // The section is created at the end when it is missing, the key at the end
  // of its section. Raises EqonError for a section, key or value that cannot
  // be written as one line of this form (line breaks, "]" in a section name,
  // "=" in a key, a key that reads as a comment or section).
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // True when the key was there.
  bool DeleteKey(std::string_view section, std::string_view key);
  bool SectionExists(std::string_view section) const;
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  bool Modified() const { return modified_; }

 private:
  enum class Kind { kOther, kSection, kKey };
  struct Line {
    Kind kind = Kind::kOther;
    std::string text;  // the whole line, without its line end
    std::string name;  // section name or key, trimmed
  };
  // Index of the first line of the section's body and one past its end; false
  // when the section does not exist.
  bool FindSection(std::string_view section, size_t* begin, size_t* end) const;
  size_t FindKey(size_t begin, size_t end, std::string_view key) const;

  std::vector<Line> lines_;
  bool modified_ = false;
};
