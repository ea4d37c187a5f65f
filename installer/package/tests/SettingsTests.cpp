#include "package/XmlSettings.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <vector>

using namespace CommonTools;

namespace {

CXmlSettings Parse(const std::string& text) {
  CXmlSettings s;
  EXPECT_TRUE(s.LoadFromBytes(text)) << platform::ToUtf8(s.LastError());
  return s;
}

SettingsNodePtr Root(CXmlSettings& s) {
  SettingsNodePtr root;
  EXPECT_TRUE(s.GetRoot(root));
  return root;
}

}  // namespace

TEST(SettingsRoot, RootIsTheNodeAfterTheFirstChild) {
  CXmlSettings withDecl = Parse("<?xml version=\"1.0\"?>\n<Script Name=\"A\"><INSTALL/></Script>");
  SettingsNodePtr root;
  ASSERT_TRUE(withDecl.GetRoot(root));
  EXPECT_EQ(root->GetName(), L"Script");

  // Without a declaration the root element is the first child; the node after it is none.
  CXmlSettings bare = Parse("<Script Name=\"A\"><INSTALL/></Script>");
  EXPECT_FALSE(bare.GetRoot(root));

  // A comment in front serves as the leading node as well.
  CXmlSettings comment = Parse("<!-- product --><Script/>");
  ASSERT_TRUE(comment.GetRoot(root));
  EXPECT_EQ(root->GetName(), L"Script");
}

TEST(SettingsNames, ChildNamesIgnoreCaseAttributesDoNot) {
  CXmlSettings s =
      Parse("<?xml version=\"1.0\"?><R><LIBRARIES Count=\"2\"/><libraries Count=\"9\"/></R>");
  SettingsNodePtr root = Root(s), libs;
  ASSERT_TRUE(root->GetChild(L"libraries", libs));
  // The first match in document order wins.
  EXPECT_EQ(GetText(libs, L"Count"), L"2");
  EXPECT_EQ(libs->GetName(), L"LIBRARIES");
  // Attribute names are exact.
  EXPECT_EQ(GetText(libs, L"count", L"none"), L"none");
  EXPECT_FALSE(root->GetChild(L"LIBRARY", libs));
}

TEST(SettingsAttributes, LookedUpByTheExactNameWhateverItsCharacters) {
  CXmlSettings s = Parse(
      "<?xml version=\"1.0\"?><R><HKCU KeyName=\"K\" Key=\"short\" KeyNames=\"long\" "
      "Gr\xC3\xB6\xC3\x9F"
      "e=\"wide name\" Text=\"caf\xC3\xA9 &amp; \xE2\x82\xAC\"/><!-- c --></R>");
  SettingsNodePtr root = Root(s), key;
  ASSERT_TRUE(root->GetChild(L"HKCU", key));
  // A name is neither a prefix nor an extension of another, and case counts.
  EXPECT_EQ(GetText(key, L"KeyName"), L"K");
  EXPECT_EQ(GetText(key, L"Key"), L"short");
  EXPECT_EQ(GetText(key, L"KeyNames"), L"long");
  EXPECT_EQ(GetText(key, L"keyname", L"none"), L"none");
  EXPECT_EQ(GetText(key, L"KeyNam", L"none"), L"none");
  EXPECT_EQ(GetText(key, L"KeyNameX", L"none"), L"none");
  EXPECT_EQ(GetText(key, L"", L"none"), L"none");
  // A name beyond ASCII, and values with any characters.
  EXPECT_EQ(GetText(key, L"Gr\u00F6\u00DFe"), L"wide name");
  EXPECT_EQ(GetText(key, L"GR\u00D6\u00DFE", L"none"), L"none");
  EXPECT_EQ(GetText(key, L"Text"), L"caf\u00E9 & \u20AC");
  // The text form agrees with the Variant form, and leaves its buffer alone when there is none.
  for (const wchar_t* name : {L"KeyName", L"Key", L"Text", L"Gr\u00F6\u00DFe", L"keyname"}) {
    std::wstring text = L"kept";
    const bool found = key->GetAttributeText(name, text);
    const Variant v = key->GetAttribute(name, Variant());
    EXPECT_EQ(found, !v.isEmpty()) << platform::ToUtf8(name);
    EXPECT_EQ(text, found ? v.toString() : L"kept") << platform::ToUtf8(name);
  }
  // Only an element has attributes.
  SettingsNodeListPtr children;
  ASSERT_TRUE(root->GetChildren(children));
  SettingsNodePtr comment;
  ASSERT_TRUE(children->GetItem(1, comment));
  ASSERT_EQ(comment->GetName(), L"#comment");
  std::wstring text = L"kept";
  EXPECT_FALSE(comment->GetAttributeText(L"KeyName", text));
  EXPECT_EQ(text, L"kept");
  EXPECT_EQ(GetText(comment, L"KeyName", L"none"), L"none");
  EXPECT_EQ(GetText(nullptr, L"KeyName", L"none"), L"none");
}

