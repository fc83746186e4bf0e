#include "config/xml/dov_xml_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Parses text and returns the tree (held by the fixture).
class XmlTree : public ::testing::Test {
 protected:
  TdovXMLTree& Parse(std::string_view text) {
    tree_.SetXML(text);
    return tree_;
  }
  TdovXMLTree tree_;
};

TEST_F(XmlTree, EmptyTextLeavesTheTreeEmptyAndUnnamed) {
  Parse("");
  EXPECT_EQ(tree_.ChildCount(), 0u);
  EXPECT_EQ(tree_.Name(), "");
  EXPECT_EQ(tree_.FindDescendant("DL_T645_2007_QUERY"), nullptr);
  Parse("  \r\n\t ");
  EXPECT_EQ(tree_.Name(), "");
}

TEST_F(XmlTree, BuildsNestedElementsWithAttributes) {
  Parse(
      "<DL_T645_2007_QUERY><Request caption=\"Main\"><Timeout>2000</Timeout></Request>"
      "</DL_T645_2007_QUERY>");
  EXPECT_EQ(tree_.Name(), "root");
  ASSERT_EQ(tree_.ChildCount(), 1u);
  TdovXMLNode* query = tree_.Child(0);
  EXPECT_EQ(query->Name(), "DL_T645_2007_QUERY");
  EXPECT_EQ(query->Parent(), &tree_);
  ASSERT_EQ(query->ChildCount(), 1u);
  TdovXMLNode* request = query->Child(0);
  EXPECT_EQ(request->AttributeValue("caption", "x"), "Main");
  ASSERT_EQ(request->ChildCount(), 1u);
  EXPECT_EQ(request->Child(0)->Text(), "2000");
  EXPECT_EQ(request->Child(0)->Parent(), request);
}

