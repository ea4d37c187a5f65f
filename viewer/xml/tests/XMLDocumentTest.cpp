// XMLDocument: the byte rules of loading, malformed input, saving, merging into a file, copies.

#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <random>

namespace {

std::wstring RootText(const XMLDocument& doc) {
  return doc.GetRoot() ? doc.GetRoot()->GetTagValue() : L"<no root>";
}

struct ParseError {
  std::wstring reason;
  CParsePoint position;
  std::wstring source;
};

ParseError ErrorOf(const XMLDocument& doc) {
  ParseError e;
  CParsePoint untouched(77, 88);
  doc.GetParsingErrorInformation(e.reason, e.position, untouched, &e.source);
  EXPECT_EQ(untouched.GetLineNumber(), 77);
  EXPECT_EQ(untouched.GetLineIndex(), 88);
  return e;
}

}  // namespace

// --- load byte rules --------------------------------------------------------------------------

TEST(XmlDocumentLoad, Utf16WithAndWithoutMarkInEitherByteOrder) {
  TempDir dir;
  const std::u16string text =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Root>\u0416\u00b5x</Root>";
  dir.Write("le-mark.xml", Utf16LE(text, true));
  dir.Write("le-plain.xml", Utf16LE(text, false));
  dir.Write("be-mark.xml", Utf16BE(text, true));
  dir.Write("be-plain.xml", Utf16BE(text, false));
  for (const char* name : {"le-mark.xml", "le-plain.xml", "be-mark.xml", "be-plain.xml"}) {
    XMLDocument doc(dir.WFile(name).c_str());
    ASSERT_NE(doc.GetRoot(), nullptr) << name;
    // Without a mark the first character is text and must not be dropped.
    EXPECT_EQ(doc.GetRoot()->GetTag(), L"Root") << name;
    EXPECT_EQ(RootText(doc), L"\u0416\u00b5x") << name;
    EXPECT_EQ(doc.GetEncoding(), L"UTF-16") << name;
    EXPECT_EQ(doc.GetFileName(), dir.WFile(name)) << name;
  }
}

TEST(XmlDocumentLoad, Utf8MarkAnsiAndDeclaredEncodings) {
  TempDir dir;
  dir.Write("mark.xml", "\xEF\xBB\xBF<a>\xD0\x96</a>");  // UTF-8 with a mark
  dir.Write("plain-utf8.xml", "<a>\xD0\x96</a>");        // UTF-8, no mark
  dir.Write("ansi.xml", "<a>\xB5\x80</a>");              // not UTF-8: ANSI
  dir.Write("cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>\xE9\x80</a>");
  dir.Write("cp1251.xml", "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xC6</a>");

  XMLDocument mark(dir.WFile("mark.xml").c_str());
  EXPECT_EQ(RootText(mark), L"\u0416");
  XMLDocument plain(dir.WFile("plain-utf8.xml").c_str());
  EXPECT_EQ(RootText(plain), L"\u0416");
  XMLDocument ansi(dir.WFile("ansi.xml").c_str());
  EXPECT_EQ(RootText(ansi), L"\u00b5\u20ac");

  XMLDocument cp1252(dir.WFile("cp1252.xml").c_str());
  EXPECT_EQ(RootText(cp1252), L"\u00e9\u20ac");
  EXPECT_EQ(cp1252.GetWriteOptions(), 0x80u);
  EXPECT_EQ(cp1252.GetEncoding(), L"windows-1252");

  XMLDocument cp1251(dir.WFile("cp1251.xml").c_str());
  EXPECT_EQ(RootText(cp1251), L"\u0416");
  EXPECT_EQ(cp1251.GetWriteOptions(), 0x4u);
}

TEST(XmlDocumentLoad, UnknownDeclaredEncodingFails) {
  TempDir dir;
  dir.Write("odd.xml", "<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a/>");
  XMLDocument doc(dir.WFile("odd.xml").c_str());
  EXPECT_EQ(doc.GetRoot(), nullptr);
  EXPECT_NE(ErrorOf(doc).reason.find(L"encoding"), std::wstring::npos);
}

