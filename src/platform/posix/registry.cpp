#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace platform {
namespace {

const char* RootFolderName(RegistryRootKey root) {
  switch (root) {
    case RegistryRootKey::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRootKey::CurrentUser:
      return "HKEY_CURRENT_USER";
    case RegistryRootKey::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRootKey::Users:
      return "HKEY_USERS";
    case RegistryRootKey::CurrentConfig:
      return "HKEY_CURRENT_CONFIG";
  }
  return nullptr;
}

std::string StoreFolder() {
  std::string v;
  if (GetEnvironmentValue("DLT645_REGISTRY_DIR", &v) && !v.empty()) return v;
  if (GetEnvironmentValue("XDG_CONFIG_HOME", &v) && !v.empty() && v[0] == '/') {
    return v + "/dlt645/registry";
  }
  if (GetEnvironmentValue("HOME", &v) && !v.empty()) return v + "/.config/dlt645/registry";
  return std::string();
}

constexpr char kHex[] = "0123456789ABCDEF";

// Key names become folder names: lower case (names compare without case) and
// every byte that could mean something to the file system escaped.
std::string SegmentName(const std::string& segment) {
  std::string out;
  for (char ch : segment) {
    auto c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool KeyFolder(RegistryRootKey root, const std::string& path, std::vector<std::string>* parts) {
  const char* root_name = RootFolderName(root);
  const std::string store = StoreFolder();
  if (!root_name || store.empty()) return false;
  parts->push_back(store);
  parts->push_back(root_name);
  std::string seg;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      if (!seg.empty()) parts->push_back(SegmentName(seg));
      seg.clear();
    } else {
      seg += path[i];
    }
  }
  return true;
}

bool IsFolder(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool FromHex(std::string_view hex, std::string* out) {
  if (hex.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int h = HexDigit(hex[i]), l = HexDigit(hex[i + 1]);
    if (h < 0 || l < 0) return false;
    out->push_back(static_cast<char>(h * 16 + l));
  }
  return true;
}

bool SameName(const std::string& a, const std::string& b) {
  return SameTextAscii(a, b);
}

// The look-up key of a name by SameName's rule: ASCII letters folded.
std::string NameKey(const std::string& name) {
  std::string key = name;
  for (char& ch : key)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
  return key;
}

struct Entry {
  std::string name;
  RegValue value;
};

// One line per value: type letter, hexadecimal name, hexadecimal data.
// Lines that do not read back are ignored, so a damaged file loses only them.
std::vector<Entry> ParseValues(const std::string& text) {
  std::vector<Entry> out;
  std::unordered_map<std::string, size_t> places;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    const size_t a = line.find(' ');
    const size_t b = a == std::string_view::npos ? a : line.find(' ', a + 1);
    if (b == std::string_view::npos || a != 1) continue;
    Entry e;
    std::string data;
    if (!FromHex(line.substr(a + 1, b - a - 1), &e.name) || !FromHex(line.substr(b + 1), &data)) {
      continue;
    }
    switch (line[0]) {
      case 's':
        e.value.type = RegValueType::String;
        e.value.data = std::move(data);
        break;
      case 'd':
        if (data.size() != 4) continue;
        e.value.type = RegValueType::Integer;
        for (int k = 3; k >= 0; --k) {
          e.value.integer =
              (e.value.integer << 8) | static_cast<unsigned char>(data[static_cast<size_t>(k)]);
        }
        break;
      case 'b':
        e.value.type = RegValueType::Binary;
        e.value.data = std::move(data);
        break;
      default:
        continue;
    }
    // A name written again takes the earlier one's place; looked up by key,
    // so a file of many names reads in linear time.
    const auto [it, added] = places.try_emplace(NameKey(e.name), out.size());
    if (added)
      out.push_back(std::move(e));
    else
      out[it->second] = std::move(e);
  }
  return out;
}

std::string FormatValues(const std::vector<Entry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    std::string data;
    char type = 's';
    if (e.value.type == RegValueType::Integer) {
      type = 'd';
      for (int k = 0; k < 4; ++k)
        data += static_cast<char>((e.value.integer >> (8 * k)) & 0xFF);
    } else {
      type = e.value.type == RegValueType::String ? 's' : 'b';
      data = e.value.data;
    }
    out += type;
    out += ' ';
    out += ToHex(e.name);
    out += ' ';
    out += ToHex(data);
    out += '\n';
  }
  return out;
}

class FileKey final : public RegistryKey {
 public:
  FileKey(std::string folder, bool read_only) : folder_(std::move(folder)), read_only_(read_only) {}

  bool ReadValue(const std::string& name, RegValue* value) override {
    std::string text;
    if (!ReadWholeFile(ValuesFile(), &text, 16u << 20)) return false;
    for (auto& e : ParseValues(text)) {
      if (SameName(e.name, name)) {
        *value = std::move(e.value);
        return true;
      }
    }
    return false;
  }

  bool WriteString(const std::string& name, const std::string& value) override {
    RegValue v;
    v.type = RegValueType::String;
    v.data = value;
    return Put(name, &v);
  }

  bool WriteInteger(const std::string& name, uint32_t value) override {
    RegValue v;
    v.type = RegValueType::Integer;
    v.integer = value;
    return Put(name, &v);
  }

  bool WriteBinary(const std::string& name, const void* data, size_t size) override {
    RegValue v;
    v.type = RegValueType::Binary;
    v.data.assign(static_cast<const char*>(data), size);
    return Put(name, &v);
  }

  bool DeleteValue(const std::string& name) override { return Put(name, nullptr); }

 private:
  std::string ValuesFile() const { return folder_ + "/values"; }

  // Read-modify-write under a lock of the key, so that two writers of one key
  // (threads or processes) do not drop each other's values.
  bool Put(const std::string& name, const RegValue* value) {
    if (read_only_) return false;
    const std::string lock_path = folder_ + "/.lock";
    const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        close(fd);
        return false;
      }
    }
    std::string text;
    std::vector<Entry> entries;
    if (ReadWholeFile(ValuesFile(), &text, 16u << 20)) entries = ParseValues(text);
    bool found = false;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (SameName(entries[i].name, name)) {
        found = true;
        if (value) {
          entries[i].value = *value;
        } else {
          entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        }
        break;
      }
    }
    bool ok = true;
    if (!found && value) entries.push_back(Entry{name, *value});
    if (found || value) ok = ReplaceFileContent(ValuesFile(), FormatValues(entries));
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
  }

  std::string folder_;
  bool read_only_;
};

}  // namespace

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRootKey root, const std::string& path,
                                               bool create, bool read_only) {
  std::vector<std::string> parts;
  if (!KeyFolder(root, path, &parts)) return nullptr;
  std::string folder;
  for (size_t i = 0; i < parts.size(); ++i) {
    folder += (i == 0 ? "" : "/") + parts[i];
    if (IsFolder(folder)) continue;
    if (!create) return nullptr;
    if (mkdir(folder.c_str(), 0700) != 0 && !(errno == EEXIST && IsFolder(folder))) return nullptr;
  }
  return std::make_unique<FileKey>(folder, read_only);
}

bool DeleteRegistryTree(RegistryRootKey root, const std::string& path) {
  std::vector<std::string> parts;
  if (!KeyFolder(root, path, &parts) || parts.size() < 3) return false;
  std::string folder;
  for (size_t i = 0; i < parts.size(); ++i)
    folder += (i == 0 ? "" : "/") + parts[i];
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return !ec && !IsFolder(folder);
}

}  // namespace platform
