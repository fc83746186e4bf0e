#pragma once
// A settings store of its own for each test: an INI folder, and a registry
// that is a folder store on POSIX and a key of its own under the current
// user on Windows (so no test writes to the local-machine root).
#include <gtest/gtest.h>

#include <string>

#include "config/store/wreg.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "support/test_folder.h"

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    had_dir_ = platform::GetEnvironmentValue("DLT645_REGISTRY_DIR", &old_dir_);
    platform::SetEnvironmentValue("DLT645_REGISTRY_DIR", folder_.Path());
    key_ = "Software\\dlt645-tests\\" + platform::ExtractFileName(folder_.Path());
  }
  void TearDown() override {
    platform::DeleteRegistryTree(platform::RegistryRootKey::CurrentUser, key_);
    if (had_dir_)
      platform::SetEnvironmentValue("DLT645_REGISTRY_DIR", old_dir_);
    else
      platform::RemoveEnvironmentValue("DLT645_REGISTRY_DIR");
  }

  // A TWreg on the registry under the test's key.
  void UseRegistry(TWreg& w, const std::string& sub = "\\A\\B") {
    w.RegistryRoot = rrHKEY_CURRENT_USER;
    w.SecondRegistryRoot = rrHKEY_CURRENT_USER;
    w.RegistryPath = "\\" + key_ + sub;
  }
  std::unique_ptr<platform::RegistryKey> Key(const std::string& sub = "\\A\\B") {
    return platform::RegistryKey::Open(platform::RegistryRootKey::CurrentUser, key_ + sub, false);
  }
  std::string Ini(const std::string& name = "settings.ini") { return folder_.File(name); }

  TestFolder folder_;
  std::string key_;
  std::string old_dir_;
  bool had_dir_ = false;
};