TEST(XmlDocumentLoad, MicroSignRepairAndFileName) {
  TempDir dir;
  dir.Write("micro.xml", "<a v=\"5&amp;181;m\">1&181;m 2&amp;181;m 3&amp;amp;</a>");
  XMLDocument doc(dir.WFile("micro.xml").c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(RootText(doc), L"1\u00b5m 2\u00b5m 3&amp;");
  EXPECT_EQ(doc.GetRoot()->GetStrAttr(L"v"), L"5\u00b5m");
  EXPECT_EQ(doc.GetFileName(), dir.WFile("micro.xml"));
}

TEST(XmlDocumentLoad, ShortOrMissingFileKeepsThePreviousTree) {
  TempDir dir;
  dir.Write("good.xml", "<Good>1</Good>");
  dir.Write("two.xml", "<a");
  XMLDocument doc(dir.WFile("good.xml").c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);

  doc.Load(dir.WFile("two.xml").c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->GetTag(), L"Good");
  doc.Load(dir.WFile("missing.xml").c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetFileName(), dir.WFile("good.xml"));

  XMLDocument shortDoc(dir.WFile("two.xml").c_str());
  EXPECT_EQ(shortDoc.GetRoot(), nullptr);
}

TEST(XmlDocumentLoad, AFifoOrAFolderIsRefusedWithoutWaitingForAWriter) {
  TempDir dir;
  dir.Write("good.xml", "<Good>1</Good>");
  std::filesystem::create_directory(dir.File("folder.xml"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.xml").c_str(), 0600), 0);
  XMLDocument doc(dir.WFile("good.xml").c_str());
  ASSERT_NE(doc.GetRoot(), nullptr);

  doc.Load(dir.WFile("folder.xml").c_str());
  EXPECT_EQ(doc.GetRoot()->GetTag(), L"Good");
  auto loading = std::async(std::launch::async, [&] {
    XMLDocument fifo(dir.WFile("fifo.xml").c_str());
    return fifo.GetRoot() == nullptr;
  });
  if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Let the waiting open go, so that the test fails instead of hanging.
    const int writer = ::open(dir.File("fifo.xml").c_str(), O_WRONLY);
    if (writer >= 0) ::close(writer);
    loading.wait();
    FAIL() << "loading a fifo waited for a writer";
  }
  EXPECT_TRUE(loading.get());
}

TEST(XmlDocumentLoad, NodeTreeHoldsEveryNodeTypeButBlankText) {
  XMLDocument doc;
  ASSERT_TRUE(
      doc.LoadXml(L"<?xml version=\"1.0\"?>\n<!-- top -->\n<r>\n  <e a=\"1\"/>\n  <!-- c -->\n"
                  L"  text<![CDATA[<raw>]]><?pi data?>\n</r>"));
  XMLNode* r = doc.GetRoot();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetTag(), L"r");
  ASSERT_EQ(r->GetChildCount(), 5);
  EXPECT_EQ(r->GetChild(0)->GetType(), 1u);
  EXPECT_EQ(r->GetChild(1)->GetType(), 8u);
  EXPECT_EQ(r->GetChild(1)->GetTag(), L"#comment");
  EXPECT_EQ(r->GetChild(1)->GetTagValue(), L" c ");
  EXPECT_EQ(r->GetChild(2)->GetType(), 3u);
  EXPECT_EQ(r->GetChild(2)->GetTag(), L"#text");
  EXPECT_EQ(r->GetChild(2)->GetTypeString(), L"text");
  EXPECT_EQ(r->GetChild(3)->GetType(), 4u);
  EXPECT_EQ(r->GetChild(3)->GetTagValue(), L"<raw>");
  EXPECT_EQ(r->GetChild(4)->GetType(), 7u);
  EXPECT_EQ(r->GetChild(4)->GetTag(), L"pi");
  for (int i = 0; i < r->GetChildCount(); ++i) EXPECT_EQ(r->GetChild(i)->GetParentDocument(), &doc);
}

// --- malformed input --------------------------------------------------------------------------

TEST(XmlDocumentMalformed, FailsWithPositionAndKeepsTree) {
  const wchar_t* bad[] = {
      L"<a><b></a>",
      L"<a>&nosuch;</a>",
      L"<a>x & y</a>",
      L"<a>&#0;</a>",
      L"<a x=\"&#xD800;\"/>",
      L"<a/><b/>",
      L"text<a/>",
      L"",
      L"<a",
      L"<a></a>junk",
  };
  for (const wchar_t* text : bad) {
    XMLDocument doc;
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_EQ(doc.LoadXml(text), 0) << text;
    ASSERT_NE(doc.GetRoot(), nullptr) << text;
    EXPECT_EQ(doc.GetRoot()->GetTag(), L"Document") << text;
    const ParseError e = ErrorOf(doc);
    EXPECT_FALSE(e.reason.empty()) << text;
    EXPECT_GE(e.position.GetLineNumber(), 1) << text;
    EXPECT_GE(e.position.GetLineIndex(), 1) << text;
  }
}

TEST(XmlDocumentMalformed, ReferencesAreCheckedOnlyWhereTheyCount) {
  // Values holding '>', "/>" and the other quote, and markup sections holding '&' and '<', are read
  // past; a bad reference after them is still found at its exact place.
  const wchar_t* good =
      L"<a x=\"1 > 0 /> 'q'\" y='say \"hi\" &amp; go'><!-- & < --><![CDATA[ & <b> ]]><?pi & ?>"
      L"<b z=\"/>\"/>t &lt; &#x41;</a>";
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(good), 1);
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_GT(doc.GetRoot()->GetChildCount(), 0);

  XMLDocument bad;
  EXPECT_EQ(bad.LoadXml(L"<a x=\"1 > 0 /> 'q'\">\n<b y='\"&amp;\"'/>  <c v=\"&bogus;\"/></a>"), 0);
  const ParseError e = ErrorOf(bad);
  EXPECT_EQ(e.position.GetLineNumber(), 2);
  EXPECT_EQ(e.position.GetLineIndex(), 25);
  EXPECT_NE(e.reason.find(L"bogus"), std::wstring::npos);
}

TEST(XmlDocumentLoad, BlankTextIsNotKeptHoweverItIsWritten) {
  // A blank text written as character references goes like plain blanks do, so that a save and a
  // reload give the same tree; text with anything else in it keeps its decoded blanks.
  for (const wchar_t* text :
       {L"<a>&#x20;<b/>&#9;&#xA;</a>", L"<a v=\"&181;\">&#32;<b/> &#10; </a>"}) {
    XMLDocument doc;
    ASSERT_EQ(doc.LoadXml(text), 1) << text;
    EXPECT_EQ(doc.GetRoot()->GetChildCount(), 1) << text;
    std::string saved;
    ASSERT_TRUE(doc.Serialize(saved, true, L"UTF-16"));
    XMLDocument back;
    ASSERT_EQ(back.LoadBytes(saved.data(), saved.size()), 1);
    EXPECT_EQ(back.GetRoot()->GetChildCount(), 1) << text;
  }
  XMLDocument kept;
  ASSERT_EQ(kept.LoadXml(L"<a>x&#x20;&#x20;</a>"), 1);
  EXPECT_EQ(kept.GetRoot()->GetTagValue(), L"x  ");
}

