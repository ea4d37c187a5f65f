// The engine context: one model's document, services and factories.
#pragma once

#include "Document.h"
#include "EngineBase.h"

#include <memory>
#include <string>

namespace cad_engine {

struct HeaderTexts {
  std::string fileDescription, fileName, author, organization, authorisation;
};

// Exchange (ExchangeStep.cpp, ExchangeIges.cpp, ExchangeStl.cpp). Each returns false for a file
// that cannot be written or read; the import functions give a new document and fill the header
// texts they find.
bool WriteSTEP(const DocState& state, const HeaderTexts& header, const std::string& path);
bool WriteIGES(const DocState& state, const std::string& path);
bool WriteSTL(const DocState& state, const std::string& path);
std::shared_ptr<DocState> ReadSTEP(const std::string& path, HeaderTexts& header);
std::shared_ptr<DocState> ReadIGES(const std::string& path);
std::shared_ptr<DocState> ReadSTL(const std::string& path);

// View (View.cpp).
QZ::CAD::IView* NewView(void* handle, int kind);

// Factories that the element catalogue fills (Factories.cpp).
QZ::CAD::IBearingFactory* BearingFactory();
QZ::CAD::IGearFactory* GearFactory();
QZ::CAD::IBeamFactory* BeamFactory();
QZ::CAD::IShaftFactory* ShaftFactory();
QZ::CAD::IFastenerFactory* FastenerFactory();
QZ::CAD::IShaftRecognizer* ShaftRecognizer();

}  // namespace cad_engine
