// XMLNode: typed attributes, number and colour forms, children kept in step with the DOM.

#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"

#include <gtest/gtest.h>

#include "xml/XmlText.h"

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// The order of the element children of a DOM node, as tag names joined by commas.
std::wstring DomOrder(const XMLNode* node) {
  std::wstring out;
  for (pugi::xml_node c = node->GetXMLDOMElement().first_child(); c; c = c.next_sibling()) {
    if (!out.empty()) out += L",";
    out += std::wstring(c.name(), c.name() + std::char_traits<char>::length(c.name()));
  }
  return out;
}

std::wstring ListOrder(const XMLNode* node) {
  std::wstring out;
  for (int i = 0; i < node->GetChildCount(); ++i) {
    if (!out.empty()) out += L",";
    out += node->GetChild(i)->GetTag();
  }
  return out;
}

class XmlNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(doc.LoadXml(L"<Root><Name Width=\"1\">n</Name><b/><c/></Root>"), 1);
  }
  XMLNode* Root() { return doc.GetRoot(); }
  XMLDocument doc;
};

}  // namespace

TEST_F(XmlNodeTest, ChildLookupIgnoresCase) {
  ASSERT_NE(Root()->GetChild(L"NAME"), nullptr);
  EXPECT_EQ(Root()->GetChild(L"NAME")->GetTag(), L"Name");
  EXPECT_EQ(Root()->GetChild(L"nosuch"), nullptr);
  EXPECT_EQ(Root()->GetChild(3), nullptr);
  EXPECT_EQ(Root()->GetChild(-1), nullptr);
  // Cyrillic names fold too.
  ASSERT_EQ(doc.LoadXml(L"<r><\u0414\u0430\u043d\u043d\u044b\u0435/></r>"), 1);
  EXPECT_NE(doc.GetRoot()->GetChild(L"\u0434\u0410\u041d\u041d\u042b\u0415"), nullptr);
}

TEST_F(XmlNodeTest, DoublesAreWrittenInTheirFixedOrExponentForm) {
  XMLNode* n = Root()->GetChild(L"b");
  const struct {
    double value;
    const wchar_t* text;
  } cases[] = {
      {0.1, L"0.1"},
      {2.5, L"2.5"},
      {3.0, L"3"},
      {-4.0, L"-4"},
      {1e8, L"1e+008"},
      {-1e-7, L"-1e-007"},
      {1e-9, L"1e-009"},
      {0.0, L"0"},
      {1e-300, L"0"},
      {12345678, L"1.2345678e+007"},
      {1e7, L"1e+007"},
      {9999999.5, L"9999999.5"},
      {1.5e-7, L"0.00000015"},
      {1.25e300, L"1.25e+300"},
  };
  for (const auto& c : cases) {
    n->AddAttr(L"v", c.value);
    EXPECT_EQ(n->GetStrAttr(L"v"), c.text) << c.value;
  }
  n->SetTagValue(0.1);
  EXPECT_EQ(n->GetTagValue(), L"0.1");
}

TEST_F(XmlNodeTest, DoublesReadBackExactly) {
  XMLNode* n = Root()->GetChild(L"b");
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-200, 200);
  for (int i = 0; i < 2000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    n->AddAttr(L"v", value);
    const double back = n->GetDblAttr(L"v", -1.0);
    if (std::fabs(value) < 1e-206)
      EXPECT_EQ(back, 0.0);
    else
      EXPECT_EQ(back, value) << n->GetStrAttr(L"v");
  }
  for (double value : {1.0 / 3.0, 123456.78901234567, 1e-5 / 3.0, 2.0 / 3.0 * 1e6}) {
    n->AddAttr(L"v", value);
    EXPECT_EQ(n->GetDblAttr(L"v", 0), value);
  }
}

TEST_F(XmlNodeTest, NumberReadsFollowTheRuntimeRules) {
  XMLNode* n = Root()->GetChild(L"b");
  n->AddAttribute(L"d", L" 2.5mm");
  EXPECT_EQ(n->GetDblAttr(L"d", 9), 2.5);
  n->AddAttribute(L"d", L"abc");
  EXPECT_EQ(n->GetDblAttr(L"d", 9), 0.0);
  EXPECT_EQ(n->GetDblAttr(L"missing", 9), 9.0);
  const struct {
    const wchar_t* text;
    int value;
  } ints[] = {
      {L"12", 12},  {L" -7 ", -7}, {L"2.5", 2},          {L"3.5", 4},
      {L"abc", -1}, {L"", -1},     {L"99999999999", -1}, {L"1e3", 1000},
  };
  for (const auto& c : ints) {
    n->AddAttribute(L"i", c.text);
    EXPECT_EQ(n->GetIntAttr(L"i", -1), c.value) << c.text;
  }
  EXPECT_EQ(n->GetIntAttr(L"missing", 5), 5);
}

