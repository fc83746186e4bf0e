#include "config/store/ini_file.h"

#include <gtest/gtest.h>

#include <random>

#include "base/errors.h"
#include "support/test_folder.h"

namespace {

TEST(IniFile, ReadsLikeTheProfileFunctions) {
  const TIniFile ini(
      "; comment\r\n"
      "[ Main ]\n"
      "  Key = value with blanks  \r\n"
      "quoted=\" kept \"\n"
      "single='x'\n"
      "half=\"x\n"
      "dup=1\n"
      "dup=2\n"
      "noequals\n"
      "[Main]\n"
      "late=3\n");
  std::string v;
  ASSERT_TRUE(ini.ReadString("main", "KEY", &v));
  EXPECT_EQ(v, "value with blanks");
  ASSERT_TRUE(ini.ReadString("Main", "quoted", &v));
  EXPECT_EQ(v, " kept ");
  ASSERT_TRUE(ini.ReadString("Main", "single", &v));
  EXPECT_EQ(v, "x");
  ASSERT_TRUE(ini.ReadString("Main", "half", &v));
  EXPECT_EQ(v, "\"x");
  ASSERT_TRUE(ini.ReadString("Main", "dup", &v));
  EXPECT_EQ(v, "1");
  EXPECT_FALSE(ini.ReadString("Main", "noequals", &v));
  EXPECT_FALSE(ini.ReadString("Main", "late", &v));  // the first section of a name wins
  EXPECT_FALSE(ini.ReadString("Other", "Key", &v));
}

TEST(IniFile, WritesKeepEverythingElseAndReadBackExactly) {
  TIniFile ini("; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  ini.WriteString("A", "z", "\"quoted\"");
  ini.WriteString("a", "X", " padded ");
  ini.WriteString("C", "new", "");
  EXPECT_TRUE(ini.Modified());
  EXPECT_EQ(ini.Content(),
            "; keep me\r\n[A]\r\nX=\" padded "
            "\"\r\nz=\"\"quoted\"\"\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nnew=\r\n");
  const TIniFile back(ini.Content());
  std::string v;
  ASSERT_TRUE(back.ReadString("A", "z", &v));
  EXPECT_EQ(v, "\"quoted\"");
  ASSERT_TRUE(back.ReadString("A", "x", &v));
  EXPECT_EQ(v, " padded ");
  ASSERT_TRUE(back.ReadString("C", "new", &v));
  EXPECT_EQ(v, "");
  EXPECT_TRUE(ini.DeleteKey("B", "Y"));
  EXPECT_FALSE(ini.DeleteKey("B", "Y"));
  EXPECT_EQ(ini.KeyNames("B").size(), 0u);
}

TEST(IniFile, RefusesWhatWouldBreakTheLineStructure) {
  TIniFile ini;
  EXPECT_THROW(ini.WriteString("S", "k", "a\r\nb=c"), EqonError);
  EXPECT_THROW(ini.WriteString("S]x", "k", "v"), EqonError);
  EXPECT_THROW(ini.WriteString("S", "a=b", "v"), EqonError);
  EXPECT_THROW(ini.WriteString("S", ";k", "v"), EqonError);
  EXPECT_THROW(ini.WriteString("S", "", "v"), EqonError);
  EXPECT_FALSE(ini.Modified());
}

TEST(IniFile, AnyBytesParseAndStillTakeAKey) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    std::string junk(rng() % 300, '\0');
    for (char& c : junk)
      c = static_cast<char>(rng());
    if (round % 3 == 0) junk += "\n[S]\nk=";  // truncated in the middle of a value
    TIniFile ini(junk);
    ini.WriteString("Fresh section", "key", "value");
    const TIniFile back(ini.Content());
    std::string v;
    ASSERT_TRUE(back.ReadString("Fresh section", "key", &v));
    EXPECT_EQ(v, "value");
  }
}

TEST(IniFile, FilesRoundTrip) {
  TestFolder folder;
  TIniFile ini;
  EXPECT_FALSE(ini.LoadFromFile(folder.File("none.ini")));
  ini.WriteString("S", "k", "v");
  ASSERT_TRUE(ini.SaveToFile(folder.File("a.ini")));
  TIniFile back;
  ASSERT_TRUE(back.LoadFromFile(folder.File("a.ini")));
  std::string v;
  ASSERT_TRUE(back.ReadString("S", "k", &v));
  EXPECT_EQ(v, "v");
  EXPECT_FALSE(back.Modified());
}

}  // namespace
