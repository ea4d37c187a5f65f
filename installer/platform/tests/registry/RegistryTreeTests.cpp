// The hive text format: reading, writing and their round trip, without a machine.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>

#include "platform/RegistryTree.h"
#include "platform/Text.h"

using namespace platform;
using namespace platform::reg;

namespace {

const std::wstring kRoot = L"HKEY_LOCAL_MACHINE";

std::string Utf8Hive(const std::string& body) {
  return "Windows Registry Editor Version 5.00\r\n\r\n" + body;
}

std::unique_ptr<Key> Parse(const std::string& text, ParseError* error = nullptr) {
  ParseError local;
  return ParseHive(text, kRoot, error ? error : &local);
}

std::vector<std::uint8_t> Dw(std::uint32_t v) {
  std::vector<std::uint8_t> d(4);
  std::memcpy(d.data(), &v, 4);
  return d;
}

// Builds a tree with every value type and awkward names.
std::unique_ptr<Key> SampleTree() {
  auto root = std::make_unique<Key>();
  Key* k = root->AddChild(L"SOFTWARE")->AddChild(L"Vendor \"Q\" [x]");
  k->SetValue(L"", REG_SZ, StringData(L"default"));
  k->SetValue(L"Quote\"And\\Back", REG_SZ, StringData(L"C:\\Path \"quoted\""));
  k->SetValue(L"Unicode", REG_SZ, StringData(L"\u00e9\u4e2d\U0001F600"));
  k->SetValue(L"Expand", REG_EXPAND_SZ, StringData(L"%SystemRoot%\\x"));
  k->SetValue(L"Multi", REG_MULTI_SZ, MultiStringData({L"one", L"two", L"three"}));
  k->SetValue(L"Dword", REG_DWORD, Dw(0xDEADBEEF));
  k->SetValue(L"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
  k->SetValue(L"Binary", REG_BINARY, std::vector<std::uint8_t>(200, 0xAB));
  k->SetValue(L"Empty", REG_BINARY, {});
  k->SetValue(L"Lines", REG_SZ, StringData(L"line1\r\nline2"));
  k->SetValue(L"Short dword", REG_DWORD, {1, 2});
  k->SetValue(L"None", REG_NONE, {9});
  k->AddChild(L"Empty child");
  k->sddl = L"O:BAG:SYD:(A;;KA;;;BA)";
  return root;
}

void ExpectSameTree(const Key& a, const Key& b) {
  EXPECT_EQ(a.Name(), b.Name());
  EXPECT_EQ(a.sddl, b.sddl);
  ASSERT_EQ(a.Values().size(), b.Values().size()) << "in key " << ToUtf8(a.Name());
  for (std::size_t i = 0; i < a.Values().size(); ++i) {
    EXPECT_EQ(a.Values()[i].name, b.Values()[i].name);
    EXPECT_EQ(a.Values()[i].type, b.Values()[i].type) << ToUtf8(a.Values()[i].name);
    EXPECT_EQ(a.Values()[i].data, b.Values()[i].data) << ToUtf8(a.Values()[i].name);
  }
  ASSERT_EQ(a.ChildCount(), b.ChildCount());
  auto ia = a.Children().begin();
  auto ib = b.Children().begin();
  for (; ia != a.Children().end(); ++ia, ++ib) ExpectSameTree(*ia->second, *ib->second);
}

}  // namespace

TEST(RegistryText, RoundTripKeepsEveryTypeNameAndSecurity) {
  auto tree = SampleTree();
  std::string text = WriteHive(*tree, kRoot);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0xFF);  // UTF-16LE BOM
  EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xFE);
  ParseError error;
  auto back = ParseHive(text, kRoot, &error);
  ASSERT_TRUE(back) << ToUtf8(error.message) << " line " << error.line;
  ExpectSameTree(*tree, *back);
  // Writing again gives the same bytes: the format is stable.
  EXPECT_EQ(WriteHive(*back, kRoot), text);
}