TEST(SettingsAttributes, TypedDefaultsAndConversions) {
  CXmlSettings s = Parse(
      "<?xml version=\"1.0\"?><R Build=\" 1,234 \" Bad=\"12abc\" Empty=\"\" Big=\"99999999999\"/>");
  SettingsNodePtr root = Root(s);

  Variant missingText = root->GetAttribute(L"Nope", Variant(L""));
  EXPECT_TRUE(missingText.isString());
  EXPECT_EQ(missingText.toString(), L"");
  Variant missingInt = root->GetAttribute(L"Nope", Variant(0));
  EXPECT_TRUE(missingInt.isInt());
  EXPECT_EQ(missingInt.toInt(), 0);

  // A present attribute is text, whatever the default's type.
  Variant build = root->GetAttribute(L"Build", Variant(0));
  EXPECT_TRUE(build.isString());
  EXPECT_EQ(build.toInt(), 1234);

  EXPECT_THROW(GetInt(root, L"Bad", 0), SettingsError);
  EXPECT_THROW(GetInt(root, L"Empty", 0), SettingsError);
  try {
    GetInt(root, L"Big", 0);
    ADD_FAILURE() << "an out-of-range number converted";
  } catch (const SettingsError& e) {
    EXPECT_EQ(e.code(), SettingsError::Code::Overflow);
  }
  EXPECT_EQ(Variant(L"2.5").toInt(), 2);  // half to even
  EXPECT_EQ(Variant(L"3.5").toInt(), 4);
  EXPECT_EQ(Variant(L"-7").toInt(), -7);
  EXPECT_EQ(Wtol(L"12abc"), 12);
  EXPECT_EQ(Wtol(L"abc"), 0);
}

TEST(SettingsLists, TextAndCommentNodesAreChildren) {
  CXmlSettings s = Parse(
      "<?xml version=\"1.0\"?><R>text<LIBRARY ID=\"a\"/><!--c-->more<LIBRARY ID=\"b\"/>\n  \n</R>");
  SettingsNodePtr root = Root(s);
  SettingsNodeListPtr list;
  ASSERT_TRUE(root->GetChildren(list));
  // Non-blank text and comments are nodes; the blank text at the end is not kept.
  ASSERT_EQ(list->GetCount(), 5);
  SettingsNodePtr item;
  ASSERT_TRUE(list->GetItem(0, item));
  EXPECT_EQ(item->GetName(), L"#text");
  ASSERT_TRUE(list->GetItem(2, item));
  EXPECT_EQ(item->GetName(), L"#comment");
  EXPECT_FALSE(list->GetItem(5, item));
  EXPECT_FALSE(list->GetItem(-1, item));

  // [text, LIBRARY, comment, text, LIBRARY]: Find from 2 gives the second LIBRARY.
  EXPECT_EQ(list->Find(L"library", 2, item), 4);
  EXPECT_EQ(GetText(item, L"ID"), L"b");
  EXPECT_EQ(list->FindFirst(L"LIBRARY", item), 1);
  EXPECT_EQ(list->Find(L"LIBRARY", 5, item), -1);
  // A text node has no attributes: the default comes back.
  ASSERT_TRUE(list->GetItem(0, item));
  EXPECT_EQ(GetInt(item, L"ID", 42), 42);
  EXPECT_FALSE(item->SetAttribute(L"ID", Variant(1)));
}

