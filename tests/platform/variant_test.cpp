#include "platform/variant.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/strings.h"

namespace {

TEST(Bstr, CarriesItsByteLengthAndAZero) {
  platform::BSTR b = platform::AllocBstrFromAnsi("abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(platform::SysStringLen(b), 3u);
  EXPECT_EQ(b[3], 0);
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<char*>(b) - 4, 4);
  EXPECT_EQ(bytes, 6u);
  EXPECT_EQ(platform::BstrToAnsi(b), "abc");
  platform::SysFreeString(b);
}

TEST(Variant, CopyDuplicatesStrings) {
  platform::VARIANT a, b;
  platform::VariantInit(&a);
  platform::VariantInit(&b);
  a.vt = platform::VT_BSTR;
  a.bstrVal = platform::AllocBstrFromAnsi("x1");
  ASSERT_EQ(platform::VariantCopy(&b, &a), 0);
  EXPECT_NE(a.bstrVal, b.bstrVal);
  EXPECT_EQ(platform::BstrToAnsi(b.bstrVal), "x1");
  platform::VariantClear(&a);
  platform::VariantClear(&b);
  EXPECT_EQ(a.vt, platform::VT_EMPTY);
}

TEST(Strings, Utf8RoundTripsAndCaseFolding) {
  const std::string text = "Z\xC3\xA9\xE4\xB8\xAD";  // Z, e acute, a CJK letter
  EXPECT_EQ(platform::WideToUtf8(platform::Utf8ToWide(text)), text);
  EXPECT_EQ(platform::AsciiLowerCase("ABC_def"), "abc_def");
  EXPECT_TRUE(platform::SameTextAscii("Timeout", "tIMEOUT"));
  EXPECT_FALSE(platform::IsValidUtf8("\x68\x91\x16"));
}

}  // namespace
