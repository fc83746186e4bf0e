// Random bytes through the settings store's readers: the INI file, the
// value codec of stored texts and numbers, the registry's value file and
// the store's item lines. Checks that nothing reads outside the data, that
// what the INI reader finds reads back the same after a write of its own,
// and that texts and numbers round-trip through their stored forms.
//
// Input: up to the first NUL the INI text (also the registry's value file);
// after it a value text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "config/store/ini_file.h"
#include "config/store/value_codec.h"
#include "config/store/wreg.h"
#include "fuzz_check.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/strings.h"

namespace {

std::string g_values_file;

void IniRoundTrip(std::string_view content, const std::string& value) {
  TIniFile ini(content);
  const TIniFile same(ini.Content());
  for (const std::string& section : ini.SectionNames()) {
    for (const std::string& key : ini.KeyNames(section)) {
      std::string a, b;
      Check(ini.ReadString(section, key, &a), "a listed key reads");
      Check(same.ReadString(section, key, &b) && a == b, "the same after a round trip");
    }
  }
  // What the plug-in writes is an encoded text: any value fits on its line.
  const std::string stored = EncodeSettingText(value);
  ini.WriteString("Fuzz section", "Value", stored);
  const TIniFile back(ini.Content());
  std::string read;
  Check(back.ReadString("Fuzz section", "Value", &read) && read == stored, "written value");
  if (platform::IsValidUtf8(value))
    Check(DecodeSettingText(read) == value, "stored text round trip");
}

void Numbers(const std::string& value) {
  double d = 0;
  if (!ParseSettingFloat(value, &d) || std::isnan(d)) return;
  double back = 0;
  Check(ParseSettingFloat(FormatSettingFloat(d), &back) && back == d, "number round trip");
}

void Registry(std::string_view file, const std::string& value) {
  if (g_values_file.empty()) return;
  {
    std::ofstream out(g_values_file, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    Check(out.good(), "value file written");
  }
  auto key =
      platform::RegistryKey::Open(platform::RegistryRootKey::CurrentUser, "Software\\Fuzz", false);
  Check(key != nullptr, "key opens");
  platform::RegValue v;
  key->ReadValue("Parser config", &v);
  // A damaged file loses only its damaged lines: a write reads back.
  if (value.empty()) return;
  Check(key->WriteString(value, std::string(file.substr(0, 64))), "value written");
  Check(key->ReadValue(value, &v) && v.type == platform::RegValueType::String &&
            v.data == file.substr(0, 64),
        "written value reads back");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A registry of its own, in a fresh temporary folder.
  char folder[] = "/tmp/dlt645-store-fuzz.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 0;
  setenv("DLT645_REGISTRY_DIR", folder, 1);
  auto key =
      platform::RegistryKey::Open(platform::RegistryRootKey::CurrentUser, "Software\\Fuzz", true);
  if (key && key->WriteString("a", "b")) {
    g_values_file = std::string(folder) + "/HKEY_CURRENT_USER/software/fuzz/values";
    if (!platform::FileExists(g_values_file)) g_values_file.clear();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const size_t cut = all.find('\0');
  const std::string_view content = all.substr(0, cut);
  const std::string value(cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1));

  IniRoundTrip(content, value);
  Numbers(value);
  Registry(content, value);

  TWregItem item;
  ParseWregItem(std::string(content), &item);
  WregIniSection(value, std::string(content));
  return 0;
}
