#include <gtest/gtest.h>

#include "hostkit/plugin.h"

namespace {

TEST(HostPluginLog, LevelsComeFromTheFirstByte) {
  const auto lines =
      host::SplitLog(std::string("\x01{PROCESS} boom\r\n\x02Request timeout x3\r\n") + "\x83" +
                     "flagged\r\n\r\nplain\r\n");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].level, 0);
  EXPECT_EQ(lines[0].text, "{PROCESS} boom");
  EXPECT_EQ(lines[1].level, 1);
  EXPECT_EQ(lines[1].text, "Request timeout x3");
  EXPECT_EQ(lines[2].level, 2);
  EXPECT_EQ(lines[2].text, "flagged");
  EXPECT_EQ(lines[3].level, 2);
  EXPECT_EQ(lines[3].text, "plain");
}

TEST(HostPluginLibrary, ALibraryThatDoesNotLoadIsNamed) {
  host::PluginLibrary lib;
  std::string e;
  EXPECT_FALSE(lib.Load("no-such-plugin-library.bin", false, &e));
  EXPECT_NE(e.find("cannot load the plug-in no-such-plugin-library.bin"), std::string::npos);
}

}  // namespace