TEST(XmlDocumentMalformed, ErrorPositionAndSourceLine) {
  XMLDocument doc;
  EXPECT_EQ(doc.LoadXml(L"<a>\n  <b>x &foo; y</b>\n</a>"), 0);
  ParseError e = ErrorOf(doc);
  EXPECT_EQ(e.position.GetLineNumber(), 2);
  EXPECT_EQ(e.position.GetLineIndex(), 8);
  EXPECT_EQ(e.source, L"  <b>x &foo; y</b>");
  EXPECT_NE(e.reason.find(L"foo"), std::wstring::npos);

  EXPECT_EQ(doc.LoadXml(L"<a>\n<b>\n\u0416\u0416</c>\n</a>"), 0);
  e = ErrorOf(doc);
  EXPECT_EQ(e.position.GetLineNumber(), 3);
  EXPECT_EQ(e.source, L"\u0416\u0416</c>");
}

TEST(XmlDocumentMalformed, NulByteAndNonTextFile) {
  TempDir dir;
  dir.Write("nul.xml", std::string("<a>x\0y</a>", 10));
  XMLDocument nul(dir.WFile("nul.xml").c_str());
  EXPECT_EQ(nul.GetRoot(), nullptr);
  EXPECT_EQ(ErrorOf(nul).position.GetLineIndex(), 5);

  // A NUL after a complete element must not hide what follows.
  dir.Write("tail.xml", std::string("<a/>\0<b>", 8));
  XMLDocument tail(dir.WFile("tail.xml").c_str());
  EXPECT_EQ(tail.GetRoot(), nullptr);

  std::mt19937 random(7);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  for (int k = 0; k < 8; ++k) {
    noise[0] = static_cast<char>(k * 37);
    noise[1] = static_cast<char>(k * 91);
    dir.Write("noise.bin", noise);
    XMLDocument doc(dir.WFile("noise.bin").c_str());
    EXPECT_EQ(doc.GetRoot(), nullptr);
    EXPECT_FALSE(ErrorOf(doc).reason.empty());
  }
}

TEST(XmlDocumentMalformed, DeepNestingIsRefusedWithoutOverflow) {
  std::wstring deep;
  for (int i = 0; i < 10000; ++i) deep += L"<n>";
  for (int i = 0; i < 10000; ++i) deep += L"</n>";
  XMLDocument doc;
  EXPECT_EQ(doc.LoadXml(deep.c_str()), 0);
  EXPECT_NE(ErrorOf(doc).reason.find(L"nested"), std::wstring::npos);

  // Unclosed, far deeper still.
  std::wstring open;
  for (int i = 0; i < 200000; ++i) open += L"<n>";
  EXPECT_EQ(doc.LoadXml(open.c_str()), 0);

  // Within the limit the tree is built, walked and freed.
  std::wstring allowed;
  const int depth = XMLDocument::MaxDepth - 1;
  for (int i = 0; i < depth; ++i) allowed += L"<n>";
  allowed += L"leaf";
  for (int i = 0; i < depth; ++i) allowed += L"</n>";
  ASSERT_EQ(doc.LoadXml(allowed.c_str()), 1);
  EXPECT_EQ(doc.GetRoot()->GetTagValue(), L"leaf");
  XMLDocument copy(doc);
  EXPECT_EQ(copy.GetRoot()->GetTagValue(), L"leaf");
}

TEST(XmlDocumentMalformed, LargeFilesFailQuickly) {
  TempDir dir;
  std::string big = "<a>";
  big.append(50u * 1024 * 1024, 'x');  // 50 MB of text, never closed
  dir.Write("big.xml", big);
  XMLDocument doc(dir.WFile("big.xml").c_str());
  EXPECT_EQ(doc.GetRoot(), nullptr);
  EXPECT_EQ(ErrorOf(doc).position.GetLineNumber(), 1);
}

TEST(XmlDocumentMalformed, ExternalEntitiesAreNeverResolved) {
  TempDir dir;
  dir.Write("secret.txt", "SECRET");
  const std::string uri = "file://" + dir.File("secret.txt").string();
  dir.Write("ext.xml", "<!DOCTYPE a [<!ENTITY x SYSTEM \"" + uri + "\">]><a>&x;</a>");
  XMLDocument doc(dir.WFile("ext.xml").c_str());
  EXPECT_EQ(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetXMLContent().find(L"SECRET"), std::wstring::npos);

  // A document type without references loads; it is kept but not followed.
  dir.Write("dtd.xml", "<!DOCTYPE a SYSTEM \"" + uri + "\"><a>ok</a>");
  XMLDocument withDtd(dir.WFile("dtd.xml").c_str());
  ASSERT_NE(withDtd.GetRoot(), nullptr);
  EXPECT_EQ(RootText(withDtd), L"ok");
}

// --- saving -----------------------------------------------------------------------------------

