// Two writers saving to one INI file at once must not lose each other's
// values: each pass reads the file, adds its section and writes the file
// back under the file's inter-process lock.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "config/store/ini_file.h"
#include "config/store/proxy_code_object.h"
#include "config/store/wreg.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "support/test_folder.h"

namespace {

constexpr int kPasses = 25;
constexpr char kChildFile[] = "DLT645_INI_WRITER_FILE";

// kPasses saves, each into a section of its own.
bool SaveMany(const std::string& file, const std::string& who) {
  for (int i = 0; i < kPasses; ++i) {
    TDataSourceCfg cfg;
    cfg.Left = i;
    cfg.lblParams_Caption = who + " text " + std::to_string(i);
    TWreg w;
    w.INIFile = file;
    w.INIFileSectionPrefix = who + std::to_string(i) + "\\";
    w.Components.SetItems({"Left,Left", "lblParams.Caption,Parser config"});
    if (!w.Save(&cfg)) return false;
  }
  return true;
}

void ExpectAll(const std::string& file, const char* const* writers, int count) {
  TIniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(file));
  for (int k = 0; k < count; ++k) {
    for (int i = 0; i < kPasses; ++i) {
      const std::string section = writers[k] + std::to_string(i);
      std::string v;
      EXPECT_TRUE(ini.ReadString(section, "Left", &v)) << section;
      EXPECT_EQ(v, std::to_string(i));
      EXPECT_TRUE(ini.ReadString(section, "Parser config", &v)) << section;
    }
  }
}

// Run by the test below in child processes only.
TEST(IniWriterChild, DISABLED_WriterA) {
  std::string file;
  if (!platform::GetEnvironmentValue(kChildFile, &file)) GTEST_SKIP();
  ASSERT_TRUE(SaveMany(file, "A"));
}

TEST(IniWriterChild, DISABLED_WriterB) {
  std::string file;
  if (!platform::GetEnvironmentValue(kChildFile, &file)) GTEST_SKIP();
  ASSERT_TRUE(SaveMany(file, "B"));
}

TEST(IniStoreConcurrency, TwoProcessesLoseNoValue) {
  TestFolder folder;
  const std::string file = folder.File("shared.ini");
  ASSERT_TRUE(platform::SetEnvironmentValue(kChildFile, file));
  const std::string self = platform::ProgramFileName();
  ASSERT_FALSE(self.empty());
  int rc_a = -1, rc_b = -1;
  std::thread a([&] {
    rc_a = platform::RunProgram(self, {"--gtest_also_run_disabled_tests",
                                       "--gtest_filter=IniWriterChild.DISABLED_WriterA"});
  });
  std::thread b([&] {
    rc_b = platform::RunProgram(self, {"--gtest_also_run_disabled_tests",
                                       "--gtest_filter=IniWriterChild.DISABLED_WriterB"});
  });
  a.join();
  b.join();
  platform::RemoveEnvironmentValue(kChildFile);
  EXPECT_EQ(rc_a, 0);
  EXPECT_EQ(rc_b, 0);
  const char* const writers[] = {"A", "B"};
  ExpectAll(file, writers, 2);
}

// The same with two threads of one process, each with a lock handle of its own.
TEST(IniStoreConcurrency, TwoThreadsLoseNoValue) {
  TestFolder folder;
  const std::string file = folder.File("shared.ini");
  bool ok_c = false, ok_d = false;
  std::thread c([&] { ok_c = SaveMany(file, "C"); });
  std::thread d([&] { ok_d = SaveMany(file, "D"); });
  c.join();
  d.join();
  EXPECT_TRUE(ok_c);
  EXPECT_TRUE(ok_d);
  const char* const writers[] = {"C", "D"};
  ExpectAll(file, writers, 2);
}

}  // namespace
