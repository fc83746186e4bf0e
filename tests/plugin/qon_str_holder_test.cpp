#include "config/text/qon_str_holder.h"

#include <gtest/gtest.h>

#include "config/dialog/form_stream.h"
#include "platform/strings.h"
#include "plugin/module_settings.h"

namespace {

TEST(StrHolder, EmptyKeyStoresPlainHexOfTheUtf8Form) {
  TqonStrHolder h;
  h.SetStrings({"abc"});
  EXPECT_EQ(h.EncodeStrData(), (std::vector<std::string>{"", "616263"}));
  TqonStrHolder back;
  back.InternalVer = 2;
  back.DecodeStrData({"", "616263"});
  EXPECT_EQ(back.Strings().Items(), std::vector<std::string>{"abc"});
  back.DecodeStrData({"", "4C6566742C4C656674"});  // upper-case digits read as well
  EXPECT_EQ(back.Strings().Items(), std::vector<std::string>{"Left,Left"});
}

TEST(StrHolder, KeyedEncodingXorsEveryByteWithTheKey) {
  TqonStrHolder h;
  h.KeyString = "k\x01";
  const std::string item = platform::Utf8ToAnsi("Z\xC3\xA4hler");
  h.SetStrings({item, ""});
  const auto data = h.EncodeStrData();
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0], "k\x01");
  const std::string utf8 = "Z\xC3\xA4hler";
  ASSERT_EQ(data[1].size(), utf8.size() * 2);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const int b = std::stoi(data[1].substr(i * 2, 2), nullptr, 16);
    EXPECT_EQ(b, static_cast<unsigned char>(utf8[i]) ^ static_cast<unsigned char>("k\x01"[i % 2]));
  }
  EXPECT_EQ(data[2], "");
  TqonStrHolder back;
  back.InternalVer = 2;
  back.DecodeStrData(data);
  EXPECT_EQ(back.KeyString, "k\x01");
  EXPECT_EQ(back.Strings().Items(), (std::vector<std::string>{item, ""}));
}

TEST(StrHolder, OldVersionsAndMalformedDigits) {
  TqonStrHolder h;
  h.InternalVer = 2;
  // A bad second digit gives a blank, a bad first digit counts as 0, a
  // trailing odd digit is dropped.
  h.DecodeStrData({"", "4Gz1616"});
  EXPECT_EQ(h.Strings()[0],
            " \x01"
            "a");
  h.InternalVer = 1;
  h.DecodeStrData({"K", "0A2x"});  // 0x0A ^ 'K', then a pair that does not convert
  EXPECT_EQ(h.Strings()[0],
            std::string() + static_cast<char>(0x0A ^ 'K') + static_cast<char>(32 ^ 'K'));
  h.InternalVer = 0;
  h.DecodeStrData({"", std::string(300, 'x')});
  EXPECT_EQ(h.Strings()[0], std::string(255, 'x'));
  h.DecodeStrData({"\x01", "ab"});
  EXPECT_EQ(h.Strings()[0], "`c");
  h.DecodeStrData({});
  EXPECT_EQ(h.Strings().Count(), 0u);
  EXPECT_EQ(h.KeyString, "\x01");
}

TEST(StrHolder, WhenStrDataIsWritten) {
  TqonStrHolder empty;
  EXPECT_FALSE(empty.StrDataStored(nullptr));
  empty.KeyString = "k";
  EXPECT_TRUE(empty.StrDataStored(nullptr));

  TqonStrHolder a, ancestor;
  a.SetStrings({"Left,Left", "x"});
  ancestor.SetStrings({"LEFT,left", "X"});
  EXPECT_FALSE(a.StrDataStored(&ancestor));  // same but for letter case
  ancestor.SetStrings({"Left,Left", "y"});
  EXPECT_TRUE(a.StrDataStored(&ancestor));
  ancestor.SetStrings({"Left,Left"});
  EXPECT_TRUE(a.StrDataStored(&ancestor));  // another count
  ancestor.SetStrings({"Left,Left", "x"});
  ancestor.KeyString = "other";
  EXPECT_TRUE(a.StrDataStored(&ancestor));
}

TEST(StrHolder, StreamRoundTripRaisesNoChangeEvents) {
  TqonStrHolder props;
  SetupPropertiesHolder(props);
  TFormStreamWriter w;
  props.WriteComponent(w);

  TqonStrHolder back;
  int changes = 0;
  back.OnChange = [&](TqonStrHolder&) { ++changes; };
  back.OnChanging = [&](TqonStrHolder&) { ++changes; };
  TFormStreamReader r(w.Data());
  back.ReadComponent(r);
  EXPECT_TRUE(r.AtEnd());
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(back.Name(), "Properties");
  EXPECT_EQ(back.Tag(), 9999);
  EXPECT_EQ(back.Capacity(), 12u);
  EXPECT_EQ(back.InternalVer, 2);
  EXPECT_EQ(back.Strings().Items(), props.Strings().Items());
  back.SetStrings({"changed"});
  EXPECT_EQ(changes, 2);

  // Written under an equal ancestor: neither InternalVer nor StrData.
  TFormStreamWriter w2;
  props.WriteComponent(w2, &props);
  EXPECT_EQ(w2.Data().find("StrData"), std::string::npos);
  EXPECT_EQ(w2.Data().find("InternalVer"), std::string::npos);
}

TEST(StrHolder, TruncatedStreamsRaise) {
  TqonStrHolder props;
  SetupPropertiesHolder(props);
  TFormStreamWriter w;
  props.WriteComponent(w);
  for (size_t n = 0; n < w.Data().size(); n += 7) {
    TqonStrHolder back;
    TFormStreamReader r(std::string_view(w.Data()).substr(0, n));
    EXPECT_THROW(back.ReadComponent(r), std::runtime_error) << n;
  }
}

TEST(StrHolder, PluginPropertiesHolder) {
  TqonStrHolder p;
  SetupPropertiesHolder(p);
  ASSERT_EQ(p.Strings().Count(), 10u);
  EXPECT_EQ(p.Strings()[0], "Left,Left");
  EXPECT_EQ(p.Strings()[4], ";---short---");
  EXPECT_EQ(p.Strings()[5], "lblParams.Caption,Parser config");
  EXPECT_EQ(p.Strings()[8], "spMinInt.Value,Min interval");
  EXPECT_EQ(p.Strings()[9], "");
  EXPECT_EQ(p.EncodeStrData()[1], "4c6566742c4c656674");
}

TEST(StrHolder, AssignCopiesStrings) {
  TqonStrHolder a, b;
  a.SetStrings({"1", "2"});
  b.Assign(a);
  EXPECT_EQ(b.Strings().Items(), a.Strings().Items());
  TStrings list;
  list.Assign(a);
  EXPECT_EQ(list.Items(), a.Strings().Items());
  b.Assign(TStrings{"x"});
  EXPECT_EQ(b.Strings().Items(), std::vector<std::string>{"x"});
}

}  // namespace