TEST(RegistryText, WritesTheRegistryEditorsForms) {
  auto tree = SampleTree();
  std::string bytes = WriteHive(*tree, kRoot);
  std::wstring text =
      FromUtf16Le(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  EXPECT_EQ(text.rfind(L"Windows Registry Editor Version 5.00\r\n\r\n", 0), 0u);
  EXPECT_NE(text.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor \"Q\" [x]]\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"@=\"default\"\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"Quote\\\"And\\\\Back\"=\"C:\\\\Path \\\"quoted\\\"\"\r\n"),
            std::wstring::npos);
  EXPECT_NE(text.find(L"\"Dword\"=dword:deadbeef\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"Expand\"=hex(2):25,00,53,00"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"Empty\"=hex:\r\n"), std::wstring::npos);
  // A string with line breaks cannot be quoted; it is kept as hex(1).
  EXPECT_NE(text.find(L"\"Lines\"=hex(1):6c,00"), std::wstring::npos);
  // Long hex data wraps with ",\" and a two-space indent, no line longer than 80 characters.
  EXPECT_NE(text.find(L",\\\r\n  ab,ab"), std::wstring::npos);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) break;
    if (text.compare(start, 1, L"[") != 0) {
      EXPECT_LE(end - start, 80u) << ToUtf8(text.substr(start, end - start));
    }
    start = end + 2;
  }
}

TEST(RegistryText, ReadsUtf8AndImportDeletions) {
  auto tree =
      Parse(Utf8Hive("[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=\"1\"\r\n\"y\"=\"2\"\r\n\"y\"=-\r\n"
                     "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"  // LF only, and intermediate B is created
                     "@=dword:7\n"
                     "\"caf\xC3\xA9\"=\"\xE4\xB8\xAD\"\n"
                     "[HKEY_LOCAL_MACHINE\\Gone]\n\"z\"=\"1\"\n"
                     "[-HKEY_LOCAL_MACHINE\\Gone]\n"
                     "; a comment\n"));
  ASSERT_TRUE(tree);
  Key* a = tree->Child(L"a");  // look-up ignores case
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->FindValue(L"X"));
  EXPECT_FALSE(a->FindValue(L"y"));
  Key* c = a->Child(L"B") ? a->Child(L"B")->Child(L"C") : nullptr;
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->FindValue(L""));
  EXPECT_EQ(c->FindValue(L"")->data, Dw(7));
  ASSERT_TRUE(c->FindValue(L"CAF\u00c9"));  // fixed upper-case table, not ASCII only
  EXPECT_EQ(DataToString(c->FindValue(L"caf\u00e9")->data), L"\u4e2d");
  EXPECT_FALSE(tree->Child(L"Gone"));
}

TEST(RegistryText, HexValuesContinueOverLines) {
  auto tree =
      Parse(Utf8Hive("[HKEY_LOCAL_MACHINE\\K]\n\"b\"=hex:01,02,\\\n  03,04\n\"after\"=\"x\"\n"));
  ASSERT_TRUE(tree);
  Key* k = tree->Child(L"K");
  ASSERT_TRUE(k && k->FindValue(L"b"));
  EXPECT_EQ(k->FindValue(L"b")->data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
  EXPECT_TRUE(k->FindValue(L"after"));
}

TEST(RegistryText, ErrorsNameTheLineAndReturnNothing) {
  struct Case {
    const char* body;
    std::size_t line;
  } cases[] = {
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:xyz\n", 4},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"unterminated\n", 4},
      {"[HKEY_LOCAL_MACHINE\\K\n", 3},
      {"[HKEY_CURRENT_USER\\K]\n", 3},                    // outside the hive
      {"\"orphan\"=\"value\"\n", 3},                      // value before any key
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:1,2\n", 4},    // bytes need two digits
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex(2):41\n", 4},  // odd UTF-16 byte count
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=hex:01,\\\n", 4},  // continued past the end
      {"[HKEY_LOCAL_MACHINE\\K\\\\L]\n", 3},              // empty key name
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"a\\nb\"\n", 4},  // unknown escape
      {"[HKEY_LOCAL_MACHINE\\K]\nrubbish\n", 4},
      {"[HKEY_LOCAL_MACHINE\\K]\n\"v\"=dword:123456789\n", 4},
  };
  for (const auto& c : cases) {
    ParseError error;
    auto tree = ParseHive(Utf8Hive(c.body), kRoot, &error);
    EXPECT_FALSE(tree) << c.body;
    EXPECT_EQ(error.line, c.line) << c.body;
    EXPECT_FALSE(error.message.empty());
  }
  ParseError error;
  EXPECT_FALSE(ParseHive("REGEDIT4\r\n", kRoot, &error));
  EXPECT_EQ(error.line, 1u);
  EXPECT_FALSE(ParseHive("", kRoot, &error));
}

