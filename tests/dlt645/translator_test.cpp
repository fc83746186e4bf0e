#include "config/text/translator.h"

#include <gtest/gtest.h>

#include <random>

#include "config/text/custom_text_resources.h"
#include "dlt645/text_resources.h"
#include "platform/files.h"
#include "platform/strings.h"
#include "support/test_folder.h"

namespace {

// A component with a caption, a hint and a list of captions.
class Item : public TComponent {
 public:
  Item(TComponent* owner, const char* name, const char* caption, int32_t tag = 0)
      : TComponent(owner) {
    SetName(name);
    SetTag(tag);
    Caption = caption;
    Hint = caption;
  }
  const char* ClassName() const override { return "TItem"; }
  std::span<const TPropInfo> PublishedProperties() const override {
    static const auto props = JoinProps(
        ComponentProperties(),
        {{"Caption", TTypeKind::tkString,
          [](const TPersistent& s) -> TPropValue { return PropSelf<Item>(s).Caption; },
          [](TPersistent& s, const TPropValue& v) { PropSelf<Item>(s).Caption = PropAsText(v); }},
         {"Hint", TTypeKind::tkString,
          [](const TPersistent& s) -> TPropValue { return PropSelf<Item>(s).Hint; },
          [](TPersistent& s, const TPropValue& v) { PropSelf<Item>(s).Hint = PropAsText(v); }},
         {"Captions", TTypeKind::tkClass,
          [](const TPersistent& s) -> TPropValue {
            return static_cast<TPersistent*>(&const_cast<Item&>(PropSelf<Item>(s)).Captions);
          },
          nullptr},
         {"Filter", TTypeKind::tkString,
          [](const TPersistent& s) -> TPropValue { return PropSelf<Item>(s).Filter; },
          [](TPersistent& s, const TPropValue& v) { PropSelf<Item>(s).Filter = PropAsText(v); }}});
    return props;
  }
  std::string Caption, Hint, Filter = "Request";
  TStrings Captions;
};

const char kFile[] =
    "Encoding=utf-8\r\n"
    "// a comment\r\n"
    "//saveuntr\r\n"
    "[Languages]\r\n"
    "$DE=Deutsch\r\n"
    "Default=DE\r\n"
    "\r\n"
    "EN:>Request\r\n"
    "DE:>Anfrage\r\n"
    "\r\n"
    "  EN:>Device address  \r\n"
    "FR:>Adresse\r\n"
    "DE:>Ger\xC3\xA4teadresse\r\n"
    "\n"
    "EN:>Error on items formation (%s)\r\n"
    "DE:>Fehler beim Aufbau (%s)\r\n"
    "\r\n"
    "EN:>Unallowable address: %s\r\n"
    "DE:>Unzul\xC3\xA4ssige Adresse: %d\r\n"
    "\r\n"
    "EN:>Invalid CRC (%.2x,%.2x)\r\n"
    "DE:>CRC falsch (%.2X,%.2X)\r\n"
    "\r\n"
    "EN:>Polling\r\n"
    "DE:>Abfrage";  // the last block has no empty line after it

class TranslatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lng_ = folder_.File("dlt645.lng");
    ASSERT_TRUE(platform::ReplaceFileContent(lng_, std::string(kFile, sizeof kFile - 1)));
    tr_.LanguageFiles = folder_.File("plugins.lng") + "|" + lng_;
  }
  TestFolder folder_;
  std::string lng_;
  TTranslator tr_;
};

TEST_F(TranslatorTest, ReadsBlocksHeadersAndTheLastBlock) {
  ASSERT_TRUE(tr_.LoadLanguage("DE"));
  std::string out;
  ASSERT_TRUE(tr_.TranslateText("Request", &out));
  EXPECT_EQ(out, "Anfrage");
  ASSERT_TRUE(tr_.TranslateText("device ADDRESS", &out) ||
              tr_.TranslateText("device address", &out));
  EXPECT_EQ(out, platform::Utf8ToAnsi("Ger\xC3\xA4teadresse"));
  ASSERT_TRUE(tr_.TranslateText("Polling", &out));
  EXPECT_EQ(out, "Abfrage");
  EXPECT_FALSE(tr_.TranslateText("Unknown", &out));
  EXPECT_EQ(tr_.Language().Switches, std::vector<std::string>{"//saveuntr"});
  EXPECT_EQ(tr_.DefaultLanguage(), "DE");
  EXPECT_FALSE(tr_.LoadLanguage("IT"));
  EXPECT_FALSE(tr_.TranslateText("Request", &out));
}