TEST_F(XmlNodeTest, ColoursAsHashAndSixHexDigits) {
  XMLNode* n = Root()->GetChild(L"b");
  n->AddAttr(L"Color", static_cast<COLORREF>(0x000000FF));
  EXPECT_EQ(n->GetStrAttr(L"Color"), L"#ff0000");
  n->AddAttr(L"Color", static_cast<COLORREF>(0x00AF8C00));
  EXPECT_EQ(n->GetStrAttr(L"Color"), L"#008caf");
  EXPECT_EQ(n->GetColorAttr(L"Color", 1), 0x00AF8C00u);
  n->AddAttr(L"Color", static_cast<COLORREF>(0xFFFFFFFF));
  EXPECT_EQ(n->GetStrAttr(L"Color"), L"#");
  EXPECT_EQ(n->GetColorAttr(L"Color", 1), 0xFFFFFFFFu);
  const struct {
    const wchar_t* text;
    COLORREF value;
  } reads[] = {
      {L"#ff0000", 0xFF}, {L"#FF0000", 0xFF}, {L"#00ff00", 0xFF00}, {L"#0000FF", 0xFF0000},
      {L"", 123},         {L"red", 123},      {L"#xyz", 123},       {L"ff0000", 123},
  };
  for (const auto& c : reads) {
    n->AddAttribute(L"c", c.text);
    EXPECT_EQ(n->GetColorAttr(L"c", 123), c.value) << c.text;
  }
  EXPECT_EQ(n->GetColorAttr(L"missing", 42), 42u);
}

TEST_F(XmlNodeTest, DefaultsAreWrittenOnlyWhenVerbose) {
  XMLNode* n = Root()->GetChild(L"c");
  n->AddIntAttr(L"n", 5, 5);
  n->AddDblAttr(L"d", 1.5, 1.5);
  n->AddStrAttr(L"s", L"x", L"x");
  EXPECT_EQ(n->GetAttrCount(), 0);
  n->AddIntAttr(L"m", 6, 5);
  EXPECT_EQ(n->GetStrAttr(L"m"), L"6");
  XMLNode::s_bVerboseOut = 1;
  n->AddIntAttr(L"n", 5, 5);
  n->AddDblAttr(L"d", 1.5, 1.5);
  n->AddStrAttr(L"s", L"x", L"x");
  XMLNode::s_bVerboseOut = 0;
  EXPECT_EQ(n->GetStrAttr(L"n"), L"5");
  EXPECT_EQ(n->GetStrAttr(L"d"), L"1.5");
  EXPECT_EQ(n->GetStrAttr(L"s"), L"x");
}

TEST_F(XmlNodeTest, AttributesMatchWithoutCaseAndKeepTheirName) {
  XMLNode* n = Root()->GetChild(L"Name");
  n->AddAttribute(L"width", L"2");
  EXPECT_EQ(n->GetAttrCount(), 1);
  std::wstring name, value;
  ASSERT_TRUE(n->GetAttr(0, name, value));
  EXPECT_EQ(name, L"Width");
  EXPECT_EQ(value, L"2");
  EXPECT_FALSE(n->GetAttr(1, name, value));
  EXPECT_EQ(n->GetStrAttr(L"WIDTH", L"none"), L"2");
  n->AddAttribute(L"a", L"1");
  n->AddAttribute(L"bad name", L"x");  // not a name: refused
  EXPECT_EQ(n->GetAttrCount(), 2);
  n->DeleteAttr(L"A");
  EXPECT_EQ(n->GetAttrCount(), 1);
  n->AddAttribute(L"x", L"1");
  n->AddAttribute(L"y", L"2");
  EXPECT_EQ(n->GetAttrCount(), 3);
  n->DeleteAllAttr();
  EXPECT_EQ(n->GetAttrCount(), 0);
  EXPECT_EQ(n->GetTagValue(), L"n");
}