TEST(RegistryText, DeepPathsAndLargeValues) {
  // 300 levels of keys and a 10 MB value survive a round trip.
  auto root = std::make_unique<Key>();
  Key* k = root.get();
  for (int i = 0; i < 300; ++i) k = k->AddChild(L"level" + std::to_wstring(i));
  std::vector<std::uint8_t> big(10 * 1024 * 1024);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  k->SetValue(L"big", REG_BINARY, big);
  auto back = ParseHive(WriteHive(*root, kRoot), kRoot, nullptr);
  ASSERT_TRUE(back);
  const Key* d = back.get();
  for (int i = 0; i < 300; ++i) {
    d = d->Child(L"LEVEL" + std::to_wstring(i));
    ASSERT_TRUE(d) << i;
  }
  ASSERT_TRUE(d->FindValue(L"big"));
  EXPECT_TRUE(d->FindValue(L"big")->data == big);

  // Deeper than Windows allows is refused with the line.
  std::string deep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 513; ++i) deep += "\\k";
  ParseError error;
  EXPECT_FALSE(ParseHive(Utf8Hive(deep + "]\n"), kRoot, &error));
  EXPECT_EQ(error.line, 3u);
}

TEST(RegistryText, MultiStringsWithoutTerminatorStillRead) {
  std::wstring raw = L"alpha";
  raw.push_back(L'\0');
  raw += L"beta";  // no terminators at the end
  std::vector<std::uint8_t> data(raw.size() * sizeof(wchar_t));
  std::memcpy(data.data(), raw.data(), data.size());
  EXPECT_EQ(DataToMultiString(data), (std::vector<std::wstring>{L"alpha", L"beta"}));
  EXPECT_TRUE(DataToMultiString({}).empty());
  // And the raw data round-trips through the text form unchanged.
  auto root = std::make_unique<Key>();
  root->AddChild(L"K")->SetValue(L"m", REG_MULTI_SZ, data);
  auto back = ParseHive(WriteHive(*root, kRoot), kRoot, nullptr);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Child(L"K")->FindValue(L"m")->data, data);
}

TEST(RegistryText, KeyOperationsKeepOrderAndCase) {
  Key key;
  key.SetValue(L"b", REG_SZ, StringData(L"1"));
  key.SetValue(L"A", REG_SZ, StringData(L"2"));
  key.SetValue(L"c", REG_SZ, StringData(L"3"));
  key.SetValue(L"B", REG_DWORD, Dw(4));  // replaces "b", keeps its place and first spelling
  ASSERT_EQ(key.Values().size(), 3u);
  EXPECT_EQ(key.Values()[0].name, L"b");
  EXPECT_EQ(key.Values()[0].type, REG_DWORD);
  EXPECT_TRUE(key.RemoveValue(L"a"));
  EXPECT_FALSE(key.RemoveValue(L"a"));
  ASSERT_EQ(key.Values().size(), 2u);
  EXPECT_EQ(key.FindValue(L"C")->name, L"c");  // index still right after the removal
  key.AddChild(L"zeta");
  key.AddChild(L"Alpha");
  key.AddChild(L"beta");
  std::vector<std::wstring> names;
  for (const auto& entry : key.Children()) names.push_back(entry.second->Name());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"beta", L"zeta"}));
  EXPECT_EQ(key.AddChild(L"ALPHA")->Name(), L"Alpha");
}

