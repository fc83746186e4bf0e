#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/strings.h"
#include "platform/thread.h"
#include "support/test_folder.h"

namespace {

// Each test gets a registry of its own: a folder store on POSIX, a key of
// its own under the current user on Windows.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    had_dir_ = platform::GetEnvironmentValue("DLT645_REGISTRY_DIR", &old_dir_);
    platform::SetEnvironmentValue("DLT645_REGISTRY_DIR", folder_.Path());
    base_ = "Software\\dlt645-tests\\" + platform::ExtractFileName(folder_.Path());
  }
  void TearDown() override {
    platform::DeleteRegistryTree(platform::RegistryRootKey::CurrentUser, base_);
    if (had_dir_)
      platform::SetEnvironmentValue("DLT645_REGISTRY_DIR", old_dir_);
    else
      platform::RemoveEnvironmentValue("DLT645_REGISTRY_DIR");
  }

  TestFolder folder_;
  std::string base_;
  std::string old_dir_;
  bool had_dir_ = false;
};

TEST_F(RegistryTest, TypedValuesRoundTripAndNamesIgnoreCase) {
  using platform::RegistryKey;
  using platform::RegistryRootKey;
  EXPECT_EQ(RegistryKey::Open(RegistryRootKey::CurrentUser, base_ + "\\A", false), nullptr);
  auto key = RegistryKey::Open(RegistryRootKey::CurrentUser, "\\" + base_ + "\\A\\\\B\\", true);
  ASSERT_NE(key, nullptr);
  const double pi = 3.25;
  ASSERT_TRUE(key->WriteInteger("Left", 0xFFFFFFFEu));
  ASSERT_TRUE(key->WriteBinary("Float", &pi, sizeof pi));
  ASSERT_TRUE(key->WriteString("Text", "a b\tc %"));

  auto again = RegistryKey::Open(RegistryRootKey::CurrentUser, base_ + "\\a\\b", false);
  ASSERT_NE(again, nullptr);
  platform::RegValue v;
  ASSERT_TRUE(again->ReadValue("LEFT", &v));
  EXPECT_EQ(v.type, platform::RegValueType::Integer);
  EXPECT_EQ(v.integer, 0xFFFFFFFEu);
  ASSERT_TRUE(again->ReadValue("float", &v));
  EXPECT_EQ(v.type, platform::RegValueType::Binary);
  ASSERT_EQ(v.data.size(), sizeof pi);
  ASSERT_TRUE(again->ReadValue("Text", &v));
  EXPECT_EQ(v.type, platform::RegValueType::String);
  EXPECT_EQ(v.data, "a b\tc %");

  EXPECT_TRUE(again->DeleteValue("text"));
  EXPECT_FALSE(again->ReadValue("Text", &v));
  EXPECT_TRUE(again->DeleteValue("Text"));  // already gone
  EXPECT_TRUE(again->ReadValue("Left", &v));
}

TEST_F(RegistryTest, DeleteTreeRemovesSubKeys) {
  using platform::RegistryKey;
  using platform::RegistryRootKey;
  ASSERT_NE(RegistryKey::Open(RegistryRootKey::CurrentUser, base_ + "\\X\\Y", true), nullptr);
  EXPECT_TRUE(platform::DeleteRegistryTree(RegistryRootKey::CurrentUser, base_));
  EXPECT_EQ(RegistryKey::Open(RegistryRootKey::CurrentUser, base_ + "\\X", false), nullptr);
}

// The POSIX key store keeps a key's values in a file "values" of the key's
// folder; damage to that file costs only the damaged lines.
TEST_F(RegistryTest, DamagedKeyFilesLoseOnlyTheirDamagedLines) {
  using platform::RegistryKey;
  using platform::RegistryRootKey;
  auto key = RegistryKey::Open(RegistryRootKey::CurrentUser, base_ + "\\K", true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteString("Good", "yes"));
  std::string file = folder_.Path() + "/HKEY_CURRENT_USER/software/dlt645-tests/";
  file += platform::AsciiLowerCase(platform::ExtractFileName(folder_.Path()));
  file += "/k/values";
  std::string content;
  if (!platform::ReadWholeFile(file, &content)) GTEST_SKIP() << "not the file-backed store";
  // A name written again later, in another case, replaces the first.
  content = "s zz 00\nd 41 0102\n\x01\xff garbage\nb 42 4\n" + content + "s 474F4F44 6E6F\ns 43";
  ASSERT_TRUE(platform::ReplaceFileContent(file, content));
  platform::RegValue v;
  ASSERT_TRUE(key->ReadValue("Good", &v));
  EXPECT_EQ(v.data, "no");
  EXPECT_FALSE(key->ReadValue("A", &v));
  EXPECT_FALSE(key->ReadValue("B", &v));
  ASSERT_TRUE(key->WriteInteger("Next", 5));
  ASSERT_TRUE(key->ReadValue("Good", &v));
  ASSERT_TRUE(key->ReadValue("Next", &v));
  EXPECT_EQ(v.integer, 5u);
}