TEST_F(XmlNodeTest, InsertReplaceAndDeleteKeepListAndDomInStep) {
  XMLNode* b = Root()->GetChild(L"b");
  XMLNode* x = new XMLNode(&doc, L"x", 1);
  EXPECT_EQ(Root()->InsertChild(x, b, 1), 1);
  EXPECT_EQ(ListOrder(Root()), L"Name,x,b,c");
  EXPECT_EQ(DomOrder(Root()), L"Name,x,b,c");
  EXPECT_EQ(Root()->InsertChild(x, nullptr, 1), 1);  // already a child: no change
  EXPECT_EQ(ListOrder(Root()), L"Name,x,b,c");

  XMLNode* n = new XMLNode(&doc, L"n", 1);
  EXPECT_EQ(Root()->ReplaceChild(n, b), 1);
  EXPECT_EQ(Root()->GetChild(2), n);
  EXPECT_EQ(ListOrder(Root()), L"Name,x,n,c");
  EXPECT_EQ(DomOrder(Root()), L"Name,x,n,c");
  // The last child replaced: the new one is appended at the end.
  XMLNode* last = new XMLNode(&doc, L"last", 1);
  EXPECT_EQ(Root()->ReplaceChild(last, Root()->GetChild(L"c")), 1);
  EXPECT_EQ(DomOrder(Root()), L"Name,x,n,last");
  XMLNode* notChild = new XMLNode(&doc, L"z", 1);
  EXPECT_EQ(Root()->ReplaceChild(notChild, notChild), 0);
  delete notChild;

  Root()->DeleteChild(x);
  EXPECT_EQ(ListOrder(Root()), L"Name,n,last");
  EXPECT_EQ(DomOrder(Root()), L"Name,n,last");
  Root()->DeleteAllChild();
  EXPECT_EQ(Root()->GetChildCount(), 0);
  EXPECT_EQ(DomOrder(Root()), L"");
}