TEST(RegistryText, TheStoredFormStaysTheSameByteForByte) {
  // Files written before must read back and be written again unchanged: this is the exact text
  // of the sample tree, with a lone surrogate kept as it is and a surrogate pair as two units.
  auto tree = SampleTree();
  tree->AddChild(L"SYSTEM")->SetValue(L"Lone", REG_SZ,
                                      StringData(std::wstring(1, wchar_t(0xD800)) + L"x"));
  const std::wstring expected =
      L"Windows Registry Editor Version 5.00\r\n"
      L";sealed-hive\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE]\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor \"Q\" [x]]\r\n"
      L";security=O:BAG:SYD:(A;;KA;;;BA)\r\n"
      L"@=\"default\"\r\n"
      L"\"Quote\\\"And\\\\Back\"=\"C:\\\\Path \\\"quoted\\\"\"\r\n"
      L"\"Unicode\"=\"\x00E9"
      L"\x4E2D"
      L"\U0001F600"
      L"\"\r\n"
      L"\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
      L"  74,00,25,00,5c,00,78,00,00,00\r\n"
      L"\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,74,00,68,00,72,\\\r\n"
      L"  00,65,00,65,00,00,00,00,00\r\n"
      L"\"Dword\"=dword:deadbeef\r\n"
      L"\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
      L"\"Binary\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
      L"  ab,ab,ab,ab\r\n"
      L"\"Empty\"=hex:\r\n"
      L"\"Lines\"=hex(1):6c,00,69,00,6e,00,65,00,31,00,0d,00,0a,00,6c,00,69,00,6e,00,65,\\\r\n"
      L"  00,32,00,00,00\r\n"
      L"\"Short dword\"=hex(4):01,02\r\n"
      L"\"None\"=hex(0):09\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor \"Q\" [x]\\Empty child]\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\SYSTEM]\r\n"
      L"\"Lone\"=\"\xD800"
      L"x\"\r\n"
      L"\r\n"
      L";end-of-hive\r\n";
  const std::string bytes = WriteHive(*tree, kRoot, true);
  EXPECT_EQ(bytes, "\xFF\xFE" + ToUtf16Le(expected));
  // Written into a buffer that held a longer text before, the same bytes and nothing after them.
  std::string reused(bytes.size() * 3, 'z');
  WriteHive(*tree, kRoot, true, reused);
  EXPECT_EQ(reused, bytes);
  std::string small = "x";
  WriteHive(*tree, kRoot, true, small);
  EXPECT_EQ(small, bytes);
  // The export form (not sealed) is the same text without the two marks.
  std::wstring unsealed = expected;
  for (const wchar_t* mark : {L";sealed-hive\r\n", L";end-of-hive\r\n"})
    unsealed.erase(unsealed.find(mark), std::wcslen(mark));
  EXPECT_EQ(WriteHive(*tree, kRoot), "\xFF\xFE" + ToUtf16Le(unsealed));
  EXPECT_EQ(
      FormatValueData(*tree->Child(L"software")->Child(L"VENDOR \"q\" [X]")->FindValue(L"qword")),
      L"hex(b):01,02,03,04,05,06,07,08");
}