TEST(SettingsLists, FindSkipsTextBetweenElements) {
  CXmlSettings s = Parse("<?xml version=\"1.0\"?><R>a<LIBRARY/>b<LIBRARY/></R>");
  SettingsNodeListPtr list;
  ASSERT_TRUE(Root(s)->GetChildren(list));
  SettingsNodePtr item;
  EXPECT_EQ(list->Find(L"LIBRARY", 2, item), 3);
}

TEST(SettingsLists, ManyChildrenInOrderWithCommentsAndText) {
  // 3,000 children of three kinds: every item is found at its index and Find walks on from it.
  std::string text = "<?xml version=\"1.0\"?><R>";
  for (int i = 0; i < 1000; ++i)
    text += "<E N=\"" + std::to_string(i) + "\"/><!--c" + std::to_string(i) + "-->t" +
            std::to_string(i) + "\n  ";
  text += "</R>";
  CXmlSettings s = Parse(text);
  SettingsNodeListPtr list;
  ASSERT_TRUE(Root(s)->GetChildren(list));
  ASSERT_EQ(list->GetCount(), 3000);
  SettingsNodePtr item;
  for (int i = 0; i < 3000; i += 7) {
    ASSERT_TRUE(list->GetItem(i, item)) << i;
    const wchar_t* kinds[] = {L"E", L"#comment", L"#text"};
    EXPECT_EQ(item->GetName(), kinds[i % 3]) << i;
    if (i % 3 == 0) {
      EXPECT_EQ(GetInt(item, L"N", -1), i / 3);
    }
  }
  // Backwards, as some loops walk.
  ASSERT_TRUE(list->GetItem(2999, item));
  EXPECT_EQ(item->GetName(), L"#text");
  ASSERT_TRUE(list->GetItem(0, item));
  EXPECT_EQ(GetInt(item, L"N", -1), 0);
  EXPECT_FALSE(list->GetItem(3000, item));
  EXPECT_EQ(list->Find(L"e", 1501, item), 1503);
  EXPECT_EQ(GetInt(item, L"N", -1), 501);
  EXPECT_EQ(list->Find(L"e", 2998, item), -1);
}

TEST(SettingsLists, ListsFollowChangesMadeThroughOtherNodes) {
  CXmlSettings s = Parse("<?xml version=\"1.0\"?><R><A/><!--x--><B/></R>");
  SettingsNodePtr root = Root(s), again, created, item;
  SettingsNodeListPtr list;
  ASSERT_TRUE(root->GetChildren(list));
  ASSERT_EQ(list->GetCount(), 3);  // indexed now

  // A child appended through another node object of the same element.
  ASSERT_TRUE(s.GetRoot(again));
  ASSERT_TRUE(again->CreateChild(L"C", created));
  ASSERT_EQ(list->GetCount(), 4);
  ASSERT_TRUE(list->GetItem(3, item));
  EXPECT_EQ(item->GetName(), L"C");

  // A child removed: the items after it move up.
  SettingsNodePtr a;
  ASSERT_TRUE(again->GetChild(L"a", a));
  ASSERT_TRUE(again->RemoveChild(a));
  ASSERT_EQ(list->GetCount(), 3);
  ASSERT_TRUE(list->GetItem(0, item));
  EXPECT_EQ(item->GetName(), L"#comment");
  EXPECT_EQ(list->FindFirst(L"c", item), 2);
  EXPECT_FALSE(list->GetItem(3, item));

  // A change below another element leaves this list's items as they are.
  SettingsNodePtr b, deep;
  ASSERT_TRUE(root->GetChild(L"B", b));
  ASSERT_TRUE(b->CreateChild(L"Deep", deep));
  EXPECT_EQ(list->GetCount(), 3);
  SettingsNodeListPtr below;
  ASSERT_TRUE(b->GetChildren(below));
  EXPECT_EQ(below->GetCount(), 1);
}