TEST_F(XmlNodeTest, AddChildRefusesCyclesAndOtherDocuments) {
  XMLNode* b = Root()->GetChild(L"b");
  XMLNode* inner = b->NewChild(L"inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->AddChild(Root(), 1), 0);
  EXPECT_EQ(inner->AddChild(b, 1), 0);
  EXPECT_EQ(b->AddChild(b, 1), 0);
  XMLDocument other;
  XMLNode* foreign = new XMLNode(&other, L"f", 1);
  EXPECT_EQ(Root()->AddChild(foreign, 1), 0);
  delete foreign;
  EXPECT_EQ(Root()->NewChild(L"not a name"), nullptr);
  EXPECT_EQ(Root()->NewChild(L"pi", XMLNode::eProcessingInstruction), nullptr);
  XMLNode* comment = Root()->NewChild(L"", XMLNode::eComment);
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(comment->GetType(), 8u);
  comment->SetTagValue(std::wstring(L"note"));
  EXPECT_NE(doc.GetXMLContent().find(L"<!--note-->"), std::wstring::npos);
}

TEST_F(XmlNodeTest, MovingANodeTakesItFromItsFormerParent) {
  XMLNode* b = Root()->GetChild(L"b");
  XMLNode* c = Root()->GetChild(L"c");
  XMLNode* moved = b->NewChild(L"m");
  EXPECT_EQ(c->AddChild(moved, 1), 1);
  EXPECT_EQ(b->GetChildCount(), 0);
  EXPECT_EQ(c->GetChildCount(), 1);
  EXPECT_EQ(moved->GetParent(), c);
  EXPECT_EQ(DomOrder(b), L"");
  EXPECT_EQ(DomOrder(c), L"m");
}

TEST_F(XmlNodeTest, RenameKeepsAttributesTextAndChildren) {
  XMLNode* name = Root()->GetChild(L"Name");
  XMLNode* kid = name->NewChild(L"kid");
  kid->AddAttr(L"k", 3);
  name->SetTag(L"Renamed");
  EXPECT_EQ(name->GetTag(), L"Renamed");
  EXPECT_EQ(name->GetStrAttr(L"Width"), L"1");
  EXPECT_EQ(name->GetTagValue(), L"n");
  EXPECT_EQ(name->GetChildCount(), 2);
  EXPECT_EQ(kid->GetIntAttr(L"k", 0), 3);  // the old pointer still works
  EXPECT_EQ(name->GetChild(1), kid);
  EXPECT_NE(doc.GetXMLContent().find(L"<Renamed Width=\"1\">n<kid k=\"3\"/></Renamed>"),
            std::wstring::npos);
  name->SetTag(L"RENAMED");  // the same without regard to case: nothing happens
  EXPECT_EQ(name->GetTag(), L"Renamed");
}

TEST_F(XmlNodeTest, SetTagValueReplacesChildrenInStep) {
  XMLNode* name = Root()->GetChild(L"Name");
  name->NewChild(L"kid")->SetTagValue(std::wstring(L"k"));
  EXPECT_EQ(name->GetTagValue(), L"nk");
  name->SetTagValue(42);
  EXPECT_EQ(name->GetTagValue(), L"42");
  ASSERT_EQ(name->GetChildCount(), 1);
  EXPECT_EQ(name->GetChild(0)->GetType(), 3u);
  name->SetTagValue(std::wstring());
  EXPECT_EQ(name->GetChildCount(), 0);
  EXPECT_EQ(name->GetTagValue(), L"");
}

TEST_F(XmlNodeTest, CopyDoesNotDuplicateText) {
  ASSERT_EQ(doc.LoadXml(L"<r><src a=\"1\">head<b>inner</b>tail<!--c--></src></r>"), 1);
  XMLNode* src = doc.GetRoot()->GetChild(L"src");
  XMLNode* dst = doc.GetRoot()->NewChild(L"dst");
  ASSERT_EQ(dst->Copy(src, 1), 1);
  EXPECT_EQ(dst->GetTag(), L"dst");
  EXPECT_EQ(dst->GetTagValue(), L"headinnertail");
  EXPECT_EQ(dst->GetChildCount(), 4);
  EXPECT_EQ(dst->GetStrAttr(L"a"), L"1");
  EXPECT_NE(doc.GetXMLContent().find(L"<dst a=\"1\">head<b>inner</b>tail<!--c--></dst>"),
            std::wstring::npos);

  XMLNode* renamed = doc.GetRoot()->NewChild(L"other");
  ASSERT_EQ(renamed->Copy(src, 0), 1);
  EXPECT_EQ(renamed->GetTag(), L"src");

  // Into its own subtree: refused, and no endless copy.
  XMLNode* inner = src->GetChild(L"b");
  EXPECT_EQ(inner->Copy(src, 0), 0);
  EXPECT_EQ(src->Copy(src, 0), 0);

  // The copy constructor gives an independent node of the same document.
  XMLNode* clone = new XMLNode(*src);
  EXPECT_EQ(clone->GetTagValue(), L"headinnertail");
  clone->AddAttr(L"a", 2);
  EXPECT_EQ(src->GetStrAttr(L"a"), L"1");
  EXPECT_EQ(doc.GetRoot()->AddChild(clone, 1), 1);
  EXPECT_EQ(doc.GetRoot()->GetChildCount(), 4);
}

TEST_F(XmlNodeTest, MergeAddsOnlyMissingChildren) {
  XMLDocument source;
  ASSERT_EQ(source.LoadXml(L"<s><NAME Width=\"9\"/><d x=\"1\"><e/></d>loose text</s>"), 1);
  EXPECT_EQ(Root()->MergeChild(source.GetRoot()), 1);
  EXPECT_EQ(ListOrder(Root()), L"Name,b,c,d");
  EXPECT_EQ(Root()->GetChild(L"Name")->GetStrAttr(L"Width"), L"1");
  EXPECT_EQ(Root()->GetChild(L"d")->GetIntAttr(L"x", 0), 1);
  EXPECT_EQ(Root()->GetChild(L"d")->GetChildCount(), 1);
}

TEST_F(XmlNodeTest, UnboundNodesBindOnDemand) {
  XMLNode node(&doc, L"fresh", 1);
  EXPECT_FALSE(node.IsBound());
  EXPECT_EQ(node.GetType(), 1u);
  EXPECT_EQ(node.GetTypeString(), L"");
  EXPECT_EQ(node.GetTagValue(), L"");
  EXPECT_EQ(node.GetAttrCount(), 0);
  EXPECT_EQ(node.GetStrAttr(L"a", L"def"), L"def");
  node.AddAttr(L"a", 1);
  EXPECT_TRUE(node.IsBound());
  EXPECT_EQ(node.GetTypeString(), L"element");
  // Not yet in the document's text.
  EXPECT_EQ(doc.GetXMLContent().find(L"fresh"), std::wstring::npos);

  XMLNode orphan(nullptr, L"none", 1);
  orphan.AddAttr(L"a", 1);
  EXPECT_FALSE(orphan.IsBound());
  EXPECT_EQ(Root()->AddChild(&orphan, 1), 0);
}

TEST(XmlNodeTypes, TypeNames) {
  EXPECT_EQ(XMLNode::GetTypeStringByID(1), L"element");
  EXPECT_EQ(XMLNode::GetTypeStringByID(4), L"CDATA");
  EXPECT_EQ(XMLNode::GetTypeStringByID(5), L"ProcessingInstruction");
  EXPECT_EQ(XMLNode::GetTypeStringByID(6), L"comment");
  EXPECT_EQ(XMLNode::GetTypeStringByID(7), L"text");
  EXPECT_EQ(XMLNode::GetTypeStringByID(3), L"None");
  XMLNode n(nullptr, L"t", 6);
  n.SetType(4);
  EXPECT_EQ(n.GetType(), 4u);
}

TEST(XmlArchiveNode, CreatesOrReusesNamedSections) {
  XMLDocument doc;
  int archive = 0;
  CXMLArchiveNode first(&archive, doc.GetRoot(), L"Geometry");
  ASSERT_NE(first.GetNode(), nullptr);
  std::wstring value = L"v";
  first.ExchangeAttr(true, L"name", value);
  CXMLArchiveNode reused(&archive, doc.GetRoot(), L"GEOMETRY", true);
  EXPECT_EQ(reused.GetNode(), first.GetNode());
  std::wstring read;
  reused.ExchangeAttr(false, L"name", read);
  EXPECT_EQ(read, L"v");
  CXMLArchiveNode another(&archive, doc.GetRoot(), L"Geometry");
  EXPECT_NE(another.GetNode(), first.GetNode());
  EXPECT_EQ(doc.GetRoot()->GetChildCount(), 2);
  EXPECT_EQ(another.GetArchive(), &archive);
}

TEST(XmlNodeLookup, ExactAttributeNameWinsOverAnEarlierOneOfOtherCase) {
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(L"<a Width=\"1\" width=\"2\" \u0414\u043b\u0438\u043d\u0430=\"3\"/>"), 1);
  XMLNode* a = doc.GetRoot();
  EXPECT_EQ(a->GetStrAttr(L"width"), L"2");
  EXPECT_EQ(a->GetStrAttr(L"Width"), L"1");
  EXPECT_EQ(a->GetStrAttr(L"WIDTH"), L"1");  // no exact one: the first without case
  EXPECT_EQ(a->GetIntAttr(L"\u0434\u043b\u0438\u043d\u0430", 0), 3);
  EXPECT_EQ(a->GetStrAttr(L"widt", L"none"), L"none");
  EXPECT_EQ(a->GetStrAttr(L"widths", L"none"), L"none");
}

