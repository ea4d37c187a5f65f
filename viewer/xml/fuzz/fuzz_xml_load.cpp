// Fuzz target: any bytes, as text for XMLDocument::LoadXml and as a file's bytes for the byte
// rules of loading. A loaded document is walked, serialised, copied and edited.

#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void Exercise(XMLDocument& doc) {
  XMLNode* root = doc.GetRoot();
  if (!root) return;
  // Walk every node without recursion.
  std::vector<XMLNode*> stack{root};
  std::size_t visited = 0;
  while (!stack.empty() && visited < 100000) {
    XMLNode* n = stack.back();
    stack.pop_back();
    ++visited;
    (void)n->GetTag();
    (void)n->GetTagValue();
    (void)n->GetIntAttr(L"ID", 0);
    (void)n->GetDblAttr(L"x", 0.0);
    (void)n->GetColorAttr(L"Color", 0);
    for (int i = 0; i < n->GetChildCount(); ++i) stack.push_back(n->GetChild(i));
  }
  (void)doc.GetXMLContent();
  (void)doc.GetXMLContentWithFormatted();
  XMLDocument copy(doc);
  if (XMLNode* r = copy.GetRoot()) {
    r->SetTag(L"Renamed");
    if (XMLNode* added = r->NewChild(L"added")) {
      added->Copy(r->GetChild(0), 0);
      added->AddAttr(L"d", 1.5);
    }
    r->MergeChild(doc.GetRoot());
    if (r->GetChildCount() > 0) r->DeleteChild(r->GetChild(0));
  }
  std::string bytes;
  copy.SetWriteOptions(0x80);
  copy.Serialize(bytes, true, copy.GetEncoding());
  XMLDocument again;
  again.LoadBytes(bytes.data(), bytes.size());
}

}  // namespace

// Whatever loads must save and load back to the same tree.
void RoundTrip(const XMLDocument& doc) {
  if (!doc.GetRoot()) return;
  std::string saved;
  if (!doc.Serialize(saved, true, L"UTF-16")) __builtin_trap();
  XMLDocument back;
  if (!back.LoadBytes(saved.data(), saved.size())) __builtin_trap();
  // Compare the root elements as the DOM writes them.
  std::string a, b;
  struct W : pugi::xml_writer {
    std::string& s;
    explicit W(std::string& t) : s(t) {}
    void write(const void* d, size_t n) override { s.append(static_cast<const char*>(d), n); }
  } wa(a), wb(b);
  doc.GetRoot()->GetXMLDOMElement().print(wa, "", pugi::format_raw);
  back.GetRoot()->GetXMLDOMElement().print(wb, "", pugi::format_raw);
  if (a != b) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    XMLDocument doc;
    const std::wstring text =
        MorlaneText::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    if (doc.LoadXml(text.c_str())) {
      RoundTrip(doc);
      Exercise(doc);
    }
    std::wstring reason, source;
    CParsePoint at, unused;
    doc.GetParsingErrorInformation(reason, at, unused, &source);
  }
  {
    XMLDocument doc;
    if (doc.LoadBytes(data, size)) Exercise(doc);
  }
  return 0;
}
