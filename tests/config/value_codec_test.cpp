#include "config/store/value_codec.h"

#include <gtest/gtest.h>

#include "platform/strings.h"

namespace {

TEST(SettingText, LineBreaksAndIndentedLines) {
  EXPECT_EQ(EncodeSettingText("<a>\r\n  <b/>"), "<a>%0D%0A+ <b/>");
  EXPECT_EQ(DecodeSettingText("<a>%0D%0A+ <b/>"), "<a>\r\n  <b/>");
}

TEST(SettingText, BlanksThatAReaderCouldDropBecomePlus) {
  EXPECT_EQ(EncodeSettingText("  a b   c "), "++a b++ c+");
  EXPECT_EQ(DecodeSettingText("++a b++ c+"), "  a b   c ");
  EXPECT_EQ(EncodeSettingText("   "), "+++");
  EXPECT_EQ(EncodeSettingText(" "), "+");
}

TEST(SettingText, PercentPlusAndControlBytes) {
  EXPECT_EQ(EncodeSettingText("100% a+b\t\x7f"), "100%% a%2Bb%09\x7f");
  EXPECT_EQ(DecodeSettingText("100%% a%2Bb%09\x7f"), "100% a+b\t\x7f");
  // "%%" wins over a following hexadecimal pair.
  EXPECT_EQ(DecodeSettingText("%%41"), "%41");
}

TEST(SettingText, NonAsciiTravelsAsEscapedUtf8) {
  const std::string text = platform::Utf8ToAnsi("Z\xC3\xA4hler \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(EncodeSettingText(text), "Z%C3%A4hler %C3%A9t%C3%A9");
  EXPECT_EQ(DecodeSettingText("Z%C3%A4hler %C3%A9t%C3%A9"), text);
}

TEST(SettingText, HostileStoredTextDecodesWithoutHarm) {
  EXPECT_EQ(DecodeSettingText("%"), "%");
  EXPECT_EQ(DecodeSettingText("%4"), "%4");
  EXPECT_EQ(DecodeSettingText("%G1x"), "%G1x");
  EXPECT_EQ(DecodeSettingText("abc%"), "abc%");
  // Escaped bytes that are not UTF-8 stay as they are.
  EXPECT_EQ(DecodeSettingText("%FF%FE"), "\xFF\xFE");
  // Raw high bytes in the stored text: no UTF-8 step.
  EXPECT_EQ(DecodeSettingText("\xE9+%41"), "\xE9 A");
  EXPECT_EQ(DecodeSettingText("%00a"), std::string("\0a", 2));
}

TEST(SettingFloat, RoundTripsWithoutLocaleAndReadsComma) {
  for (double v : {0.0, 1.5, -2.25, 0.1, 1e-300, 123456789.123456789}) {
    double back = 0;
    ASSERT_TRUE(ParseSettingFloat(FormatSettingFloat(v), &back)) << v;
    EXPECT_EQ(back, v);
  }
  EXPECT_EQ(FormatSettingFloat(0.5), "0.5");
  double d = 0;
  EXPECT_TRUE(ParseSettingFloat(" 2,5 ", &d));
  EXPECT_EQ(d, 2.5);
  EXPECT_TRUE(ParseSettingFloat("+7", &d));
  EXPECT_EQ(d, 7);
  EXPECT_FALSE(ParseSettingFloat("", &d));
  EXPECT_FALSE(ParseSettingFloat("1.5x", &d));
  EXPECT_FALSE(ParseSettingFloat("1,000.5", &d));
}

}  // namespace