TEST(XmlDocumentSave, NewDocumentWithoutNameCannotBeSaved) {
  XMLDocument doc;
  EXPECT_EQ(doc.Save(L"", 1), 0);
  EXPECT_EQ(doc.Save(nullptr, 0), 0);
  ASSERT_NE(doc.GetRoot(), nullptr);
  EXPECT_EQ(doc.GetRoot()->GetTag(), L"Document");
  EXPECT_EQ(doc.GetXMLContent().rfind(L"<?xml version=\"1.0\"?>", 0), 0u);
}

TEST(XmlDocumentSave, FormattedSaveIsUtf16IndentedStandaloneAndReadsBack) {
  TempDir dir;
  XMLDocument doc;
  XMLNode* child = doc.GetRoot()->NewChild(L"Child");
  ASSERT_NE(child, nullptr);
  child->AddAttr(L"value", 2.5);
  child->SetTagValue(std::wstring(L"\u0416 & <x>"));
  doc.SetModified(1);
  ASSERT_EQ(doc.Save(dir.WFile("out.xml").c_str(), 1), 1);
  EXPECT_EQ(doc.IsModified(), 0);
  EXPECT_EQ(doc.GetFileName(), dir.WFile("out.xml"));

  const std::string bytes = dir.Read("out.xml");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::string head =
      Utf16LE(u"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>", false);
  EXPECT_EQ(bytes.substr(2, head.size()), head);
  EXPECT_NE(bytes.find(Utf16LE(u"\n\t<Child", false)), std::string::npos);

  XMLDocument back(dir.WFile("out.xml").c_str());
  ASSERT_NE(back.GetRoot(), nullptr);
  XMLNode* again = back.GetRoot()->GetChild(L"child");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetTagValue(), L"\u0416 & <x>");
  EXPECT_EQ(again->GetDblAttr(L"value", 0), 2.5);
  // Only the files written remain: the temporary file was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(XmlDocumentSave, FileNameAfterFormattedAndPlainSaves) {
  TempDir dir;
  dir.Write("in.xml", "<a>1</a>");
  XMLDocument doc(dir.WFile("in.xml").c_str());
  ASSERT_EQ(doc.Save(dir.WFile("plain.xml").c_str(), 0), 1);
  EXPECT_EQ(doc.GetFileName(), dir.WFile("in.xml"));
  ASSERT_EQ(doc.Save(dir.WFile("formatted.xml").c_str(), 1), 1);
  EXPECT_EQ(doc.GetFileName(), dir.WFile("formatted.xml"));
  // Without a name, the remembered one.
  doc.GetRoot()->SetTagValue(std::wstring(L"2"));
  ASSERT_EQ(doc.Save(nullptr, 1), 1);
  EXPECT_EQ(RootText(XMLDocument(dir.WFile("formatted.xml").c_str())), L"2");
  // The plain save is the DOM's own form (UTF-8 without a declaration).
  EXPECT_EQ(dir.Read("plain.xml"), "<a>1</a>\n");
}

TEST(XmlDocumentSave, WriteOptionsSelectWindows1252) {
  TempDir dir;
  XMLDocument doc;
  doc.SetWriteOptions(0x84);
  EXPECT_EQ(doc.GetWriteOptions(), 0x80u);
  EXPECT_EQ(doc.GetEncoding(), L"windows-1252");
  doc.GetRoot()->SetTagValue(std::wstring(L"\u00e9\u20ac\u0416"));
  ASSERT_EQ(doc.Save(dir.WFile("w.xml").c_str(), 1), 1);
  const std::string bytes = dir.Read("w.xml");
  EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>", 0),
            0u);
  EXPECT_NE(bytes.find("\xE9\x80&#1046;"), std::string::npos);
  XMLDocument back(dir.WFile("w.xml").c_str());
  EXPECT_EQ(RootText(back), L"\u00e9\u20ac\u0416");
  EXPECT_EQ(back.GetWriteOptions(), 0x80u);

  doc.SetWriteOptions(0x4);
  EXPECT_EQ(doc.GetWriteOptions(), 0x4u);
  EXPECT_EQ(doc.GetEncoding(), L"UTF-16");
  doc.SetWriteOptions(0x1);  // other bits change nothing
  EXPECT_EQ(doc.GetEncoding(), L"UTF-16");
}