TEST(RegistryText, LookUpsFoldEveryNameTheSameWay) {
  // Names of other lengths and scripts one after the other: a look-up never sees the previous
  // name's folded form.
  Key root;
  Key* longer = root.AddChild(L"AVeryLongKeyNameIndeed");
  Key* shorter = root.AddChild(L"ab");
  Key* greek = root.AddChild(L"αβγ");
  EXPECT_EQ(root.Child(L"averylongkeynameindeed"), longer);
  EXPECT_EQ(root.Child(L"AB"), shorter);
  EXPECT_EQ(root.Child(L"ΑΒΓ"), greek);  // upper-case Greek finds lower-case
  EXPECT_EQ(root.Child(L"a"), nullptr);  // a prefix of the last look-up
  EXPECT_EQ(root.Child(L"abc"), nullptr);
  EXPECT_EQ(root.AddChild(L"AB"), shorter);  // an existing key, kept in its first spelling
  EXPECT_EQ(shorter->Name(), L"ab");
  EXPECT_EQ(root.ChildCount(), 3u);
  EXPECT_TRUE(root.RemoveChild(L"AVERYLONGKEYNAMEINDEED"));
  EXPECT_EQ(root.Child(L"AVeryLongKeyNameIndeed"), nullptr);
  EXPECT_EQ(root.Child(L"Ab"), shorter);
  EXPECT_FALSE(root.RemoveChild(L"AVeryLongKeyNameIndeed"));

  shorter->SetValue(L"Valueé", REG_SZ, StringData(L"1"));
  shorter->SetValue(L"v", REG_SZ, StringData(L"2"));
  shorter->SetValue(L"VALUEÉ", REG_SZ, StringData(L"3"));  // the same value, another case
  ASSERT_EQ(shorter->Values().size(), 2u);
  EXPECT_EQ(shorter->Values()[0].name, L"Valueé");
  EXPECT_EQ(DataToString(shorter->FindValue(L"valueÉ")->data), L"3");
  EXPECT_TRUE(shorter->RemoveValue(L"V"));
  EXPECT_EQ(shorter->FindValue(L"v"), nullptr);
  EXPECT_TRUE(shorter->FindValue(L"VALUEé"));
  // Names outside the basic plane and negative code units fold to themselves.
  Key* odd = root.AddChild(std::wstring(1, static_cast<wchar_t>(-5)) + L"😀z");
  EXPECT_EQ(root.Child(std::wstring(1, static_cast<wchar_t>(-5)) + L"😀Z"), odd);
  EXPECT_TRUE(NamesEqual(L"Straße", L"STRAßE"));
  EXPECT_FALSE(NamesEqual(L"abc", L"abd"));
  EXPECT_FALSE(NamesEqual(L"abc", L"ab"));
}

// ---------------------------------------------------------------------------------------------
// Value lines kept between loads and saves of a stored hive

namespace {

// A stored hive's text (UTF-16LE, sealed) with the body lines given as UTF-8.
std::string StoredHive(const std::string& body) {
  return ToUtf16Le(FromUtf8("\xEF\xBB\xBF")) +
         ToUtf16Le(FromUtf8("Windows Registry Editor Version 5.00\r\n;sealed-hive\r\n\r\n" + body +
                            ";end-of-hive\r\n"));
}

std::string ManyValues(const std::string& prefix, int count, const std::string& separator = "=") {
  std::string lines;
  for (int i = 0; i < count; ++i)
    lines += "\"" + prefix + std::to_string(i) + "\"" + separator + "\"text " + std::to_string(i) +
             "\"\r\n";
  return lines;
}

// What a save that uses kept lines writes, read back as a plain hive.
std::unique_ptr<Key> SavedAndReadBack(const Key& tree) {
  std::string bytes;
  WriteHive(tree, kRoot, true, bytes, /*keepValueLines=*/true);
  return Parse(bytes);
}

}  // namespace

