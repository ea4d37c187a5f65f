// What the exchange formats share: the kernel's exchange settings, the document a reader fills,
// text conversions, and the crash-guarded read of a file into a document.
#pragma once

#include "Context.h"

#include <IFSelect_ReturnStatus.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>

#include <memory>
#include <string>

namespace cad_engine {

// The kernel's exchange settings (units, schema), once per process.
void InitExchange();

// A document for a reader; closed again when the read fails.
struct PendingDoc {
  Handle(TDocStd_Document) doc = NewXdeDocument();
  ~PendingDoc() {
    try {
      if (!doc.IsNull() && doc->IsOpened()) XCAFApp_Application::GetApplication()->Close(doc);
    } catch (...) {}
  }
  // Hands the document to a DocState, which closes it from then on.
  Handle(TDocStd_Document) Release() {
    Handle(TDocStd_Document) d = doc;
    doc.Nullify();
    return d;
  }
};

Handle(TCollection_HAsciiString) Ascii(const std::string& s);
std::string Text(const Handle(TCollection_HAsciiString) & s);
bool HasShapes(const DocState& state);
bool FileReadable(const std::string& path);

// Reads a file with one of the kernel's document readers into a new document. The reader and the
// document are abandoned if the kernel crashes inside (see RunCrashGuarded). `checkRead` looks at
// what the reader read before anything is transferred, and may refuse it.
template <class Reader, class CheckRead>
std::shared_ptr<DocState> ReadDocument(const std::string& path, CheckRead checkRead) {
  auto* reader = new Reader();
  auto* pending = new PendingDoc();
  bool transferred = false;
  bool survived = false;
  try {
    survived = RunCrashGuarded([&] {
      reader->SetColorMode(true);
      reader->SetNameMode(true);
      reader->SetLayerMode(false);
      if (reader->ReadFile(path.c_str()) != IFSelect_RetDone) return;
      if (!checkRead(*reader)) return;
      transferred = reader->Transfer(pending->doc);
    });
  } catch (...) {
    delete pending;
    delete reader;
    throw;
  }
  if (!survived) return nullptr;
  std::unique_ptr<Reader> ownReader(reader);
  std::unique_ptr<PendingDoc> ownDoc(pending);
  if (!transferred) return nullptr;
  auto state = WrapImported(pending->Release());
  if (!HasShapes(*state)) return nullptr;
  return state;
}

}  // namespace cad_engine
