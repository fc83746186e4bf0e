#include "base/trim.h"

#include <gtest/gtest.h>

namespace {

TEST(Trim, ControlsGoesAsFarAsSpaceAndBlanksOnlyAsFarAsTabs) {
  const std::string_view text("\0\r\n\t x = 1 \t\x1f", 14);
  EXPECT_EQ(TrimControls(text), "x = 1");
  EXPECT_EQ(TrimBlanks(" \t x\r\n"), "x\r\n");
  EXPECT_EQ(TrimBlanks("\r key \t"), "\r key");
  // Bytes above 0x7F are text (UTF-8, code pages), never trimmed.
  EXPECT_EQ(TrimControls("\xA0x\xC3\xA4"), "\xA0x\xC3\xA4");
  EXPECT_EQ(TrimControls(" \t\r\n"), "");
  EXPECT_EQ(TrimBlanks(""), "");
}

}  // namespace
