#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace platform {
namespace {

HKEY RootHandle(RegistryRootKey root) {
  switch (root) {
    case RegistryRootKey::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRootKey::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRootKey::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRootKey::Users:
      return HKEY_USERS;
    case RegistryRootKey::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  return nullptr;
}

std::string CleanPath(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == '\\')
    out.pop_back();
  return out;
}

class WinKey final : public RegistryKey {
 public:
  explicit WinKey(HKEY key) : key_(key) {}
  ~WinKey() override { RegCloseKey(key_); }

  bool ReadValue(const std::string& name, RegValue* value) override {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    std::vector<BYTE> buf(size + 2, 0);
    DWORD got = size;
    if (RegQueryValueExA(key_, name.c_str(), nullptr, &type, buf.data(), &got) != ERROR_SUCCESS) {
      return false;
    }
    RegValue v;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      v.type = RegValueType::String;
      size_t n = got;
      while (n > 0 && buf[n - 1] == 0)
        --n;
      v.data.assign(reinterpret_cast<const char*>(buf.data()), n);
    } else if (type == REG_DWORD && got == 4) {
      v.type = RegValueType::Integer;
      v.integer = static_cast<uint32_t>(buf[0]) | (static_cast<uint32_t>(buf[1]) << 8) |
                  (static_cast<uint32_t>(buf[2]) << 16) | (static_cast<uint32_t>(buf[3]) << 24);
    } else {
      v.type = type == REG_BINARY ? RegValueType::Binary : RegValueType::Other;
      v.data.assign(reinterpret_cast<const char*>(buf.data()), got);
    }
    *value = std::move(v);
    return true;
  }

  bool WriteString(const std::string& name, const std::string& value) override {
    return RegSetValueExA(key_, name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  }

  bool WriteInteger(const std::string& name, uint32_t value) override {
    DWORD v = value;
    return RegSetValueExA(key_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) ==
           ERROR_SUCCESS;
  }

  bool WriteBinary(const std::string& name, const void* data, size_t size) override {
    return RegSetValueExA(key_, name.c_str(), 0, REG_BINARY, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size)) == ERROR_SUCCESS;
  }

  bool DeleteValue(const std::string& name) override {
    const LONG r = RegDeleteValueA(key_, name.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
  }

 private:
  HKEY key_;
};

}  // namespace

std::unique_ptr<RegistryKey> RegistryKey::Open(RegistryRootKey root, const std::string& path,
                                               bool create, bool read_only) {
  HKEY base = RootHandle(root);
  if (!base) return nullptr;
  const std::string p = CleanPath(path);
  const REGSAM access = read_only ? KEY_READ : KEY_ALL_ACCESS;
  HKEY key = nullptr;
  LONG r;
  if (create) {
    r = RegCreateKeyExA(base, p.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key,
                        nullptr);
  } else {
    r = RegOpenKeyExA(base, p.c_str(), 0, access, &key);
  }
  if (r != ERROR_SUCCESS) return nullptr;
  return std::make_unique<WinKey>(key);
}

namespace {

bool DeleteTree(HKEY parent, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS;
  }
  for (;;) {
    char sub[256];
    DWORD len = sizeof sub;
    if (RegEnumKeyExA(key, 0, sub, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    if (!DeleteTree(key, std::string(sub, len))) break;
  }
  RegCloseKey(key);
  return RegDeleteKeyA(parent, name.c_str()) == ERROR_SUCCESS;
}

}  // namespace

bool DeleteRegistryTree(RegistryRootKey root, const std::string& path) {
  HKEY base = RootHandle(root);
  const std::string p = CleanPath(path);
  if (!base || p.empty()) return false;
  return DeleteTree(base, p);
}

}  // namespace platform
