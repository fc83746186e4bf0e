#pragma once
// The registry: Windows' own; on POSIX a file-backed key store with the same
// typed values. Its folder is $DLT645_REGISTRY_DIR when set, else
// $XDG_CONFIG_HOME/dlt645/registry (~/.config/dlt645/registry), with one
// sub-folder per root named like the Windows root ("HKEY_CURRENT_USER"), one
// folder per key and a file "values" in it. Key and value names compare
// without regard to ASCII letter case, as on Windows.
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// In the order of the registry roots of the settings store.
enum class RegistryRootKey { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

enum class RegValueType { None, String, Integer, Binary, Other };

struct RegValue {
  RegValueType type = RegValueType::None;
  // String: the text (ANSI). Binary and Other: the raw bytes.
  std::string data;
  // Integer (REG_DWORD).
  uint32_t integer = 0;
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // path: key names separated by "\"; leading, trailing and doubled "\" are
  // ignored. Opens with full access (read_only: query only), or creates the
  // key when create is set. nullptr when that fails.
  static std::unique_ptr<RegistryKey> Open(RegistryRootKey root, const std::string& path,
                                           bool create, bool read_only = false);

  // False when the value does not exist or cannot be read.
  virtual bool ReadValue(const std::string& name, RegValue* value) = 0;
  virtual bool WriteString(const std::string& name, const std::string& value) = 0;
  virtual bool WriteInteger(const std::string& name, uint32_t value) = 0;
  virtual bool WriteBinary(const std::string& name, const void* data, size_t size) = 0;
  // True when the value is gone afterwards (also when it did not exist).
  virtual bool DeleteValue(const std::string& name) = 0;
};

// Removes the key with all its sub-keys and values; true when it is gone.
bool DeleteRegistryTree(RegistryRootKey root, const std::string& path);

}  // namespace platform