TEST_F(TranslatorTest, WalksComponentsByTheirTags) {
  TComponent root;
  Item plain(&root, "plain", "Request");
  Item skipped(&root, "skipped", "Request", 9999);
  Item skipped_child(&skipped, "child", "Request");
  Item under(&root, "__pBot", "Request");
  Item not_self(&root, "notSelf", "Request", 9998);
  Item not_self_child(&not_self, "child", "Polling");
  Item custom(&root, "custom", "Request", 9997);
  Item leaf(&root, "_leaf", "Request");
  Item leaf_child(&leaf, "child", "Request");
  Item masked(&root, "masked", "Request", 10000 + 2);  // caption kept
  masked.Captions.SetItems({"Request", "Polling", "x"});
  std::vector<std::string> custom_seen;
  tr_.OnCustomTranslate = [&](TTranslator&, TComponent& c) { custom_seen.push_back(c.Name()); };
  tr_.AddComponentProperty("filter");

  ASSERT_TRUE(tr_.Translate(root, "DE"));
  EXPECT_EQ(plain.Caption, "Anfrage");
  EXPECT_EQ(plain.Hint, "Anfrage");
  EXPECT_EQ(plain.Filter, "Anfrage");
  EXPECT_EQ(skipped.Caption, "Request");
  EXPECT_EQ(skipped_child.Caption, "Request");
  EXPECT_EQ(under.Caption, "Request");
  EXPECT_EQ(not_self.Caption, "Request");
  EXPECT_EQ(not_self_child.Caption, "Abfrage");
  EXPECT_EQ(custom.Caption, "Request");
  EXPECT_EQ(leaf.Caption, "Anfrage");
  EXPECT_EQ(leaf_child.Caption, "Request");
  EXPECT_EQ(masked.Caption, "Request");
  EXPECT_EQ(masked.Hint, "Anfrage");
  EXPECT_EQ(masked.Captions.Items(), (std::vector<std::string>{"Anfrage", "Abfrage", "x"}));
  EXPECT_NE(std::find(custom_seen.begin(), custom_seen.end(), "custom"), custom_seen.end());
  EXPECT_NE(std::find(custom_seen.begin(), custom_seen.end(), "plain"), custom_seen.end());
}

TEST_F(TranslatorTest, NoTranslationsTouchNothing) {
  TComponent root;
  Item plain(&root, "plain", "Request");
  EXPECT_FALSE(tr_.Translate(root, "NONE"));
  EXPECT_FALSE(tr_.Translate(root, ""));
  EXPECT_EQ(plain.Caption, "Request");
}

TEST_F(TranslatorTest, TextResourcesTakeMatchingFormatsOnlyAndOnce) {
  TComponent owner;
  TTextResources res(&owner);
  EXPECT_EQ(res.Tag(), 9997);
  tr_.Translate(owner, "DE");  // the walk passes the resources by
  EXPECT_EQ(res.MsgItemsFormation, "Error on items formation (%s)");

  ASSERT_TRUE(tr_.Translate(res, "DE"));
  EXPECT_TRUE(res.Translated());
  EXPECT_EQ(res.ItemsFormation("boom"), "Fehler beim Aufbau (boom)");
  EXPECT_EQ(res.InvalidCRC(0x1f, 0xa0), "CRC falsch (1F,A0)");
  // "%d" where "%s" stood: refused, the built-in text stays.
  EXPECT_EQ(res.UnallowableAddress("000000000001"), "Unallowable address: 000000000001");
  EXPECT_EQ(res.RequestTimeout(), "Request timeout");

  // A second translation changes nothing.
  const std::string other = folder_.File("other.lng");
  ASSERT_TRUE(
      platform::ReplaceFileContent(other, "EN:>Error on items formation (%s)\nDE:>Anders (%s)\n"));
  tr_.LanguageFiles = other;
  tr_.LoadLanguage("FR");
  ASSERT_TRUE(tr_.Translate(res, "DE"));
  EXPECT_EQ(res.MsgItemsFormation, "Fehler beim Aufbau (%s)");
}

