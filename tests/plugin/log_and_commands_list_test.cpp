#include <gtest/gtest.h>

#include "plugin/log_data_list.h"
#include "plugin/qon_plugin_custom_cmd_list.h"

namespace {

TEST(LogDataList, RepeatsFoldIntoACountOnceAnotherLineFollows) {
  TLogDataList log;
  log.AddLine("a");
  log.AddLine("a");
  log.AddLine("a");
  log.AddLine("b");
  EXPECT_EQ(log.TakeText(), "a x3\r\nb\r\n");
}

TEST(LogDataList, TakingTheTextTwiceNeverRendersTheCountTwice) {
  TLogDataList log;
  log.AddLine("a");
  log.AddLine("a");
  log.AddLine("a");
  EXPECT_EQ(log.TakeText(), "a x3\r\n");
  EXPECT_EQ(log.TakeText(), "a x3\r\n");
  log.AddLine("a");
  EXPECT_EQ(log.TakeText(), "a x4\r\n");
  log.AddLine("b");
  log.AddLine("a");
  EXPECT_EQ(log.TakeText(), "a x4\r\nb\r\na\r\n");
}

TEST(LogDataList, KeepsTheNewestLinesUpToItsBound) {
  EXPECT_EQ(TLogDataList().MaxLines, 51200);
  TLogDataList log(3);
  for (const char* line : {"1", "2", "3", "4", "4", "5"})
    log.AddLine(line);
  EXPECT_EQ(log.TakeText(), "3\r\n4 x2\r\n5\r\n");
}

TEST(CustomCmdList, TextFormRoundTrips) {
  TqonPluginCustomCmdList list;
  list.Add("RESET", "Reset meter", /*flag_b=*/false, /*flag_a=*/true, "x=1");
  list.Add("SYNC", "Sync clock", true, false, "");
  const std::string text = list.AsText();
  EXPECT_EQ(text, "RESET|Reset meter|x=1|1|0\r\nSYNC|Sync clock||0|1\r\n");

  TqonPluginCustomCmdList copy;
  copy.LoadFromText(text);
  EXPECT_EQ(copy.AsText(), text);
}

TEST(CustomCmdList, LoadingAddsAndSkipsShortLines) {
  TqonPluginCustomCmdList list;
  list.Add("A", "a", false, false, "");
  list.LoadFromText("B|b|d|1\r\n\r\nC|c|d|true|1\nD|d|d|1|1|extra");
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(1).Name, "C");
  EXPECT_FALSE(list.Items(1).FlagA);  // only "1" is true
  EXPECT_TRUE(list.Items(1).FlagB);
  EXPECT_EQ(list.Items(2).Name, "D");
}

}  // namespace