TEST(RegistryKeptLines, AStoredHiveSavedAgainIsTheSameAndChangesReachTheText) {
  auto original = SampleTree();
  Key* many = original->AddChild(L"SOFTWARE")->AddChild(L"Many");
  for (int i = 0; i < 40; ++i)
    many->SetValue(L"v" + std::to_wstring(i), i % 2 ? REG_DWORD : REG_SZ,
                   i % 2 ? Dw(i) : StringData(L"text \"" + std::to_wstring(i) + L"\""));
  many->sddl = L"O:BAG:SYD:(A;;KR;;;WD)";
  const std::string stored = WriteHive(*original, kRoot, true);

  ParseError error;
  auto loaded = ParseHive(stored, kRoot, &error, /*keepValueLines=*/true);
  ASSERT_TRUE(loaded) << ToUtf8(error.message);
  Key* key = loaded->Child(L"SOFTWARE")->Child(L"Many");
  ASSERT_NE(key->KeptValueLines(), nullptr);  // the lines of the file itself
  EXPECT_EQ(loaded->Child(L"SOFTWARE")->Child(L"Vendor \"Q\" [x]")->KeptValueLines(), nullptr)
      << "a key with few values keeps nothing";
  std::string again;
  WriteHive(*loaded, kRoot, true, again, true);
  EXPECT_EQ(again, stored);

  // A change, an addition and a removal each reach the next save.
  key->SetValue(L"v3", REG_SZ, StringData(L"changed"));
  EXPECT_EQ(key->KeptValueLines(), nullptr);
  auto back = SavedAndReadBack(*loaded);
  EXPECT_EQ(DataToString(back->Child(L"SOFTWARE")->Child(L"Many")->FindValue(L"v3")->data),
            L"changed");
  ASSERT_NE(key->KeptValueLines(), nullptr) << "the save keeps the lines it wrote";
  key->SetValue(L"added", REG_DWORD, Dw(7));
  key->RemoveValue(L"V0");
  back = SavedAndReadBack(*loaded);
  ExpectSameTree(*back, *loaded);
  EXPECT_EQ(back->Child(L"SOFTWARE")->Child(L"Many")->FindValue(L"v0"), nullptr);
  // The security line is written from the key, not from kept lines.
  key->sddl = L"O:BAG:SYD:(A;;KA;;;BA)";
  back = SavedAndReadBack(*loaded);
  EXPECT_EQ(back->Child(L"SOFTWARE")->Child(L"Many")->sddl, L"O:BAG:SYD:(A;;KA;;;BA)");
  // A writer that is not the store's own ignores kept lines: the canonical form.
  std::string plain;
  WriteHive(*loaded, kRoot, true, plain);
  EXPECT_EQ(plain, WriteHive(*back, kRoot, true));
}

