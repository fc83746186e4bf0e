#include "paramlist/ole_variant.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <limits>
#include <string>

#include "base/errors.h"
#include "platform/datetime.h"

namespace {

using platform::VARIANT;

VARIANT Raw(platform::VARTYPE vt) {
  VARIANT v;
  platform::VariantInit(&v);
  v.vt = vt;
  return v;
}

TEST(OleVariantOwnership, CopiesAreDeepAndMovesLeaveEmpty) {
  OleVariant a("abc");
  OleVariant b = a;
  ASSERT_EQ(b.Type(), platform::VT_BSTR);
  EXPECT_NE(a.Raw().bstrVal, b.Raw().bstrVal);
  OleVariant c = std::move(a);
  EXPECT_TRUE(a.IsEmpty());  // NOLINT: moved-from state is defined
  EXPECT_EQ(c.ToString(), "abc");
  b = c;
  b = b;  // self-assignment keeps the value
  EXPECT_EQ(b.ToString(), "abc");
  b = OleVariant(3);
  EXPECT_EQ(b.ToInt(), 3);

  VARIANT raw = c.Detach();
  EXPECT_TRUE(c.IsEmpty());
  OleVariant back = OleVariant::Attach(&raw);
  EXPECT_EQ(raw.vt, platform::VT_EMPTY);
  EXPECT_EQ(back.ToString(), "abc");
}

TEST(OleVariantOwnership, HostStringTypesBecomeOleStrings) {
  const char narrow[] = "meter";
  VARIANT a = Raw(platform::VT_HOST_ANSI_STRING);
  a.byref = const_cast<char*>(narrow);
  OleVariant va(a);
  EXPECT_EQ(va.Type(), platform::VT_BSTR);
  EXPECT_EQ(va.ToString(), "meter");

  const platform::WString wide = platform::AnsiToWide("wide");
  VARIANT w = Raw(platform::VT_HOST_UNICODE_STRING);
  w.byref = const_cast<platform::WChar*>(wide.c_str());
  EXPECT_EQ(OleVariant(w).ToString(), "wide");
  // A narrow payload read by a wide slot.
  VARIANT aw = Raw(platform::VT_HOST_ANSI_STRING);
  aw.byref = const_cast<platform::WChar*>(wide.c_str());
  EXPECT_EQ(FromHostValue(&aw, HostStringForm::Wide).ToString(), "wide");
  EXPECT_EQ(FromHostValue(&w, HostStringForm::Narrow).ToString(), "wide");

  VARIANT none = Raw(platform::VT_HOST_ANSI_STRING);
  OleVariant empty_text(none);
  EXPECT_EQ(empty_text.Type(), platform::VT_BSTR);
  EXPECT_EQ(empty_text.ToString(), "");
  EXPECT_TRUE(FromHostValue(nullptr, HostStringForm::Narrow).IsEmpty());
}

TEST(OleVariantText, NumbersBooleansAndDates) {
  EXPECT_EQ(OleVariant(-42).ToString(), "-42");
  EXPECT_EQ(OleVariant(uint32_t{4000000000u}).ToString(), "4000000000");
  EXPECT_EQ(OleVariant(int64_t{-9000000000}).ToString(), "-9000000000");
  EXPECT_EQ(OleVariant(std::numeric_limits<uint64_t>::max()).ToString(), "18446744073709551615");
  EXPECT_EQ(OleVariant(true).ToString(), "True");
  EXPECT_EQ(OleVariant(false).ToString(), "False");
  EXPECT_EQ(OleVariant().ToString(), "");
  EXPECT_EQ(OleVariant::Null().ToString(), "");
  EXPECT_EQ(OleVariant(0.1).ToString(), "0.1");
  EXPECT_EQ(OleVariant(220.0).ToString(), "220");
  EXPECT_EQ(OleVariant(-1.5e-7).ToString(), "-1.5e-07");
  const double third = 1.0 / 3.0;
  EXPECT_EQ(OleVariant(OleVariant(third).ToString()).ToDouble(), third);

  int64_t days = 0;
  ASSERT_TRUE(platform::TryEncodeDate(2024, 2, 29, &days));
  EXPECT_EQ(OleVariant::FromDate(static_cast<double>(days)).ToString(), "2024-02-29");
  const double t = static_cast<double>(days) + (13 * 3600 + 45 * 60 + 7) / 86400.0;
  EXPECT_EQ(OleVariant::FromDate(t).ToString(), "2024-02-29 13:45:07");

  VARIANT cy = Raw(platform::VT_CY);
  cy.cyVal = -12345;  // -1.2345
  EXPECT_EQ(OleVariant(cy).ToString(), "-1.2345");
  cy.cyVal = 25000;
  EXPECT_EQ(OleVariant(cy).ToString(), "2.5");

  VARIANT unk = Raw(platform::VT_ERROR);
  std::string s;
  EXPECT_FALSE(OleVariant(unk).TryToString(&s));
  EXPECT_THROW(OleVariant(unk).ToString(), EConvertError);
}

TEST(OleVariantText, DecimalPointIgnoresTheLocale) {
  const char* locales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252"};
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  bool switched = false;
  for (const char* l : locales)
    if (std::setlocale(LC_NUMERIC, l)) {
      switched = true;
      break;
    }
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma";
  const std::string text = OleVariant(2.5).ToString();
  const double parsed = OleVariant("3.25").ToDouble();
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(text, "2.5");
  EXPECT_EQ(parsed, 3.25);
}

TEST(OleVariantInteger, EveryIntegerTypeAndText) {
  struct Case {
    platform::VARTYPE vt;
    int64_t stored;
    int64_t expected;
  };
  const Case cases[] = {
      {platform::VT_I1, -5, -5},
      {platform::VT_UI1, 200, 200},
      {platform::VT_I2, -300, -300},
      {platform::VT_UI2, 60000, 60000},
      {platform::VT_I4, -70000, -70000},
      {platform::VT_UI4, 4000000000, 4000000000},
      {platform::VT_INT, 9, 9},
      {platform::VT_UINT, 10, 10},
      {platform::VT_I8, -5000000000, -5000000000},
  };
  for (const Case& c : cases) {
    VARIANT v = Raw(c.vt);
    v.llVal = 0;
    switch (c.vt) {
      case platform::VT_I1:
        v.cVal = static_cast<int8_t>(c.stored);
        break;
      case platform::VT_UI1:
        v.bVal = static_cast<uint8_t>(c.stored);
        break;
      case platform::VT_I2:
        v.iVal = static_cast<int16_t>(c.stored);
        break;
      case platform::VT_UI2:
        v.uiVal = static_cast<uint16_t>(c.stored);
        break;
      case platform::VT_I4:
      case platform::VT_INT:
        v.lVal = static_cast<int32_t>(c.stored);
        break;
      case platform::VT_UI4:
      case platform::VT_UINT:
        v.ulVal = static_cast<uint32_t>(c.stored);
        break;
      default:
        v.llVal = c.stored;
        break;
    }
    EXPECT_EQ(OleVariant(v).ToInt64(), c.expected) << "vt " << c.vt;
  }
  // A 64-bit host passes handles as VT_I8; small ones still read as 32-bit.
  EXPECT_EQ(OleVariant(int64_t{0x1234}).ToInt(), 0x1234);
  EXPECT_THROW(OleVariant(int64_t{1} << 40).ToInt(), EConvertError);
  EXPECT_THROW(OleVariant(uint32_t{0x80000000u}).ToInt(), EConvertError);
  EXPECT_EQ(OleVariant(true).ToInt(), 1);
  EXPECT_EQ(OleVariant(7.0).ToInt(), 7);
  EXPECT_THROW(OleVariant(7.5).ToInt(), EConvertError);
  EXPECT_EQ(OleVariant(" -12").ToInt(), -12);
  EXPECT_EQ(OleVariant("$1F").ToInt(), 31);
  EXPECT_EQ(OleVariant("0xFFFFFFFF").ToInt(), -1);
  EXPECT_EQ(OleVariant("0x1FFFFFFFF").ToInt64(), 0x1FFFFFFFFll);
  try {
    OleVariant("12a").ToInt();
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
  }
  int32_t out = 99;
  EXPECT_FALSE(OleVariant().TryToInt(&out));
  EXPECT_FALSE(OleVariant::Null().TryToInt(&out));
  EXPECT_EQ(out, 99);
}

TEST(OleVariantBoolAndDouble, Conversions) {
  EXPECT_TRUE(OleVariant("true").ToBool());
  EXPECT_TRUE(OleVariant("TRUE").ToBool());
  EXPECT_FALSE(OleVariant("False").ToBool());
  EXPECT_TRUE(OleVariant("1").ToBool());
  EXPECT_FALSE(OleVariant("0").ToBool());
  EXPECT_TRUE(OleVariant(-3).ToBool());
  EXPECT_FALSE(OleVariant(0.0).ToBool());
  EXPECT_THROW(OleVariant("yes").ToBool(), EConvertError);
  EXPECT_THROW(OleVariant().ToBool(), EConvertError);

  EXPECT_EQ(OleVariant(" 1e3 ").ToDouble(), 1000.0);
  EXPECT_EQ(OleVariant("+2.5").ToDouble(), 2.5);
  EXPECT_EQ(OleVariant(12).ToDouble(), 12.0);
  EXPECT_THROW(OleVariant("2,5").ToDouble(), EConvertError);
  EXPECT_THROW(OleVariant("").ToDouble(), EConvertError);
}

}  // namespace