TEST_F(TranslatorTest, PluginLanguageSetup) {
  const std::string lib = folder_.File("dlt645.dll");
  const std::string host = folder_.File("host.exe");
  EXPECT_EQ(SetupPluginLanguage(tr_, host, lib), "DE");
  EXPECT_EQ(tr_.LanguageFiles, folder_.File("plugins.lng") + "|" + lng_);
  // plugins.lng comes first when it lists languages.
  ASSERT_TRUE(platform::ReplaceFileContent(folder_.File("plugins.lng"),
                                           "[Languages]\n$FR=Fran\xE7"
                                           "ais\nDefault=FR\n"));
  EXPECT_EQ(SetupPluginLanguage(tr_, host, lib), "FR");
  EXPECT_EQ(SetupPluginLanguage(tr_, host, folder_.File("other.dll")), "EN");
  EXPECT_EQ(tr_.LanguageFiles, "");
}

TEST(LanguageFile, CodePagesAndByteOrderMarks) {
  TLanguageData d;
  ParseLanguageFile(
      "Charset=windows-1252\nBiDiMode=righttoleft\nLocale=0x0409\n\nEN:>Hour\nDE:>Stunde \xE4\n",
      "EN", "DE", &d);
  EXPECT_EQ(d.BiDiMode, 1);
  EXPECT_EQ(d.Charset, 0);
  EXPECT_EQ(d.Locale, 0x409u);
  EXPECT_EQ(d.Translations["Hour"], platform::Utf8ToAnsi("Stunde \xC3\xA4"));

  TLanguageData u;
  ParseLanguageFile(std::string("\xFF\xFE"
                                "E\0N\0:\0>\0A\0\n\0D\0E\0:\0>\0\xE4\0",
                                24),
                    "EN", "DE", &u);
  EXPECT_EQ(u.Translations["A"], platform::Utf8ToAnsi("\xC3\xA4"));

  // A UTF-16 file that says so in its header stays decoded.
  const platform::WString wide = platform::Utf8ToWide(
      "Encoding=unicode\n\nEN:>Price\nDE:>\xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D\n");
  for (bool big_endian : {false, true}) {
    std::string file = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const auto c : wide) {
      const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>((c >> 8) & 0xFF);
      file += big_endian ? std::string{hi, lo} : std::string{lo, hi};
    }
    TLanguageData w;
    ParseLanguageFile(file, "EN", "DE", &w);
    EXPECT_EQ(w.Translations["Price"],
              platform::Utf8ToAnsi("\xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D"));
  }

  // Windows-1252 is not Latin-1: 0x80..0x9F hold the euro sign, quotes and dashes.
  TLanguageData c;
  ParseLanguageFile("Charset=windows-1252\n\nEN:>Price\nDE:>\x80 5 \x93ok\x94 \x96 \xE4\n", "EN",
                    "DE", &c);
  EXPECT_EQ(
      c.Translations["Price"],
      platform::Utf8ToAnsi("\xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D \xE2\x80\x93 \xC3\xA4"));
}

TEST(LanguageFile, AnyBytesParseWithoutHarm) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::string junk(rng() % 400, '\0');
    for (char& c : junk) {
      const uint32_t r = rng() % 10;
      c = r < 2 ? '\n' : r < 3 ? ':' : r < 4 ? '>' : static_cast<char>(rng());
    }
    if (round % 2) junk = "Encoding=utf-8\nCharset=gb2312\nEN:>x\nDE:>" + junk;
    TLanguageData d;
    ParseLanguageFile(junk, "EN", "DE", &d);
    for (const auto& [src, dst] : d.Translations) {
      EXPECT_FALSE(src.empty());
      EXPECT_FALSE(dst.empty());
    }
  }
}

}  // namespace