TEST(RegistryKeptLines, HandEditedStoredTextsSaveToWhatTheyMeant) {
  const std::string k = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n";
  const std::string other = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"o\"=\"1\"\r\n\r\n";
  const struct {
    const char* what;
    std::string body;
    bool kept;  // whether K may keep its lines
  } cases[] = {
      {"spaces around =", k + ManyValues("a", 40, " = ") + "\r\n", true},
      {"a name given twice", k + ManyValues("a", 40) + "\"a3\"=\"again\"\r\n\r\n", true},
      {"security after the key line",
       k + ";security=O:BAG:SYD:(A;;KA;;;BA)\r\n" + ManyValues("a", 40) + "\r\n", true},
      {"a deletion inside", k + ManyValues("a", 40) + "\"a5\"=-\r\n\r\n", false},
      {"a blank line inside", k + ManyValues("a", 20) + "\r\n" + ManyValues("b", 20) + "\r\n",
       false},
      {"a comment inside", k + ManyValues("a", 20) + "; note\r\n" + ManyValues("b", 20) + "\r\n",
       false},
      {"security after the values",
       k + ManyValues("a", 40) + ";security=O:BAG:SYD:(A;;KA;;;BA)\r\n\r\n", true},
      {"values after security after values",
       k + ManyValues("a", 40) + ";security=O:BAG:SYD:(A;;KA;;;BA)\r\n" + ManyValues("b", 2) +
           "\r\n",
       false},
      {"the key in two places",
       k + ManyValues("a", 40) + "\r\n" + other + k + ManyValues("b", 3) + "\r\n", false},
      {"the key in two places, the second empty",
       k + ManyValues("a", 40) + "\r\n" + other + k + "\r\n", true},
      {"values after an empty first place", k + "\r\n" + other + k + ManyValues("a", 40) + "\r\n",
       true},
      {"the key deleted and made again",
       k + ManyValues("a", 40) + "\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n\r\n" + k +
           ManyValues("b", 35) + "\r\n",
       true},
      {"a hex value over lines",
       k + ManyValues("a", 40) +
           "\"bin\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
           "  18,19\r\n\r\n",
       true},
      {"the end line right after the values", k + ManyValues("a", 40), true},
      {"texts beyond the basic plane",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\xF0\x9F\x98\x80]\r\n\"\xF0\x9F\x98\x81\"=\"x\"\r\n\r\n" +
           k + ManyValues("\xF0\x9F\x98\x82", 40) + "\"e\"=\"\xF0\x9F\x98\x80\"\r\n\r\n" + other,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = StoredHive(c.body);
    ParseError error;
    auto meant = ParseHive(text, kRoot, &error);
    ASSERT_TRUE(meant) << ToUtf8(error.message);
    auto loaded = ParseHive(text, kRoot, &error, /*keepValueLines=*/true);
    ASSERT_TRUE(loaded);
    const Key* key = loaded->Child(L"SOFTWARE")->Child(L"K");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->KeptValueLines() != nullptr, c.kept);
    ExpectSameTree(*loaded->Child(L"SOFTWARE"), *meant->Child(L"SOFTWARE"));
    auto back = SavedAndReadBack(*loaded);
    ASSERT_TRUE(back);
    ExpectSameTree(*back->Child(L"SOFTWARE")->Child(L"K"), *meant->Child(L"SOFTWARE")->Child(L"K"));
    if (const Key* otherKey = meant->Child(L"SOFTWARE")->Child(L"Other")) {
      ASSERT_NE(back->Child(L"SOFTWARE")->Child(L"Other"), nullptr);
      ExpectSameTree(*back->Child(L"SOFTWARE")->Child(L"Other"), *otherKey);
    }
  }
}

TEST(RegistryKeptLines, OnlyStoredUtf16TextsKeepLines) {
  const std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\r\n" + ManyValues("a", 40) + "\r\n";
  ParseError error;
  // The same lines as UTF-8, and as UTF-16LE without the sealed header (an import): nothing kept.
  auto utf8 = ParseHive("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n;sealed-hive\r\n\r\n" +
                            body + ";end-of-hive\r\n",
                        kRoot, &error, true);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->Child(L"SOFTWARE")->Child(L"K")->KeptValueLines(), nullptr);
  auto unsealed = ParseHive(ToUtf16Le(L"\uFEFF" + FromUtf8(Utf8Hive(body))), kRoot, &error, true);
  ASSERT_TRUE(unsealed);
  EXPECT_EQ(unsealed->Child(L"SOFTWARE")->Child(L"K")->KeptValueLines(), nullptr);
  // Without the reader's consent nothing is kept either.
  auto plain = ParseHive(StoredHive(body), kRoot, &error);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->Child(L"SOFTWARE")->Child(L"K")->KeptValueLines(), nullptr);
  // A copy of a key does not carry the lines of the original.
  auto stored = ParseHive(StoredHive(body), kRoot, &error, true);
  ASSERT_TRUE(stored);
  ASSERT_NE(stored->Child(L"SOFTWARE")->Child(L"K")->KeptValueLines(), nullptr);
  EXPECT_EQ(stored->Clone()->Child(L"SOFTWARE")->Child(L"K")->KeptValueLines(), nullptr);
}
