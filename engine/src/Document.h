// Assembly documents (the kernel's extended data framework) and their items.
#pragma once

#include "EngineBase.h"

#include <TDF_Label.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <memory>
#include <string>
#include <vector>

namespace cad_engine {

struct DocState {
  DocState() = default;
  DocState(const DocState&) = delete;
  DocState& operator=(const DocState&) = delete;
  ~DocState();  // closes the document, which the kernel's application keeps until then

  Handle(TDocStd_Document) doc;
  Handle(XCAFDoc_ShapeTool) shapes;
  Handle(XCAFDoc_ColorTool) colors;
  TDF_Label root;                   // the assembly GetAssembly hands out (new documents)
  std::vector<TDF_Label> topItems;  // children of the document item
  bool imported = false;
};

// A new empty document of the kernel's application (closed by ~DocState).
Handle(TDocStd_Document) NewXdeDocument();
// A new empty document with one empty top assembly.
std::shared_ptr<DocState> NewDocument();
// A document for a file just read: its top items are found from the free shapes.
std::shared_ptr<DocState> WrapImported(const Handle(TDocStd_Document) & doc);

// The document item (root of the tree the context's GetAssembly returns).
QZ::CAD::IAssembly* NewDocumentItem(const std::shared_ptr<DocState>& state);

// Text of a label's name attribute (UTF-8), empty when none.
std::string LabelName(const TDF_Label& label);
void SetLabelName(const TDF_Label& label, const std::string& name);

// All shapes of the document placed where they are, as one compound (for mesh exports).
TopoDS_Shape DocumentShape(const DocState& state);

}  // namespace cad_engine
