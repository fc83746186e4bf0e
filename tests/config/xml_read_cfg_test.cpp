#include <gtest/gtest.h>

#include "config/xml/dov_xml_tree.h"
#include "config/xml/read_cfg.h"

namespace {

class XmlReadCfg : public ::testing::Test {
 protected:
  const TdovXMLNode* Parse(std::string_view text) {
    tree_.SetXML(text);
    return tree_.FindDescendant("r");
  }
  TdovXMLTree tree_;
};

TEST_F(XmlReadCfg, NodeMatchesStartThenSearches) {
  const TdovXMLNode* r = Parse("<r><a><Timeout>1</Timeout></a><b>2</b></r><Other>3</Other>");
  EXPECT_EQ(ReadCfgNode(r, "R"), r);
  EXPECT_EQ(ReadCfgNode(r, "timeout")->Text(), "1");
  EXPECT_EQ(ReadCfgNode(r, "timeout", false), nullptr);
  EXPECT_EQ(ReadCfgNode(r, "b", false)->Text(), "2");
  EXPECT_EQ(ReadCfgNode(nullptr, "b"), nullptr);
  const TdovXMLNode* other = tree_.FindChild("other");
  EXPECT_EQ(ReadCfgNode(r, "other"), nullptr);
  EXPECT_EQ(ReadCfgNode(r, "other", true, other), other);
  EXPECT_EQ(ReadCfgNode(nullptr, "other", true, other), other);
}

TEST_F(XmlReadCfg, TextOfAFoundEmptyElementIsEmpty) {
  const TdovXMLNode* r = Parse("<r><Empty></Empty><Device/></r>");
  EXPECT_EQ(ReadCfgText(r, "Empty", "dflt"), "");
  EXPECT_EQ(ReadCfgText(r, "Device", "*"), "");
  const TdovXMLNode* found = r;
  EXPECT_EQ(ReadCfgText(r, "Missing", "dflt", true, nullptr, &found), "dflt");
  EXPECT_EQ(found, nullptr);
}

TEST_F(XmlReadCfg, IntegersFallBackWhenTheTextIsNoWholeNumber) {
  const TdovXMLNode* r = Parse(
      "<r><dec>2000</dec><hex>0x1F</hex><code>$8000B611</code><big>2147483648</big>"
      "<junk>12ms</junk><empty/></r>");
  EXPECT_EQ(ReadCfgInt(r, "dec", 300), 2000);
  EXPECT_EQ(ReadCfgInt(r, "hex", 300), 31);
  // Hexadecimal wraps to the two's complement value; decimal stays checked.
  EXPECT_EQ(static_cast<uint32_t>(ReadCfgInt(r, "code", 0)), 0x8000B611u);
  EXPECT_EQ(ReadCfgInt(r, "big", 300), 300);
  EXPECT_EQ(ReadCfgInt(r, "junk", 300), 300);
  EXPECT_EQ(ReadCfgInt(r, "empty", 300), 300);
  EXPECT_EQ(ReadCfgInt(r, "missing", 300), 300);
}

TEST_F(XmlReadCfg, BooleansFromTextOrCheckState) {
  const TdovXMLNode* r = Parse(
      "<r><one>1</one><zero>0</zero><yes>yes</yes><true>true</true>"
      "<c2 check=\"2\"/><c3 check=\"3\"/><c0 check=\"0\"/><c4 check=\"4\"/><c9 check=\"9\"/>"
      "<cx check=\"x\"/><bare/><both check=\"2\">0</both></r>");
  for (bool def : {false, true}) {
    EXPECT_TRUE(ReadCfgBool(r, "one", def));
    EXPECT_FALSE(ReadCfgBool(r, "zero", def));
    EXPECT_FALSE(ReadCfgBool(r, "yes", def));
    EXPECT_FALSE(ReadCfgBool(r, "true", def));
    EXPECT_TRUE(ReadCfgBool(r, "c2", def));
    EXPECT_FALSE(ReadCfgBool(r, "c3", def));  // only 2 counts as checked
    EXPECT_FALSE(ReadCfgBool(r, "c0", def));
    EXPECT_EQ(ReadCfgBool(r, "c4", def), def);
    EXPECT_EQ(ReadCfgBool(r, "c9", def), def);
    EXPECT_EQ(ReadCfgBool(r, "cx", def), def);
    EXPECT_EQ(ReadCfgBool(r, "bare", def), def);
    EXPECT_EQ(ReadCfgBool(r, "missing", def), def);
    EXPECT_FALSE(ReadCfgBool(r, "both", def));  // text wins over the check state
  }
}

TEST_F(XmlReadCfg, CheckStateRange) {
  const TdovXMLNode* r = Parse("<r s5='5' s6='6' neg='-1'/>");
  EXPECT_EQ(ReadCfgCheckState(r, 4, "s5"), 5);
  EXPECT_EQ(ReadCfgCheckState(r, 4, "s6"), 4);
  EXPECT_EQ(ReadCfgCheckState(r, 4, "neg"), 4);
  EXPECT_EQ(ReadCfgCheckState(nullptr, 1, "s5"), 1);
}

TEST_F(XmlReadCfg, CaptionFromAttributeOrIndex) {
  const TdovXMLNode* r = Parse("<r><Request caption='Main'/><Request/><Request caption=''/></r>");
  EXPECT_EQ(ReadCfgCaption(r->Child(0), "Request", 1), "Main");
  EXPECT_EQ(ReadCfgCaption(r->Child(1), "Request", 2), "Request #2");
  EXPECT_EQ(ReadCfgCaption(r->Child(2), "Request", 3), "Request #3");
  EXPECT_EQ(ReadCfgCaption(nullptr, "Request", 4), "Request #4");
  EXPECT_EQ(ReadCfgAttr(r->Child(0), "Caption", "d"), "d");
  EXPECT_EQ(ReadCfgAttr(nullptr, "caption", "d"), "d");
}

}  // namespace