TEST(XmlNodeLookup, NumbersAreReadFromTheTextAsItStands) {
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(L"<a i=\"\t42\n\" f=\"\uff11\" d=\" -1.25e2x\" w=\"\u00b5 3\" "
                        L"big=\"1e999\" e=\" \"><p>  7.5 mm</p><q>1<!-- c -->2</q></a>"),
            1);
  XMLNode* a = doc.GetRoot();
  EXPECT_EQ(a->GetIntAttr(L"i", -1), 42);
  EXPECT_EQ(a->GetIntAttr(L"f", -1), -1);  // a full-width digit is no digit
  EXPECT_EQ(a->GetDblAttr(L"d", 9), -125.0);
  EXPECT_EQ(a->GetDblAttr(L"w", 9), 0.0);
  EXPECT_EQ(a->GetDblAttr(L"big", 9), HUGE_VAL);
  EXPECT_EQ(a->GetIntAttr(L"big", -1), -1);
  EXPECT_EQ(a->GetIntAttr(L"e", -1), -1);
  // Element text: the one text child read directly, or all of it gathered.
  EXPECT_EQ(a->GetChild(L"p")->GetTagValue(), L"  7.5 mm");
  EXPECT_EQ(MorlaneText::ParseDoublePrefix(a->GetChild(L"p")->GetTagValue()), 7.5);
  EXPECT_EQ(a->GetChild(L"q")->GetTagValue(), L"12");
  std::wstring longNumber(200, L'0');
  longNumber += L"3.5";
  EXPECT_EQ(MorlaneText::ParseDoublePrefix(longNumber), 3.5);
  EXPECT_EQ(MorlaneText::ParseDoublePrefix(std::string(" 2.5e1;")), 25.0);
}