TEST(SettingsEdit, NodesSeeEachOthersChangesAndOutliveTheDocument) {
  SettingsNodePtr kept;
  {
    CXmlSettings s = Parse("<?xml version=\"1.0\"?><R/>");
    SettingsNodePtr root = Root(s), a, b;
    ASSERT_TRUE(root->CreateChild(L"UserSettings", a));
    ASSERT_TRUE(root->GetChild(L"usersettings", b));
    ASSERT_TRUE(a->SetAttribute(L"InstallType", Variant(4)));
    EXPECT_EQ(GetInt(b, L"InstallType", -1), 4);
    ASSERT_TRUE(b->RemoveAttribute(L"InstallType"));
    EXPECT_EQ(GetInt(a, L"InstallType", -1), -1);
    kept = a;

    // A second load gives a new tree; nodes handed out before keep the old one.
    ASSERT_TRUE(s.LoadFromBytes("<?xml version=\"1.0\"?><Other/>"));
    EXPECT_EQ(Root(s)->GetName(), L"Other");
    EXPECT_EQ(kept->GetName(), L"UserSettings");
  }
  EXPECT_TRUE(kept->SetAttribute(L"X", Variant(L"y")));
  EXPECT_EQ(GetText(kept, L"X"), L"y");
}

TEST(SettingsEdit, RemoveChildOnlyRemovesOwnChildren) {
  CXmlSettings s = Parse("<?xml version=\"1.0\"?><R><A><B/></A></R>");
  SettingsNodePtr root = Root(s), a, b;
  ASSERT_TRUE(root->GetChild(L"A", a));
  ASSERT_TRUE(a->GetChild(L"B", b));
  EXPECT_FALSE(root->RemoveChild(b));
  EXPECT_TRUE(a->RemoveChild(b));
  EXPECT_FALSE(a->GetChild(L"B", b));
}

TEST(SettingsEncoding, ReadsDeclaredAndMarkedEncodings) {
  // windows-1251: "Установка" in Cyrillic.
  std::string cp1251 =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?><R "
      "Name=\"\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0\"/>";
  CXmlSettings a = Parse(cp1251);
  EXPECT_EQ(GetText(Root(a), L"Name"), L"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0430");

  // windows-1252 with a byte UTF-8 would reject.
  CXmlSettings b = Parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><R Name=\"Caf\xE9\"/>");
  EXPECT_EQ(GetText(Root(b), L"Name"), L"Caf\u00e9");

  // UTF-16 little endian with a byte-order mark, and big endian without one.
  std::wstring text = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><R Name=\"\u00e9t\u00e9\"/>";
  CXmlSettings c = Parse("\xFF\xFE" + platform::ToUtf16LEBytes(text));
  EXPECT_EQ(GetText(Root(c), L"Name"), L"\u00e9t\u00e9");
  std::string be;
  for (wchar_t ch : text) {
    be += static_cast<char>((ch >> 8) & 0xFF);
    be += static_cast<char>(ch & 0xFF);
  }
  CXmlSettings d = Parse(be);
  EXPECT_EQ(GetText(Root(d), L"Name"), L"\u00e9t\u00e9");
}

TEST(SettingsEncoding, BadInputFailsWithLineAndColumn) {
  CXmlSettings s;
  EXPECT_FALSE(s.LoadFromBytes("<?xml version=\"1.0\"?>\n<R>\n  <A></B>\n</R>"));
  EXPECT_NE(s.LastError().find(L"line 3"), std::wstring::npos) << platform::ToUtf8(s.LastError());
  SettingsNodePtr root;
  EXPECT_FALSE(s.GetRoot(root));

  // Bytes that are no UTF-8 in a document that declares none.
  EXPECT_FALSE(s.LoadFromBytes("<?xml version=\"1.0\"?>\n<R Name=\"\xD3\xF1\"/>"));
  EXPECT_NE(s.LastError().find(L"line 2"), std::wstring::npos) << platform::ToUtf8(s.LastError());

  EXPECT_FALSE(s.LoadFromBytes("not xml at all"));
  EXPECT_FALSE(s.LoadFromBytes(""));
  EXPECT_FALSE(s.LoadFromBytes("<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><R/>"));
}

