#include "base/str_to_int.h"

#include <gtest/gtest.h>

#include "base/errors.h"

namespace {

TEST(StrToInt, DecimalIsRangeChecked) {
  int32_t v = 0;
  EXPECT_TRUE(TryStrToInt("  -2147483648", &v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_FALSE(TryStrToInt("2147483648", &v));
  EXPECT_FALSE(TryStrToInt("12 ", &v));
  EXPECT_FALSE(TryStrToInt("", &v));
  EXPECT_FALSE(TryStrToInt("-", &v));
}

TEST(StrToInt, HexadecimalWrapsLikeTheHost) {
  int32_t v = 0;
  ASSERT_TRUE(TryStrToInt("$8000B611", &v));
  EXPECT_EQ(static_cast<uint32_t>(v), 0x8000B611u);
  ASSERT_TRUE(TryStrToInt("0xff", &v));
  EXPECT_EQ(v, 255);
  ASSERT_TRUE(TryStrToInt("X0000000001", &v));  // leading zeros do not count
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(TryStrToInt("$100000000", &v));  // nine significant digits
  EXPECT_FALSE(TryStrToInt("$", &v));
  EXPECT_THROW(StrToInt("1a"), EConvertError);
}

}  // namespace