TEST(SettingsFiles, ReplaceKeepsOldContentUntilTheNewOneIsComplete) {
  TestFolder folder;
  const std::string f = folder.File("a.ini");
  EXPECT_FALSE(platform::FileExists(f));
  ASSERT_TRUE(platform::ReplaceFileContent(f, "one"));
  ASSERT_TRUE(platform::ReplaceFileContent(f, std::string("two\0three", 9)));
  std::string got;
  ASSERT_TRUE(platform::ReadWholeFile(f, &got));
  EXPECT_EQ(got, std::string("two\0three", 9));
  EXPECT_FALSE(platform::ReadWholeFile(f, &got, 3));  // larger than allowed
  EXPECT_FALSE(
      platform::ReplaceFileContent(folder.File("missing") + platform::PathDelimiter() + "x", "x"));
}

TEST(SettingsFiles, PathParts) {
  const char d = platform::PathDelimiter();
  const std::string path = std::string("lib") + d + "dir.x" + d + "name.dll";
  EXPECT_EQ(platform::ExtractFileName(path), "name.dll");
  EXPECT_EQ(platform::ExtractFilePath(path), std::string("lib") + d + "dir.x" + d);
  EXPECT_EQ(platform::ChangeFileExt(path, ".lng"),
            std::string("lib") + d + "dir.x" + d + "name.lng");
  EXPECT_EQ(platform::ChangeFileExt(std::string("dir.x") + d + "noext", ".lng"),
            std::string("dir.x") + d + "noext.lng");
  EXPECT_EQ(platform::IncludeTrailingDelimiter(""), "");
  EXPECT_EQ(platform::IncludeTrailingDelimiter("a"), std::string("a") + d);
}

TEST(EmbeddedResources, FoundByNameInAnyCase) {
  static const unsigned char data[] = {'x', 0, 'y'};
  platform::RegisterEmbeddedResource("SETTINGS_TEST_RES", data, sizeof data);
  std::string got;
  ASSERT_TRUE(platform::LoadModuleResource("settings_test_res", &got));
  EXPECT_EQ(got, std::string("x\0y", 3));
  EXPECT_FALSE(platform::LoadModuleResource("NO_SUCH_RESOURCE", &got));
  EXPECT_FALSE(platform::LoadModuleResource("", &got));
}

// Two lock objects of one name, each in its own thread, as two processes
// would hold them: the counter never sees both inside.
TEST(NamedLockConcurrency, ExcludesHoldersOfTheSameName) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto worker = [&] {
    platform::NamedLock lock("settings-test-named-lock");
    for (int i = 0; i < 200; ++i) {
      platform::NamedLockGuard guard(lock);
      ASSERT_TRUE(guard.Held());
      if (inside.fetch_add(1) != 0) overlap = true;
      std::this_thread::yield();
      inside.fetch_sub(1);
    }
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_FALSE(overlap.load());
}

TEST(NamedLock, OddNamesMapToDistinctObjects) {
  using platform::detail::LockObjectName;
  EXPECT_EQ(LockObjectName("c__data_a_ini"), "c__data_a_ini");
  EXPECT_NE(LockObjectName("a/b"), LockObjectName("a:b"));
  EXPECT_LE(LockObjectName(std::string(1000, 'x')).size(), 200u);
  EXPECT_EQ(LockObjectName("..").find('/'), std::string::npos);
  platform::NamedLock lock(std::string("any bytes \x01\xff/\\:"));
  EXPECT_TRUE(lock.Lock());
  lock.Unlock();
}

}  // namespace