TEST(XmlDocumentSave, FailedWriteIsReportedAndChangesNothing) {
  TempDir dir;
  XMLDocument doc;
  doc.SetModified(1);
  EXPECT_EQ(doc.Save(dir.WFile("no-such-dir/x.xml").c_str(), 1), 0);
  EXPECT_EQ(doc.Save(dir.WFile("no-such-dir/x.xml").c_str(), 0), 0);
  EXPECT_EQ(doc.IsModified(), 1);
  EXPECT_EQ(doc.GetFileName(), L"");
  // A folder in the way of the file.
  std::filesystem::create_directory(dir.File("taken"));
  EXPECT_EQ(doc.Save(dir.WFile("taken").c_str(), 1), 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(XmlDocumentSave, IndentationCanBeSwitchedOff) {
  XMLDocument doc;
  doc.GetRoot()->NewChild(L"a");
  EXPECT_NE(doc.GetXMLContentWithFormatted().find(L"\n\t<a />"), std::wstring::npos);
  doc.SetAutomaticIndentation(0, 0, 4);
  const std::wstring flat = doc.GetXMLContentWithFormatted();
  EXPECT_NE(flat.find(L"<Document><a/></Document>"), std::wstring::npos);
  EXPECT_EQ(flat.rfind(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>", 0), 0u);
}

// --- merging into a file ----------------------------------------------------------------------

TEST(XmlDocumentUpDate, MissingFileReceivesThisDocument) {
  TempDir dir;
  XMLDocument doc;
  doc.GetRoot()->NewChild(L"Section")->AddAttr(L"k", 1);
  EXPECT_EQ(doc.UpDate(dir.WFile("new.xml").c_str()), 1);
  XMLDocument back(dir.WFile("new.xml").c_str());
  ASSERT_NE(back.GetRoot(), nullptr);
  ASSERT_NE(back.GetRoot()->GetChild(L"Section"), nullptr);
  EXPECT_EQ(back.GetRoot()->GetChild(L"Section")->GetIntAttr(L"k", 0), 1);
}

TEST(XmlDocumentUpDate, KeepsTheFilesOwnSectionsAndReplacesShared) {
  TempDir dir;
  dir.Write("f.xml", "<R><Only a=\"1\"><Sub>text</Sub></Only><shared v=\"old\"/><!-- c --></R>");
  XMLDocument doc;
  ASSERT_TRUE(doc.LoadXml(L"<R><Shared v=\"new\"/><Mine/></R>"));
  EXPECT_EQ(doc.UpDate(dir.WFile("f.xml").c_str()), 1);
  XMLDocument back(dir.WFile("f.xml").c_str());
  XMLNode* r = back.GetRoot();
  ASSERT_NE(r, nullptr);
  ASSERT_NE(r->GetChild(L"Only"), nullptr);
  EXPECT_EQ(r->GetChild(L"Only")->GetIntAttr(L"a", 0), 1);
  EXPECT_EQ(r->GetChild(L"Only")->GetTagValue(), L"text");
  EXPECT_EQ(r->GetChild(L"Only")->GetChildCount(), 1);
  EXPECT_EQ(r->GetChild(L"shared")->GetStrAttr(L"v"), L"new");
  EXPECT_NE(r->GetChild(L"Mine"), nullptr);
  EXPECT_EQ(doc.UpDate(dir.WFile("no-dir/f.xml").c_str()), 0);  // a failed write is reported
}

// --- content strings and copies ---------------------------------------------------------------

TEST(XmlDocumentContent, ContentStringsNameTheEncoding) {
  XMLDocument doc;
  ASSERT_TRUE(doc.LoadXml(L"<?xml version=\"1.0\" encoding=\"windows-1252\"?><a><b>1</b></a>"));
  EXPECT_NE(doc.GetXMLContent().find(L"<a><b>1</b></a>"), std::wstring::npos);
  const std::wstring formatted = doc.GetXMLContentWithFormatted();
  EXPECT_EQ(
      formatted.rfind(L"<?xml version=\"1.0\" encoding=\"windows-1252\" standalone=\"yes\"?>", 0),
      0u);
  EXPECT_NE(formatted.find(L"<a>\n\t<b>1</b>\n</a>"), std::wstring::npos);
}

TEST(XmlDocumentCopy, CopiesOwnTheirTrees) {
  XMLDocument original;
  ASSERT_TRUE(original.LoadXml(L"<a><b x=\"1\">t</b></a>"));
  XMLNode* loose = new XMLNode(&original, L"loose", 1);
  loose->AddAttr(L"k", 1);  // lives in the original's DOM but not in its tree
  {
    XMLDocument copy(original);
    ASSERT_NE(copy.GetRoot(), nullptr);
    EXPECT_NE(copy.GetRoot(), original.GetRoot());
    copy.GetRoot()->GetChild(L"b")->AddAttr(L"x", 2);
    copy.GetRoot()->NewChild(L"c");
    EXPECT_EQ(copy.GetXMLContent().find(L"loose"), std::wstring::npos);

    XMLDocument assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetRoot()->GetChildCount(), 2);
    assigned = assigned;  // self-assignment keeps the tree
    EXPECT_EQ(assigned.GetRoot()->GetChildCount(), 2);
  }
  EXPECT_EQ(original.GetRoot()->GetChild(L"b")->GetIntAttr(L"x", 0), 1);
  EXPECT_EQ(original.GetRoot()->GetChildCount(), 1);
  EXPECT_EQ(original.GetXMLContent().find(L"loose"), std::wstring::npos);
  delete loose;
}

TEST(XmlDocumentCopy, NodesHeldByTheCallerSurviveAReload) {
  XMLDocument doc;
  XMLNode* loose = new XMLNode(&doc, L"keep", 1);
  loose->AddAttr(L"k", 1);
  ASSERT_TRUE(loose->IsBound());
  ASSERT_TRUE(doc.LoadXml(L"<other/>"));
  EXPECT_FALSE(loose->IsBound());
  EXPECT_EQ(loose->GetTag(), L"keep");
  // It binds again in the new DOM and can join the new tree.
  EXPECT_EQ(doc.GetRoot()->AddChild(loose, 1), 1);
  EXPECT_NE(doc.GetXMLContent().find(L"<other><keep/></other>"), std::wstring::npos);
}

TEST(XmlDocumentCopy, NodesHeldByTheCallerOutliveTheirDocument) {
  XMLNode* loose = nullptr;
  XMLNode* kid = nullptr;
  {
    XMLDocument doc;
    loose = new XMLNode(&doc, L"keep", 1);
    EXPECT_EQ(loose->NewChild(L"kid"), nullptr);  // an unbound parent takes no DOM children
    loose->AddAttr(L"x", 1);                      // binds it
    kid = loose->NewChild(L"kid");
    ASSERT_NE(kid, nullptr);
    kid->AddAttr(L"a", 1);
  }
  EXPECT_EQ(loose->GetParentDocument(), nullptr);
  EXPECT_EQ(kid->GetParentDocument(), nullptr);
  EXPECT_FALSE(kid->IsBound());
  EXPECT_EQ(kid->GetTag(), L"kid");
  kid->AddAttr(L"b", 2);  // no document: nothing happens, nothing breaks
  EXPECT_EQ(kid->GetAttrCount(), 0);
  delete loose;
}

TEST(XmlDocumentMalformed, ReferencesAreCheckedWhereTheyCount) {
  XMLDocument doc;
  // Comments, CDATA sections and processing instructions hold '&' freely.
  ASSERT_EQ(
      doc.LoadXml(
          L"<a><!-- a & b --><![CDATA[x & y]]><?pi & ?>t &lt;&#65;&#x42;&quot;&apos;&gt;</a>"),
      1);
  EXPECT_EQ(doc.GetRoot()->GetTagValue(), L"x & yt <AB\"'>");
  // Quoted '>' and "/>" do not end a tag.
  ASSERT_EQ(doc.LoadXml(L"<a x=\"/>\" y='>'><b/></a>"), 1);
  EXPECT_EQ(doc.GetRoot()->GetStrAttr(L"x"), L"/>");
  ASSERT_EQ(doc.GetRoot()->GetChildCount(), 1);
  // An internal subset with '>' inside.
  ASSERT_EQ(doc.LoadXml(L"<!DOCTYPE a [<!ELEMENT a ANY><!ATTLIST a x CDATA \"1\">]><a>ok</a>"), 1);
  EXPECT_EQ(doc.GetRoot()->GetTagValue(), L"ok");

  EXPECT_EQ(doc.LoadXml(L"<r>\n<a x=\"1 &bad; 2\"/></r>"), 0);
  ParseError e = ErrorOf(doc);
  EXPECT_EQ(e.position.GetLineNumber(), 2);
  EXPECT_EQ(e.position.GetLineIndex(), 9);
  EXPECT_NE(e.reason.find(L"bad"), std::wstring::npos);

  // The old micro signs mixed with a bad reference: still refused.
  EXPECT_EQ(doc.LoadXml(L"<a>&181; &bogus;</a>"), 0);
  EXPECT_EQ(doc.LoadXml(L"<a v=\"&amp;181;\">&#xFFFE;</a>"), 0);
  EXPECT_EQ(doc.GetRoot()->GetTagValue(), L"ok");  // the last good tree stays
}

TEST(XmlDocumentMalformed, DepthCountsNestingNotSiblings) {
  std::wstring wide = L"<r>";
  for (int i = 0; i < 20000; ++i) wide += L"<n/><m></m>";
  wide += L"</r>";
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(wide.c_str()), 1);
  EXPECT_EQ(doc.GetRoot()->GetChildCount(), 40000);

  std::wstring deep = L"<r>\n";
  for (int i = 0; i < XMLDocument::MaxDepth; ++i) deep += L"<n>";
  EXPECT_EQ(doc.LoadXml(deep.c_str()), 0);
  const ParseError e = ErrorOf(doc);
  EXPECT_EQ(e.position.GetLineNumber(), 2);
  EXPECT_EQ(e.position.GetLineIndex(), 3 * (XMLDocument::MaxDepth - 1) + 1);
}

TEST(XmlDocumentSave, AwkwardContentSurvivesEverySave) {
  TempDir dir;
  const wchar_t* source =
      L"<r a=\"x&quot;y&apos;z&#10;&#9;&lt;&amp;\" b='single \"q\"'>"
      L"<t>one &amp; &lt;two&gt; ]]&gt; \u0416\u00e9\u20ac\U0001F600</t>"
      L"<![CDATA[cdata ]]]]><![CDATA[> x]]><!-- c - c --><?pi data?><e/></r>";
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(source), 1);
  const std::wstring expected = doc.GetXMLContent();
  struct Case {
    unsigned long options;
    const char* name;
    int formatted;
  };
  for (const Case& c :
       {Case{0x4, "utf16.xml", 1}, Case{0x80, "cp1252.xml", 1}, Case{0x4, "plain.xml", 0}}) {
    doc.SetWriteOptions(c.options);
    ASSERT_EQ(doc.Save(dir.WFile(c.name).c_str(), c.formatted), 1) << c.name;
    XMLDocument back(dir.WFile(c.name).c_str());
    ASSERT_NE(back.GetRoot(), nullptr) << c.name;
    const std::wstring content = back.GetXMLContent();
    ASSERT_NE(content.find(L"<r "), std::wstring::npos) << c.name;
    EXPECT_EQ(content.substr(content.find(L"<r ")), expected) << c.name;
  }
  doc.SetEncoding(L"UTF-8");
  ASSERT_EQ(doc.Save(dir.WFile("utf8.xml").c_str(), 1), 1);
  XMLDocument utf8(dir.WFile("utf8.xml").c_str());
  const std::wstring content = utf8.GetXMLContent();
  EXPECT_EQ(content.rfind(L"<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
  EXPECT_EQ(content.substr(content.find(L"<r ")), expected);
  EXPECT_EQ(utf8.GetEncoding(), L"UTF-8");
}

TEST(XmlDocumentMalformed, ControlCharactersAreRefused) {
  XMLDocument doc;
  EXPECT_EQ(doc.LoadXml(L"<a x=\"\v\">P</a>"), 0);
  EXPECT_EQ(ErrorOf(doc).position.GetLineIndex(), 7);
  EXPECT_EQ(doc.LoadXml(L"<a>0123456789abcdefghij\x01</a>"), 0);
  EXPECT_EQ(ErrorOf(doc).position.GetLineIndex(), 24);
  EXPECT_EQ(doc.LoadXml(L"<a><!-- \x1f --></a>"), 0);
  // Tab, line feed and carriage return are text.
  ASSERT_EQ(doc.LoadXml(L"<a>\t1\r\n2</a>"), 1);
  EXPECT_EQ(doc.GetRoot()->GetTagValue(), L"\t1\n2");
}

// --- bytes the encoding does not define, markup the target cannot carry -------------------------

TEST(XmlDocumentLoad, ABytesThatIsNotOfTheDeclaredEncodingIsRefusedWhereItStands) {
  TempDir dir;
  // Declared UTF-8 (or marked so), one byte of Latin-1 on line 3: refused, not guessed.
  dir.Write("declared.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\n  <b>caf\xE9</b>\n</a>");
  dir.Write("marked.xml", "\xEF\xBB\xBF<a>\n\xD0\x96\xFF</a>");
  dir.Write("good.xml", "<Good>1</Good>");
  XMLDocument doc(dir.WFile("good.xml").c_str());
  ASSERT_EQ(RootText(doc), L"1");
  doc.Load(dir.WFile("declared.xml").c_str());
  EXPECT_EQ(RootText(doc), L"1") << "the previous tree stays";
  ParseError e = ErrorOf(doc);
  EXPECT_NE(e.reason.find(L"byte 0xE9 is not UTF-8"), std::wstring::npos) << e.reason;
  EXPECT_EQ(e.position.GetLineNumber(), 3);
  EXPECT_EQ(e.position.GetLineIndex(), 9);
  EXPECT_EQ(e.source, L"  <b>caf\ufffd</b>");  // the line, the bad byte shown as U+FFFD

  XMLDocument marked(dir.WFile("marked.xml").c_str());
  EXPECT_FALSE(marked.GetRoot());
  e = ErrorOf(marked);
  EXPECT_NE(e.reason.find(L"byte 0xFF is not UTF-8"), std::wstring::npos) << e.reason;
  EXPECT_EQ(e.position.GetLineNumber(), 2);
  EXPECT_EQ(e.position.GetLineIndex(), 2);

  // A byte windows-1252 leaves undefined, in a file that declares it.
  dir.Write("cp1252.xml", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>ok\x81</a>");
  XMLDocument cp(dir.WFile("cp1252.xml").c_str());
  EXPECT_FALSE(cp.GetRoot());
  e = ErrorOf(cp);
  EXPECT_NE(e.reason.find(L"byte 0x81 is not windows-1252"), std::wstring::npos) << e.reason;
  EXPECT_EQ(e.position.GetLineNumber(), 1);

  // Without any word on the encoding, bytes that are not UTF-8 are still the ANSI code page.
  dir.Write("legacy.xml", "<a>caf\xE9</a>");
  XMLDocument legacy(dir.WFile("legacy.xml").c_str());
  EXPECT_EQ(RootText(legacy), L"caf\u00e9");
}

TEST(XmlDocumentSave, NamesTheTargetEncodingLacksAreRefusedAndTextBecomesReferences) {
  TempDir dir;
  XMLDocument doc;
  ASSERT_TRUE(
      doc.LoadXml(L"<Model><Part name=\"\u0412\u0430\u043b\">\u0416<!--\u0416 here-->"
                  L"</Part></Model>"));
  doc.SetWriteOptions(0x80);
  // Text and attribute values: references, read back as they were; the comment keeps the
  // reference as its text.
  ASSERT_EQ(doc.Save(dir.WFile("ok.xml").c_str(), 1), 1) << doc.GetSaveError();
  EXPECT_TRUE(doc.GetSaveError().empty());
  const std::string bytes = dir.Read("ok.xml");
  EXPECT_NE(bytes.find("name=\"&#1042;&#1072;&#1083;\""), std::string::npos) << bytes;
  XMLDocument back(dir.WFile("ok.xml").c_str());
  ASSERT_TRUE(back.GetRoot()) << ErrorOf(back).reason;
  XMLNode* part = back.GetRoot()->GetChild(0);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->GetStrAttr(L"name", L""), L"\u0412\u0430\u043b");
  EXPECT_EQ(part->GetTagValue().substr(0, 1), L"\u0416");

  // Names outside windows-1252: refused with the reason, no file written.
  const struct {
    const wchar_t* xml;
    const wchar_t* what;
  } refused[] = {
      {L"<\u0418\u0432\u0430\u043d>1</\u0418\u0432\u0430\u043d>", L"the name '"},
      {L"<a \u0416=\"1\"/>", L"the attribute name '"},
      {L"<a><?\u0416pi data?></a>", L"the name '"},
      {L"<a><![CDATA[\u0416]]></a>", L"a CDATA section"},
  };
  int index = 0;
  for (const auto& r : refused) {
    SCOPED_TRACE(index++);
    XMLDocument bad;
    ASSERT_TRUE(bad.LoadXml(r.xml)) << ErrorOf(bad).reason;
    bad.SetWriteOptions(0x80);
    EXPECT_EQ(bad.Save(dir.WFile("bad.xml").c_str(), 1), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.xml")));
    EXPECT_NE(bad.GetSaveError().find(r.what), std::wstring::npos) << bad.GetSaveError();
    EXPECT_NE(bad.GetSaveError().find(L"cannot be written in windows-1252"), std::wstring::npos);
    // The same document in UTF-16 is written and read back.
    bad.SetWriteOptions(0x4);
    EXPECT_EQ(bad.Save(dir.WFile("bad.xml").c_str(), 1), 1);
    EXPECT_TRUE(bad.GetSaveError().empty());
    XMLDocument again(dir.WFile("bad.xml").c_str());
    EXPECT_TRUE(again.GetRoot());
    std::filesystem::remove(dir.File("bad.xml"));
  }
}

TEST(XmlDocumentMalformed, TooDeepIsFoundWhereverTheReferencesLeaveTheCheck) {
  // A document whose references are all good is measured after the parse; one with a reference
  // the quick look cannot settle (an '&' alone in a comment) is scanned as it stands. Both
  // refuse at the first element too deep, at its '<'.
  for (const wchar_t* extra : {L"", L"<!-- a & b -->", L"<!-- &181; -->"}) {
    std::wstring deep = L"<r a=\"&amp;\">";
    deep += extra;
    deep += L"\n";
    for (int i = 0; i < XMLDocument::MaxDepth; ++i) deep += L"<n>";
    for (int i = 0; i < XMLDocument::MaxDepth; ++i) deep += L"</n>";
    deep += L"</r>";
    XMLDocument doc;
    EXPECT_EQ(doc.LoadXml(deep.c_str()), 0) << extra;
    const ParseError e = ErrorOf(doc);
    EXPECT_NE(e.reason.find(L"nested"), std::wstring::npos) << extra;
    EXPECT_EQ(e.position.GetLineNumber(), 2) << extra;
    EXPECT_EQ(e.position.GetLineIndex(), 3 * (XMLDocument::MaxDepth - 1) + 1) << extra;
  }
}

TEST(XmlDocumentLoad, OldMicroSignsInCommentsChangeNothing) {
  XMLDocument doc;
  ASSERT_EQ(doc.LoadXml(L"<a v=\"&lt;1&#x41;\"><!-- &181; &amp;181; -->x&amp;y&#65;</a>"), 1);
  XMLNode* a = doc.GetRoot();
  EXPECT_EQ(a->GetStrAttr(L"v"), L"<1A");
  ASSERT_EQ(a->GetChildCount(), 2);
  EXPECT_EQ(a->GetChild(0)->GetTagValue(), L" &181; &amp;181; ");
  EXPECT_EQ(a->GetChild(1)->GetTagValue(), L"x&yA");
  // A syntax fault after good references is the parser's, with its place.
  EXPECT_EQ(doc.LoadXml(L"<a>&amp;\n<b></c></a>"), 0);
  EXPECT_EQ(ErrorOf(doc).position.GetLineNumber(), 2);
  EXPECT_EQ(doc.GetRoot()->GetChild(1)->GetTagValue(), L"x&yA");  // the last good tree stays
}

TEST(XmlDocumentMalformed, FaultsFarIntoLongRunsOfPlainTextKeepTheirPlace) {
  // Plain ASCII is passed over in long strides; a fault inside one is still found where it is.
  // The strides are 16, 32, 64 and 128 bytes: faults on both sides of each boundary, and with
  // the text after them shorter than a stride.
  for (std::size_t at : {0u, 15u, 31u, 32u, 63u, 64u, 100u, 124u, 125u, 200u, 252u, 253u, 1000u}) {
    for (std::size_t after : {0u, 7u, 31u, 150u}) {
      std::wstring text =
          L"<a>" + std::wstring(at, L'x') + L"\x02" + std::wstring(after, L'y') + L"</a>";
      XMLDocument doc;
      EXPECT_EQ(doc.LoadXml(text.c_str()), 0) << at << " " << after;
      EXPECT_EQ(ErrorOf(doc).position.GetLineIndex(), static_cast<int>(at) + 4)
          << at << " " << after;
    }
  }
  TempDir dir;
  for (std::size_t at : {5u, 64u, 124u, 125u, 130u, 252u, 253u, 1000u}) {
    for (std::size_t after : {0u, 100u}) {
      dir.Write("bad.xml", "\xEF\xBB\xBF<a>" + std::string(at, 'x') + "\xFF" +
                               std::string(after, 'y') + "</a>");
      XMLDocument doc(dir.WFile("bad.xml").c_str());
      EXPECT_FALSE(doc.GetRoot()) << at;
      // The mark counts as the line's first character.
      EXPECT_EQ(ErrorOf(doc).position.GetLineIndex(), static_cast<int>(at) + 5) << at;
    }
    // A good letter of two bytes in the same place is read as it is.
    dir.Write("good.xml",
              "<a>" + std::string(at, 'x') + "\xC3\xA9" + std::string(100, 'y') + "</a>");
    XMLDocument good(dir.WFile("good.xml").c_str());
    ASSERT_TRUE(good.GetRoot()) << at;
    EXPECT_EQ(good.GetRoot()->GetTagValue(),
              std::wstring(at, L'x') + L"\u00e9" + std::wstring(100, L'y'));
  }
}