TEST_F(XmlTree, LookupsFoldCaseForElementsOnly) {
  Parse("<a><b caption='x'><Timeout>1</Timeout></b><timeout>2</timeout></a>");
  const TdovXMLNode* a = tree_.FindChild("A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->FindDescendant("TIMEOUT")->Text(), "1");  // pre-order: the deeper one comes first
  EXPECT_EQ(a->FindChild("TIMEOUT")->Text(), "2");
  EXPECT_EQ(tree_.FindChild("timeout"), nullptr);
  EXPECT_EQ(a->FindDescendant("a"), nullptr);  // never the node itself
  const TdovXMLNode* b = a->FindChild("b");
  EXPECT_NE(b->FindAttribute("caption"), nullptr);
  EXPECT_EQ(b->FindAttribute("Caption"), nullptr);
  EXPECT_EQ(b->AttributeValue("Caption", "dflt"), "dflt");
  Parse("<a caption=\"\"/>");
  EXPECT_NE(tree_.Child(0)->FindAttribute("caption"), nullptr);
  EXPECT_EQ(tree_.Child(0)->AttributeValue("caption", "d"), "d");  // empty counts as missing
}

TEST_F(XmlTree, LastTextTokenWins) {
  Parse("<a>x<b/>y</a>");
  EXPECT_EQ(tree_.Child(0)->Text(), "y");
  EXPECT_EQ(tree_.Child(0)->Child(0)->Name(), "b");
}

TEST_F(XmlTree, TextBreaksAndTabsBecomeBlanks) {
  Parse("<a>  one\r\n\ttwo  </a><b>x\ny\rz</b>");
  EXPECT_EQ(tree_.Child(0)->Text(), "one  two");
  EXPECT_EQ(tree_.Child(1)->Text(), "x y z");
}

TEST_F(XmlTree, CDataKeepsMarkupAndEntitiesVerbatim) {
  Parse("<a><![CDATA[x < y &amp; z]]></a><b>x &lt; y</b><c><![cdata[p\\n q\nr]]></c>");
  EXPECT_EQ(tree_.Child(0)->Text(), "x < y &amp; z");
  EXPECT_TRUE(tree_.Child(0)->IsCData());
  EXPECT_EQ(tree_.Child(1)->Text(), "x < y");
  EXPECT_FALSE(tree_.Child(1)->IsCData());
  // Marker in any case; escapes expand, line breaks are CR LF.
  EXPECT_EQ(tree_.Child(2)->Text(), "p\r\nq\r\nr");
  Parse("<a><![CDATA[raw]]>cooked</a>");
  EXPECT_EQ(tree_.Child(0)->Text(), "cooked");
  EXPECT_FALSE(tree_.Child(0)->IsCData());
}

TEST_F(XmlTree, EntitiesDecodeInOnePassIgnoringCase) {
  Parse("<a v=\"&AMP;lt;&Quot;\">&amp;gt; &lt;&gt;&apos;&quot;&#65;&bogus; &</a>");
  EXPECT_EQ(tree_.Child(0)->Text(), "&gt; <>'\"&#65;&bogus; &");
  EXPECT_EQ(tree_.Child(0)->AttributeValue("v", ""), "&lt;\"");
}

TEST_F(XmlTree, QuotedValuesMayHoldTheOtherQuoteAndGreaterThan) {
  Parse("<a x='say \"hi\"' y=\"it's > 1\" z = 'q'>t</a>");
  const TdovXMLNode* a = tree_.Child(0);
  EXPECT_EQ(a->Name(), "a");
  ASSERT_EQ(a->AttributeCount(), 3u);
  EXPECT_EQ(a->AttributeValue("x", ""), "say \"hi\"");
  EXPECT_EQ(a->AttributeValue("y", ""), "it's > 1");
  EXPECT_EQ(a->AttributeValue("z", ""), "q");
  EXPECT_EQ(a->Text(), "t");
}

TEST_F(XmlTree, AttributesNeedEqualsAndQuotes) {
  Parse("<a flag b=1 c=\"2\"/><d e=\"unterminated/>");
  const TdovXMLNode* a = tree_.Child(0);
  // Up to the first "=" is one name; the value opens at the next quote.
  ASSERT_EQ(a->AttributeCount(), 1u);
  EXPECT_EQ(a->Attribute(0).Name, "flag b");
  EXPECT_EQ(a->Attribute(0).Value, "2");
  // The open quote hides every ">": no tag, the rest is text.
  EXPECT_EQ(tree_.ChildCount(), 1u);
  EXPECT_EQ(tree_.Text(), "d e=\"unterminated/>");
}

TEST_F(XmlTree, EmptyElementsNameWithoutTheSlash) {
  Parse("<r><Enabled/><Blank />\t<Tab\t/><x y='1'/></r>");
  const TdovXMLNode* r = tree_.Child(0);
  ASSERT_EQ(r->ChildCount(), 4u);
  EXPECT_EQ(r->Child(0)->Name(), "Enabled");
  EXPECT_EQ(r->Child(1)->Name(), "Blank");
  EXPECT_EQ(r->Child(2)->Name(), "Tab");
  EXPECT_EQ(r->Child(3)->AttributeValue("y", ""), "1");
  EXPECT_EQ(r->Child(3)->ChildCount(), 0u);
}

TEST_F(XmlTree, DeclarationBecomesTreeText) {
  Parse("<?xml version=\"1.0\"?><a/>");
  EXPECT_EQ(tree_.Text(), "xml version=\"1.0\"");
  ASSERT_EQ(tree_.ChildCount(), 1u);
  EXPECT_EQ(tree_.Child(0)->Name(), "a");
  Parse("<a/>");  // a second text forgets everything of the first
  EXPECT_EQ(tree_.Text(), "");
  EXPECT_EQ(tree_.ChildCount(), 1u);
  Parse("<!DOCTYPE q><q>1</q>");  // any other markup is a tag
  EXPECT_EQ(tree_.Child(0)->Name(), "!DOCTYPE");
  EXPECT_EQ(tree_.FindDescendant("Q")->Text(), "1");
}

TEST_F(XmlTree, CommentsAreTextEvenWhenEmpty) {
  Parse("<a>x<!--note\\t here--></a><b>y<!----></b>");
  EXPECT_EQ(tree_.Child(0)->Text(), "note\there");
  EXPECT_EQ(tree_.Child(1)->Text(), "");
}

TEST_F(XmlTree, UnterminatedSectionsRunToTheEnd) {
  Parse("<a><![CDATA[open");
  EXPECT_EQ(tree_.Child(0)->Text(), "open\r\n");
  EXPECT_TRUE(tree_.Child(0)->IsCData());
  Parse("<a><!--open");
  EXPECT_EQ(tree_.Child(0)->Text(), "open\r\n");
  Parse("<a><?pi");
  EXPECT_EQ(tree_.Child(0)->Text(), "pi\r\n");
}

TEST_F(XmlTree, StrayLessThanIsSkipped) {
  Parse("<a>1 < 2</a><b>3</b>");
  // "< 2</a>" is a tag of its own; a lone "<" at the end is skipped.
  ASSERT_EQ(tree_.ChildCount(), 1u);
  EXPECT_EQ(tree_.Child(0)->Text(), "1");
  EXPECT_EQ(tree_.Child(0)->Child(0)->Name(), "2</a");
  Parse("<a>x</a><");
  EXPECT_EQ(tree_.ChildCount(), 1u);
  Parse("<a x=\"unclosed>text<b>y</b>");
  // The quote swallows the rest, so the first "<" is stray; later ones parse.
  EXPECT_NE(tree_.FindDescendant("b"), nullptr);
  EXPECT_EQ(tree_.FindDescendant("a"), nullptr);
}

TEST_F(XmlTree, SurplusEndTagsStayAtTheTree) {
  Parse("</x></y><a>1</a></a></a><b>2</b>");
  ASSERT_EQ(tree_.ChildCount(), 2u);
  EXPECT_EQ(tree_.Child(0)->Name(), "a");
  EXPECT_EQ(tree_.Child(1)->Name(), "b");
  EXPECT_EQ(tree_.Child(1)->Text(), "2");
  Parse("<a><b></a>t</b>");  // names are not compared: </a> closes b
  EXPECT_EQ(tree_.Child(0)->Text(), "t");
  EXPECT_EQ(tree_.Text(), "");
}

TEST_F(XmlTree, UnterminatedTagsLeaveTheRestAsText) {
  Parse("<a>text<b");
  ASSERT_EQ(tree_.ChildCount(), 1u);
  EXPECT_EQ(tree_.Child(0)->Text(), "b");
  EXPECT_EQ(tree_.Child(0)->ChildCount(), 0u);
  Parse("<");
  EXPECT_EQ(tree_.ChildCount(), 0u);
  Parse("<>");
  EXPECT_EQ(tree_.ChildCount(), 0u);
}

// After an open quote with no unquoted ">" behind it, every later "<" must
// still be judged on its own, and in linear time.
TEST_F(XmlTree, ManyStrayTagsAfterAnOpenQuote) {
  std::string text = "<a>";
  for (int i = 0; i < 200000; ++i)
    text += "<'>'";
  text += "'<b>1</b>";
  Parse(text);
  const TdovXMLNode* a = tree_.FindChild("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->ChildCount(), 1u);
  EXPECT_EQ(a->Child(0)->Name(), "b");
  EXPECT_EQ(a->Child(0)->Text(), "1");
  EXPECT_EQ(a->Text(), "'>''");
}

TEST_F(XmlTree, TagsAfterAStrayOneKeepTheirQuotedValues) {
  Parse("<a x=\"open><b y='1>2' z=\"3\">t</b><c/>");
  const TdovXMLNode* b = tree_.FindDescendant("b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->AttributeValue("y", ""), "1>2");
  EXPECT_EQ(b->AttributeValue("z", ""), "3");
  EXPECT_EQ(b->Text(), "t");
  EXPECT_EQ(tree_.FindDescendant("a"), nullptr);
  EXPECT_NE(tree_.FindDescendant("c"), nullptr);
}

TEST_F(XmlTree, DeepNestingNeitherOverflowsSearchNorDestruction) {
  constexpr int kDepth = 100000;
  std::string text;
  text.reserve(kDepth * 7 + 32);
  for (int i = 0; i < kDepth; ++i)
    text += "<n>";
  text += "<leaf>x</leaf>";
  auto tree = std::make_unique<TdovXMLTree>();
  tree->SetXML(text);
  const TdovXMLNode* leaf = tree->FindDescendant("LEAF");
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->Text(), "x");
  EXPECT_EQ(tree->FindDescendant("missing"), nullptr);
  int depth = 0;
  for (const TdovXMLNode* n = leaf; n->Parent(); n = n->Parent())
    ++depth;
  EXPECT_EQ(depth, kDepth + 1);
  tree->SetXML(text);  // replacing frees the old tree
  tree.reset();
}

// Random markup fragments: the reader must neither fail nor read outside the
// text (run under AddressSanitizer), and every node must sit under its parent.
TEST_F(XmlTree, RandomFragmentsBuildConsistentTrees) {
  static constexpr std::string_view kPieces[] = {
      "<",  ">", "/", "=",     "'", "\"", "<!--", "-->", "<![CDATA[", "]]>",  "<?",
      "?>", "a", " ", "&amp;", "&", ";",  "\r",   "\n",  "\t",        "\\n ", "x=\"1\""};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const int pieces = static_cast<int>(next() % 40);
    for (int i = 0; i < pieces; ++i)
      text += kPieces[next() % std::size(kPieces)];
    Parse(text);
    std::vector<const TdovXMLNode*> stack{&tree_};
    while (!stack.empty()) {
      const TdovXMLNode* node = stack.back();
      stack.pop_back();
      for (size_t i = 0; i < node->ChildCount(); ++i) {
        ASSERT_EQ(node->Child(i)->Parent(), node) << text;
        stack.push_back(node->Child(i));
      }
    }
  }
}

}  // namespace
