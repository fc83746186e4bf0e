#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "config/dialog/options_form.h"
#include "config/store/ini_file.h"
#include "config/store/proxy_code_object.h"
#include "config/store/wreg.h"
#include "host_commands.h"
#include "host_config.h"
#include "platform/module.h"

namespace {

using namespace host;

TEST(HostXmlSyntax, WellFormedTextsPass) {
  EXPECT_EQ(XmlSyntaxError("<?xml version=\"1.0\"?>\n<!-- c -->\n<A x='1' y=\"&amp;\"><B/>"
                           "<![CDATA[<raw>]]>t&#x41;&#65;</A>\n"),
            "");
  EXPECT_EQ(XmlSyntaxError("<A></A >"), "");
}

TEST(HostXmlSyntax, ErrorsCarryLineAndColumn) {
  EXPECT_EQ(XmlSyntaxError("<A>\n  <B>\n</A>"),
            "3:1: closing tag </A> does not match <B> of line 2");
  EXPECT_EQ(XmlSyntaxError("<A>\n<B>"), "2:4: element <B> of line 2 is never closed");
  EXPECT_EQ(XmlSyntaxError("<A x=1/>"), "1:6: attribute x needs a quoted value");
  EXPECT_EQ(XmlSyntaxError("<A>R&D;</A>"), "1:5: unknown entity &D;");
  EXPECT_NE(XmlSyntaxError("<A>R & D</A>").find("starts no entity"), std::string::npos);
  EXPECT_NE(XmlSyntaxError("<A/><B/>").find("second root"), std::string::npos);
  EXPECT_NE(XmlSyntaxError("junk<A/>").find("outside the root"), std::string::npos);
  EXPECT_NE(XmlSyntaxError("").find("no element"), std::string::npos);
  EXPECT_NE(XmlSyntaxError("<A x='1' x='2'/>").find("twice"), std::string::npos);
  EXPECT_NE(XmlSyntaxError("<A><!-- open </A>").find("unterminated comment"), std::string::npos);
}

const char* const kQuery =
    "<DL_T645_2007_QUERY>\r\n"
    "  <Request caption=\"Volts 100%\">\r\n"
    "    <Enabled>1</Enabled><Device>1;2</Device><MethodPoll>1</MethodPoll>\r\n"
    "    <Response><Item><Function>02010100</Function></Item>"
    "<Item><Function>8000B611</Function></Item></Response>\r\n"
    "  </Request>\r\n"
    "  <Request><Device>3</Device></Request>\r\n"
    "  <Request><Enabled>1</Enabled><Response><Item><Function>00000000</Function></Item>"
    "<Item><Rate>1</Rate></Item><Item><Function>0</Function></Item></Response></Request>\r\n"
    "  <Request><Enabled>1</Enabled><Response><Item><Function>0201FF99</Function></Item>"
    "<Item><Function>zz</Function></Item></Response></Request>\r\n"
    "</DL_T645_2007_QUERY>\r\n";

TEST(HostQueryConfig, CountsWhatThePluginWillLoadAndWarnsAboutTheRest) {
  ConfigCheck c;
  std::string e;
  ASSERT_TRUE(CheckQueryConfig(std::string("\xEF\xBB\xBF") + kQuery, &c, &e)) << e;
  // 00000000 written out is the total combined active energy; a missing
  // function or a bare 0 configures nothing.
  EXPECT_EQ(c.requests, 2);
  ASSERT_EQ(c.warnings.size(), 7u);
  EXPECT_NE(c.warnings[0].find("Request #2: no <Enabled>1</Enabled>: listen-only"),
            std::string::npos);
  EXPECT_NE(c.warnings[1].find("Request #2: no <Response>"), std::string::npos);
  EXPECT_NE(c.warnings[2].find("''"), std::string::npos);
  EXPECT_NE(c.warnings[3].find("'0'"), std::string::npos);
  EXPECT_NE(c.warnings[4].find("0201FF99"), std::string::npos);
  EXPECT_NE(c.warnings[5].find("'zz'"), std::string::npos);
  EXPECT_TRUE(c.errors.empty()) << c.errors.front();
  ASSERT_EQ(c.plan.size(), 4u);
  EXPECT_EQ(c.plan[0].caption, "Volts 100%");
  EXPECT_EQ(c.plan[0].method, "poll");
  EXPECT_EQ(c.plan[0].devices, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(c.plan[0].functions, (std::vector<std::string>{"02010100", "8000B611"}));
  EXPECT_FALSE(c.plan[1].loaded);
  EXPECT_TRUE(c.plan[1].listen_only);
  EXPECT_EQ(c.xml.compare(0, 5, "<DL_T"), 0);  // the BOM is gone
}

std::string Request(const std::string& caption, const std::string& body) {
  return "<Request caption=\"" + caption + "\"><Enabled>1</Enabled>" + body +
         "<Response><Item><Function>02010100</Function></Item></Response></Request>";
}

TEST(HostQueryConfig, EveryDoubtfulEntryIsNamedWithItsRequest) {
  const std::string text =
      "<DL_T645_2007_QUERY>" +
      std::string(
          "<Request caption=\"Quiet\"><Device>1</Device><Response><Item>"
          "<Function>02010100</Function></Item></Response></Request>") +
      Request("Units",
              "<MethodPoll>1</MethodPoll><PollInterval>5</PollInterval>"
              "<PollUnits>sec</PollUnits>") +
      Request("Cron5", "<MethodCron>1</MethodCron><CronTime>0 * * * *</CronTime>") +
      Request("Never", "<MethodCron>1</MethodCron><CronTime>0 0 0 30 2 *</CronTime>") +
      Request("Long",
              "<MethodCron>1</MethodCron><CronTime>" + std::string(300, '1') + "</CronTime>") +
      Request("At", "<MethodAtTime>1</MethodAtTime><AtTime>25:99:00;12:00;1:70</AtTime>") +
      Request("Addr", "<Device>12A;1</Device>") +
      Request("Code",
              "<Device>1</Device></Request><Request caption=\"Code2\"><Enabled>1</Enabled>"
              "<Response><Item><Function>0201FF99</Function></Item></Response>") +
      Request("Zero", "<MethodPoll>1</MethodPoll><PollInterval>0</PollInterval>") +
      Request("Big", "<MethodPoll>1</MethodPoll><PollInterval>655351</PollInterval>") +
      Request("Wait", "<Timeout>-5</Timeout>") +
      Request("Fine",
              "<MethodAtTime>1</MethodAtTime><AtTime>1:30 pm; 23:59:59;7</AtTime>"
              "<Timeout>65535</Timeout>") +
      Request("Secs", "<MethodCron>1</MethodCron><CronTime>*/15 * * * * *</CronTime>") +
      "</DL_T645_2007_QUERY>";
  ConfigCheck c;
  std::string e;
  ASSERT_TRUE(CheckQueryConfig(text, &c, &e)) << e;
  const auto named = [](const std::vector<std::string>& lines, const std::string& caption,
                        const std::string& what) {
    for (const std::string& line : lines)
      if (line.rfind(caption + ": ", 0) == 0 && line.find(what) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(named(c.warnings, "Quiet", "listen-only"));
  EXPECT_TRUE(named(c.errors, "Units", "\"sec\""));
  EXPECT_TRUE(named(c.errors, "Cron5", "5 fields"));
  EXPECT_TRUE(named(c.errors, "Never", "never fires"));
  EXPECT_TRUE(named(c.errors, "Long", "longer than 255"));
  EXPECT_TRUE(named(c.errors, "At", "\"25:99:00\""));
  EXPECT_TRUE(named(c.errors, "At", "\"1:70\""));
  EXPECT_TRUE(named(c.errors, "Addr", "\"12A\""));
  EXPECT_TRUE(named(c.warnings, "Code2", "0201FF99"));
  EXPECT_TRUE(named(c.errors, "Zero", "PollInterval 0 is outside 1..655350"));
  EXPECT_TRUE(named(c.errors, "Big", "PollInterval 655351"));
  EXPECT_TRUE(named(c.errors, "Wait", "Timeout -5"));
  EXPECT_EQ(c.errors.size(), 10u);
  for (const std::string& line : c.errors) {
    EXPECT_EQ(line.rfind("Fine", 0), std::string::npos) << line;
    EXPECT_EQ(line.rfind("Secs", 0), std::string::npos) << line;
  }
  EXPECT_EQ(ConfigCheckExit(c, false), 2);
  ASSERT_EQ(c.plan.size(), 14u);
  EXPECT_DOUBLE_EQ(c.plan[13].period_s, 15);
  EXPECT_EQ(c.plan[13].method, "cron");

  ConfigCheck quiet;
  ASSERT_TRUE(
      CheckQueryConfig("<DL_T645_2007_QUERY><Request><Response><Item><Function>02010100"
                       "</Function></Item></Response></Request></DL_T645_2007_QUERY>",
                       &quiet, &e));
  EXPECT_EQ(ConfigCheckExit(quiet, false), 0);
  EXPECT_EQ(ConfigCheckExit(quiet, true), 1);

  // A code is read as the plug-in reads it: leading zeros past eight digits
  // still name the function the plug-in will poll.
  ConfigCheck padded;
  ASSERT_TRUE(
      CheckQueryConfig("<DL_T645_2007_QUERY><Request><Enabled>1</Enabled><Response><Item>"
                       "<Function>00203FF00</Function></Item></Response></Request>"
                       "</DL_T645_2007_QUERY>",
                       &padded, &e));
  ASSERT_EQ(padded.plan.size(), 1u);
  EXPECT_EQ(padded.plan[0].functions, (std::vector<std::string>{"00203FF00"}));

  // An entry that is itself a <Response> is a request to the plug-in, which
  // reads its items: the check lists them too.
  ConfigCheck bare;
  ASSERT_TRUE(
      CheckQueryConfig("<DL_T645_2007_QUERY><Response><Item><Function>00010000"
                       "</Function></Item></Response></DL_T645_2007_QUERY>",
                       &bare, &e));
  EXPECT_EQ(bare.requests, 1);
  ASSERT_EQ(bare.plan.size(), 1u);
  EXPECT_EQ(bare.plan[0].functions, (std::vector<std::string>{"00010000"}));
}

TEST(HostQueryConfig, RefusesWhatIsNoQueryConfiguration) {
  ConfigCheck c;
  std::string e;
  EXPECT_FALSE(CheckQueryConfig("<Other><Request/></Other>", &c, &e));
  EXPECT_NE(e.find("DL_T645_2007_QUERY"), std::string::npos);
  EXPECT_FALSE(CheckQueryConfig("<DL_T645_2007_QUERY><Request></DL_T645_2007_QUERY>", &c, &e));
  EXPECT_NE(e.find("does not match"), std::string::npos);
  EXPECT_FALSE(CheckQueryConfig("<DL_T645_2007_QUERY>\xFF</DL_T645_2007_QUERY>", &c, &e));
}

class HostSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    path_ = (std::filesystem::temp_directory_path() /
             ("host-settings-" + std::to_string(rd()) + ".ini"))
                .string();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  std::string path_;
};

TEST_F(HostSettingsFile, ThePluginsStoreReadsBackWhatTheHostWrote) {
  // Line breaks, runs of blanks, a percent sign and non-ASCII text all
  // travel encoded.
  ConfigCheck c;
  std::string e;
  ASSERT_TRUE(CheckQueryConfig(std::string(kQuery) + "<!--  \xC2\xB0"
                                                     "C -->",
                               &c, &e))
      << e;
  {
    std::ofstream f(path_, std::ios::binary);
    f << "[Other]\r\nKeep=me\r\n";
  }
  ASSERT_TRUE(WriteSettingsFile(path_, "{Cfg:Main}", c.xml, &e)) << e;

  TDataSourceCfg cfg;
  TWreg store;
  store.INIFile = path_;
  store.INIFileSectionPrefix = "{Cfg:Main}";
  store.Components.SetItems(options_form::KeptProperties());
  ASSERT_TRUE(store.Load(&cfg));
  EXPECT_EQ(cfg.lblParams_Caption, c.xml);

  TIniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(path_));
  std::string kept;
  EXPECT_TRUE(ini.ReadString("Other", "Keep", &kept));
  EXPECT_EQ(kept, "me");
  std::string xml;
  ASSERT_TRUE(ReadSettingsFile(path_, "{Cfg:Main}", &xml, &e)) << e;
  EXPECT_EQ(xml, c.xml);
}

TEST_F(HostSettingsFile, AMissingFileOrKeyIsNamed) {
  std::string xml;
  std::string e;
  EXPECT_FALSE(ReadSettingsFile(path_, "P", &xml, &e));
  EXPECT_NE(e.find("cannot be read"), std::string::npos);
  ASSERT_TRUE(WriteSettingsFile(path_, "P", "<DL_T645_2007_QUERY/>", &e)) << e;
  EXPECT_FALSE(ReadSettingsFile(path_, "Q", &xml, &e));
  EXPECT_NE(e.find("[Q.Common]"), std::string::npos);
}

TEST_F(HostSettingsFile, ConfigurationFileErrorsNameTheFile) {
  {
    std::ofstream f(path_, std::ios::binary);
    f << "<DL_T645_2007_QUERY>\n<Request>\n</DL_T645_2007_QUERY>\n";
  }
  ConfigCheck c;
  std::string e;
  EXPECT_FALSE(ReadQueryConfigFile(path_, &c, &e));
  EXPECT_EQ(e,
            path_ + ":3:1: closing tag </DL_T645_2007_QUERY> does not match <Request> of line 2");
  EXPECT_FALSE(ReadQueryConfigFile(path_ + ".none", &c, &e));
  EXPECT_NE(e.find("cannot be read"), std::string::npos);
#ifndef _WIN32
  // A device that never ends is refused at the limit, not read to exhaustion.
  EXPECT_FALSE(ReadQueryConfigFile("/dev/zero", &c, &e));
  EXPECT_EQ(e, "/dev/zero: larger than 64 MB, not a query configuration");
#endif
}

TEST(HostXmlSyntax, LinesAreCountedRightDeepIntoALongText) {
  // Line numbers are counted as the check goes; an element opened far down
  // and never closed still names its own line.
  std::string text = "<A>\n";
  for (int i = 0; i < 20000; ++i)
    text += "  <B x=\"1\">v</B>\n";
  text += "  <C>\n</A>";
  EXPECT_EQ(XmlSyntaxError(text), "20003:1: closing tag </A> does not match <C> of line 20002");
}

}  // namespace

namespace {

// The configurations the README and the demo use load without a complaint.
TEST(HostExamples, LoadCleanly) {
  const auto dir = std::filesystem::path(platform::ProgramFileName()).parent_path() / "examples";
  int seen = 0;
  for (const char* name : {"demo.xml", "serial-meter.xml", "dtu-server.xml"}) {
    ConfigCheck c;
    std::string e;
    ASSERT_TRUE(host::ReadQueryConfigFile((dir / name).string(), &c, &e)) << e;
    EXPECT_TRUE(c.warnings.empty()) << name << ": " << c.warnings.front();
    EXPECT_TRUE(c.errors.empty()) << name << ": " << c.errors.front();
    EXPECT_GT(c.requests, 0) << name;
    ++seen;
  }
  EXPECT_EQ(seen, 3);
}

}  // namespace
