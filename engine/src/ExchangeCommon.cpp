// Exchange code shared by the formats.
#include "ExchangeCommon.h"

#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <XCAFApp_Application.hxx>

#include <filesystem>
#include <mutex>

namespace cad_engine {

void InitExchange() {
  static std::once_flag once;
  std::call_once(once, [] {
    SilenceKernel();
    STEPControl_Controller::Init();
    IGESControl_Controller::Init();
    Interface_Static::SetCVal("write.step.schema", "AP214IS");
    Interface_Static::SetIVal("write.iges.brep.mode", 1);
    Interface_Static::SetCVal("write.step.unit", "MM");
    Interface_Static::SetCVal("write.iges.unit", "MM");
  });
}

Handle(TCollection_HAsciiString) Ascii(const std::string& s) {
  return new TCollection_HAsciiString(s.c_str());
}

std::string Text(const Handle(TCollection_HAsciiString) & s) {
  return s.IsNull() ? std::string() : s->ToCString();
}

bool HasShapes(const DocState& state) {
  TDF_LabelSequence free;
  state.shapes->GetFreeShapes(free);
  return free.Length() > 0;
}

bool FileReadable(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace cad_engine
