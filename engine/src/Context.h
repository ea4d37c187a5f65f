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

// Exchange (ExchangeStep.cpp, ExchangeIges.cpp, ExchangeStl.cpp), under the limits of the
// active call (ExchangeCommon.h). A file that cannot be written or read fails with its code and
// reason (a thrown engine exception); the import functions give a new document and fill the
// header texts they find.
void WriteSTEP(const DocState& state, const HeaderTexts& header, const std::string& path);
void WriteIGES(const DocState& state, const std::string& path);
void WriteSTL(const DocState& state, const std::string& path);
// glTF 2.0 (binary or text with its ".bin") and OBJ (with its ".mtl"), ExchangeMesh.cpp.
void WriteGLTF(const DocState& state, const std::string& path, bool binary);
void WriteOBJ(const DocState& state, const std::string& path);
std::shared_ptr<DocState> ReadSTEP(const std::string& path, HeaderTexts& header);
std::shared_ptr<DocState> ReadIGES(const std::string& path);
std::shared_ptr<DocState> ReadSTL(const std::string& path);

// View (View.cpp).
QZ::CAD::IView* NewView(void* handle, int kind);

// Factories that the element catalogue fills (Factories.cpp).
QZ::CAD::IBearingFactory* BearingFactory();
// Bearing rings cut from their tubes by the booleans, as they were before they were turned from
// their grooved outlines (on: for tests that compare the two; not for use while building).
void SetBearingRingsCut(bool cut);
// How many bearing rings have been turned from their grooved outlines so far.
long BearingRingsTurned();
// How many bearing rings (shouldered, lipped, spherical, or grooved by leaning rollers) have been
// turned from their meridian outlines with the rows cut from them there, so far.
long BearingRingsOfMeridians();
// Hexagon heads chamfered and joined to their shanks by the booleans, as they were before head
// and shank were turned as one, and so every other head joined to its shank (on: for tests that
// compare the two).
void SetHexHeadsCut(bool cut);
// How many hexagon bolts have been built with head and shank turned as one so far.
long HexBoltsTurned();
// How many other heads of revolution (slotted, recessed, countersunk, domed, collars, flanges)
// have been turned with their shanks as one outline so far.
long HeadsTurnedWithShanks();
QZ::CAD::IGearFactory* GearFactory();
QZ::CAD::IBeamFactory* BeamFactory();
QZ::CAD::IShaftFactory* ShaftFactory();
QZ::CAD::IFastenerFactory* FastenerFactory();
// The shaft recogniser (ShaftRecognizer.cpp).
QZ::CAD::IShaftRecognizer* ShaftRecognizer();

}  // namespace cad_engine
