#include "config/text/message_format.h"

#include <gtest/gtest.h>

namespace {

TEST(MessageFormat, FormatsLikePrintf) {
  EXPECT_EQ(FormatMessage("Invalid CRC (%.2x,%.2x)", {0x5, 0xAB}), "Invalid CRC (05,ab)");
  EXPECT_EQ(FormatMessage("%s/%d [%s]", {"000000000001", 17, "Outgoing"}),
            "000000000001/17 [Outgoing]");
  EXPECT_EQ(FormatMessage("%5s|%-4d|%c|%%|%.1f", {"ab", 7, 65, 2.75}), "   ab|7   |A|%|2.8");
  EXPECT_EQ(FormatMessage("%.3s", {"abcdef"}), "abc");
  EXPECT_EQ(FormatMessage("%f", {2}), "2.000000");  // an integer fills a float
  EXPECT_EQ(FormatMessage("%ld %lld %hd", {1, 2, 3}), "1 2 3");
}

TEST(MessageFormat, MismatchesAreWrittenAsTheyStand) {
  EXPECT_EQ(FormatMessage("%d", {"text"}), "%d");
  EXPECT_EQ(FormatMessage("%s and %d", {5, 6}), "%s and 6");
  EXPECT_EQ(FormatMessage("%s %s %s", {"a"}), "a %s %s");
  EXPECT_EQ(FormatMessage("%n%p%*d%q", {1, 2, 3, 4}), "%n%p%*d%q");
  EXPECT_EQ(FormatMessage("100%", {}), "100%");
  EXPECT_EQ(FormatMessage("%99999999999d", {1}).size(), 512u);
  EXPECT_EQ(FormatMessage("%.99999f", {1.0}).size(), 514u);
  EXPECT_EQ(FormatMessage("%s", {std::string_view("a\0b", 3)}), std::string("a\0b", 3));
}

TEST(MessageFormat, ConversionSignatures) {
  EXPECT_EQ(FormatConversions("Invalid CRC (%.2x,%.2X) %% %-5s %g"), "iisf");
  EXPECT_EQ(FormatConversions("%n %*d %"), "???");
  EXPECT_TRUE(SameConversions("Error at: %d (%s)", "Fehler bei %i (%20s)"));
  EXPECT_FALSE(SameConversions("Error at: %d", "Fehler bei %s"));
  EXPECT_FALSE(SameConversions("%s", "%s %s"));
  EXPECT_FALSE(SameConversions("Request timeout (ms)", "Zeit %s"));
}

}  // namespace