TEST(XmlNodeLookup, TagsAreKeptOncePerNameAndFollowRenames) {
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(L"<r><Item/><item/><ITEM/><other/>text</r>"), 1);
  XMLNode* r = doc.GetRoot();
  ASSERT_EQ(r->GetChildCount(), 5);
  const std::wstring& first = r->GetChild(0)->GetTag();
  EXPECT_EQ(first, L"Item");
  EXPECT_EQ(&r->GetChild(0)->GetTag(), &r->GetChild(0)->GetTag());
  EXPECT_EQ(r->GetChild(L"iTEM"), r->GetChild(0));
  EXPECT_EQ(r->GetChild(L"#TEXT"), r->GetChild(4));
  // A rename, by the node or behind its back in the DOM, shows at once; the old reference stays.
  r->GetChild(0)->SetTag(L"Renamed");
  EXPECT_EQ(r->GetChild(0)->GetTag(), L"Renamed");
  EXPECT_EQ(first, L"Item");
  EXPECT_EQ(r->GetChild(L"item"), r->GetChild(1));
  r->GetChild(3)->GetXMLDOMElement().set_name("Changed");
  EXPECT_EQ(r->GetChild(3)->GetTag(), L"Changed");
  EXPECT_EQ(r->GetChild(L"CHANGED"), r->GetChild(3));
  EXPECT_EQ(r->GetChild(L"other"), nullptr);
}

TEST(XmlNodeLookup, MoreNamesThanTheDocumentKeepsStillCompare) {
  // Past the names a document keeps, each node remembers its own.
  std::wstring text = L"<r>";
  const int count = 70000;
  for (int i = 0; i < count; ++i) text += L"<n" + std::to_wstring(i) + L"/>";
  text += L"</r>";
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(text.c_str()), 1);
  XMLNode* r = doc.GetRoot();
  ASSERT_EQ(r->GetChildCount(), count);
  for (int i = 0; i < count; i += 997)
    EXPECT_EQ(r->GetChild(i)->GetTag(), L"n" + std::to_wstring(i)) << i;
  EXPECT_EQ(r->GetChild(L"N69999"), r->GetChild(count - 1));
  EXPECT_EQ(r->GetChild(L"N1"), r->GetChild(1));
}

TEST(XmlNodeLifetime, NodesOfManyDocumentsComeAndGoInAnyOrder) {
  // Nodes share their memory with others made at the same time; whichever goes first, the
  // others stay whole.
  std::vector<std::unique_ptr<XMLDocument>> docs;
  std::vector<XMLNode*> held;
  for (int d = 0; d < 6; ++d) {
    std::wstring text = L"<r><hold><e v=\"-1\"/></hold>";
    for (int i = 1; i < 3000; ++i) text += L"<e v=\"" + std::to_wstring(d * 10000 + i) + L"\"/>";
    text += L"</r>";
    docs.push_back(std::make_unique<XMLDocument>());
    ASSERT_EQ(docs.back()->LoadXml(text.c_str()), 1);
    XMLNode* r = docs.back()->GetRoot();
    ASSERT_EQ(r->GetChildCount(), 3000);
    XMLNode* hold = r->GetChild(0);
    XMLNode* kept = hold->GetChild(0);
    hold->ClearChilds();  // the caller's from now on
    held.push_back(kept);
  }
  for (int d : {3, 0, 5, 1, 4, 2}) {
    docs[static_cast<std::size_t>(d)].reset();
    for (int k = 0; k < 6; ++k) {
      if (!docs[static_cast<std::size_t>(k)]) continue;
      EXPECT_EQ(docs[static_cast<std::size_t>(k)]->GetRoot()->GetChild(7)->GetIntAttr(L"v"),
                k * 10000 + 7);
    }
  }
  for (std::size_t d = 0; d < held.size(); ++d) {
    EXPECT_EQ(held[d]->GetTag(), L"e");  // unbound now, its name remembered
    EXPECT_FALSE(held[d]->IsBound());
    delete held[d];
  }
}