TEST(SettingsEncoding, ExternalEntitiesAreNotResolved) {
  CXmlSettings s;
  std::string doc =
      "<?xml version=\"1.0\"?><!DOCTYPE R [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><R "
      "A=\"&x;\"/>";
  ASSERT_TRUE(s.LoadFromBytes(doc)) << platform::ToUtf8(s.LastError());
  std::wstring saved = platform::FromUtf16LEBytes(s.SaveToBytes().substr(2));
  EXPECT_NE(saved.find(L"<R A="), std::wstring::npos) << platform::ToUtf8(saved);
  EXPECT_EQ(saved.find(L"root:"), std::wstring::npos);
}

TEST(SettingsSave, WritesUtf16IndentedAndReadsBack) {
  tltest::ScopedMachine machine;
  CXmlSettings s;
  SettingsNodePtr root, child;
  ASSERT_TRUE(s.CreateRoot(L"Settings", root));
  ASSERT_TRUE(root->SetAttribute(L"Application", Variant(L"T\u00f6lmera & Co")));
  ASSERT_TRUE(root->CreateChild(L"Project", child));
  ASSERT_TRUE(child->SetAttribute(L"Version", Variant(3)));

  // Two folder levels that do not exist yet.
  const std::wstring path = L"C:\\NewA\\NewB\\record.cfg";
  ASSERT_TRUE(s.Save(path));
  std::string bytes;
  ASSERT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
  std::wstring text = platform::FromUtf16LEBytes(bytes.substr(2));
  EXPECT_EQ(text.find(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>"), 0u);
  EXPECT_NE(text.find(L"\n\t<Project"), std::wstring::npos) << platform::ToUtf8(text);
  // The declaration is written once.
  EXPECT_EQ(text.find(L"<?xml", 1), std::wstring::npos);

  CXmlSettings back;
  ASSERT_TRUE(back.Load(path));
  SettingsNodePtr r2, p2;
  ASSERT_TRUE(back.GetRoot(r2));
  EXPECT_EQ(GetText(r2, L"Application"), L"T\u00f6lmera & Co");
  ASSERT_TRUE(r2->GetChild(L"project", p2));
  EXPECT_EQ(GetInt(p2, L"Version", 0), 3);
}

TEST(SettingsSave, FailureIsReportedAndLogged) {
  tltest::ScopedMachine machine;
  std::vector<std::wstring> lines;
  SetLogSink([&](LogLevel level, const std::wstring& text) {
    lines.push_back(std::to_wstring(static_cast<int>(level)) + L"|" + text);
  });
  CXmlSettings s;
  SettingsNodePtr root;
  EXPECT_FALSE(s.Save(L"C:\\x.cfg"));  // nothing to save
  ASSERT_TRUE(s.CreateRoot(L"R", root));
  // Drive Z: is the host's "/", read-only.
  EXPECT_FALSE(s.Save(L"Z:\\tmp\\never-written.cfg"));
  SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find(L"0|Save With Formatted( Z:\\tmp\\never-written.cfg ) failed:"), 0u)
      << platform::ToUtf8(lines[0]);
  // A missing file does not load.
  EXPECT_FALSE(s.Load(L"C:\\missing.cfg"));
  EXPECT_FALSE(s.LastError().empty());
}

namespace {

TEST(XmlBytes, MalformedUtf8IsRefusedWithWhereItStands) {
  std::string utf8;
  std::wstring error;
  EXPECT_TRUE(XmlBytesToUtf8("<a>\xC3\xA9t\xC3\xA9</a>", utf8, error));
  EXPECT_EQ(utf8, "<a>\xC3\xA9t\xC3\xA9</a>");
  struct Case {
    std::string bytes;
    const wchar_t* error;
  };
  const Case cases[] = {
      {"<a>\n x\xFF</a>", L"line 2, column 3: an invalid character was found in text content"},
      {"<a>\n\xC3", L"line 2, column 1: an invalid character was found in text content"},
      // An overlong "<" must not pass for the character it hides.
      {"<a>\xC0\xBC/a>", L"line 1, column 4: an invalid character was found in text content"},
      {"<a>\xED\xA0\x80</a>", L"line 1, column 4: an invalid character was found in text content"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_FALSE(XmlBytesToUtf8(c.bytes, utf8, error)) << c.bytes;
    EXPECT_EQ(error, c.error) << c.bytes;
  }
}

}  // namespace
