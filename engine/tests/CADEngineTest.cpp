// The engine interface is a binary contract: each operation sits in the slot of the virtual
// table that the viewer and the engine agree on. These checks read the slot numbers from
// pointers to members (Itanium C++ ABI: a virtual member's pointer holds 1 + its byte offset in
// the table), so reordering or inserting an operation fails here.
#include "workspace/CADEngine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

template <class M>
long Slot(M member) {
  static_assert(sizeof(M) == 2 * sizeof(std::uintptr_t), "Itanium pointer to member");
  std::uintptr_t raw[2];
  std::memcpy(raw, &member, sizeof raw);
  if ((raw[0] & 1) == 0) return -1;  // not virtual
  return static_cast<long>((raw[0] - 1) / sizeof(void*));
}

using namespace QZ::CAD;

}  // namespace

TEST(EngineInterface, ObjectsAndExceptions) {
  EXPECT_EQ(Slot(&QZ::IObject::AddRef), 0);
  EXPECT_EQ(Slot(&QZ::IObject::Release), 1);
  EXPECT_EQ(Slot(&QZ::IException::GetCode), 0);
  EXPECT_EQ(Slot(&QZ::IException::Release), 1);
  EXPECT_EQ(Slot(&ICADTools::NewContext), 3);
}

TEST(EngineInterface, ContextSlots) {
  EXPECT_EQ(Slot(&ICADContext::GetAssembly), 2);
  EXPECT_EQ(Slot(&ICADContext::GetMatrixService), 3);
  EXPECT_EQ(Slot(&ICADContext::GetHeaderService), 4);
  EXPECT_EQ(Slot(&ICADContext::GetBearingFactory), 5);
  EXPECT_EQ(Slot(&ICADContext::GetGearFactory), 6);
  EXPECT_EQ(Slot(&ICADContext::GetBeamFactory), 7);
  EXPECT_EQ(Slot(&ICADContext::GetShaftFactory), 8);
  EXPECT_EQ(Slot(&ICADContext::GetFastenerFactory), 9);
  EXPECT_EQ(Slot(&ICADContext::GetShaftRecognizer), 10);
  EXPECT_EQ(Slot(&ICADContext::ExportSTEP), 11);
  EXPECT_EQ(Slot(&ICADContext::ExportIGES), 12);
  EXPECT_EQ(Slot(&ICADContext::ExportSTL), 13);
  EXPECT_EQ(Slot(&ICADContext::ImportSTEP), 14);
  EXPECT_EQ(Slot(&ICADContext::ImportIGES), 15);
  EXPECT_EQ(Slot(&ICADContext::ImportSTL), 16);
  EXPECT_EQ(Slot(&ICADContext::Box), 17);
  EXPECT_EQ(Slot(&ICADContext::Sphere), 18);
  EXPECT_EQ(Slot(&ICADContext::Cylinder), 19);
  EXPECT_EQ(Slot(&ICADContext::Cone), 20);
  EXPECT_EQ(Slot(&ICADContext::Torus), 21);
  EXPECT_EQ(Slot(&ICADContext::Wedge), 22);
  EXPECT_EQ(Slot(&ICADContext::HollowCylinder), 23);
  EXPECT_EQ(Slot(&ICADContext::HollowCone), 24);
  EXPECT_EQ(Slot(&ICADContext::NewView), 25);
  EXPECT_EQ(Slot(&ICADContext::GetLastErrorCode), 26);
  EXPECT_EQ(Slot(&ICADContext::GetLastErrorText), 27);
  EXPECT_EQ(Slot(&ICADContext::GetWarningCount), 28);
  EXPECT_EQ(Slot(&ICADContext::GetWarning), 29);
  EXPECT_EQ(Slot(&ICADContext::SetTimeLimit), 30);
  EXPECT_EQ(Slot(&ICADContext::SetProgressCallback), 31);
  EXPECT_EQ(Slot(&ICADContext::GetBuildThreads), 32);
  EXPECT_EQ(Slot(&ICADContext::SetBuildThreads), 33);
  EXPECT_EQ(Slot(&ICADContext::SetSharedSolids), 34);
  EXPECT_EQ(Slot(&ICADContext::GetQuickBox), 35);
  EXPECT_EQ(Slot(&ICADContext::GetShapeColorCount), 36);
  EXPECT_EQ(Slot(&ICADContext::GetShapeColor), 37);
  EXPECT_EQ(Slot(&ICADContext::ExportGLTF), 38);
  EXPECT_EQ(Slot(&ICADContext::ExportOBJ), 39);
  EXPECT_EQ(Slot(&IMatrixService::Multiply), 5);
  EXPECT_EQ(Slot(&IHeaderService::SetFileDescription), 0);
  EXPECT_EQ(Slot(&IHeaderService::SetAuthorisation), 4);
  EXPECT_EQ(Slot(&IHeaderService::GetFileDescription), 5);
  EXPECT_EQ(Slot(&IHeaderService::GetAuthorisation), 9);
  EXPECT_EQ(Slot(&IShaftRecognizer::Recognize), 0);
}

TEST(EngineInterface, ShapeViewAndItemSlots) {
  EXPECT_EQ(Slot(&IShape::Placed), 2);
  EXPECT_EQ(Slot(&ISectionShape::AddGrooveRectangular), 7);
  EXPECT_EQ(Slot(&ISectionShape::AddSlots), 12);
  EXPECT_EQ(Slot(&IShapeVis::SetColor), 2);
  EXPECT_EQ(Slot(&IShapeVis::IsSame), 4);
  EXPECT_EQ(Slot(&IView::Display), 2);
  EXPECT_EQ(Slot(&IView::Paint), 3);
  EXPECT_EQ(Slot(&IView::Zoom), 4);
  EXPECT_EQ(Slot(&IView::ButtonDown), 5);
  EXPECT_EQ(Slot(&IView::RightButtonDown), 6);
  EXPECT_EQ(Slot(&IView::Drag), 7);
  EXPECT_EQ(Slot(&IView::RightDrag), 8);
  EXPECT_EQ(Slot(&IView::Resized), 9);
  EXPECT_EQ(Slot(&IView::ShowGrid), 10);
  EXPECT_EQ(Slot(&IView::ShowAxes), 11);
  EXPECT_EQ(Slot(&IView::Select), 12);
  EXPECT_EQ(Slot(&IView::Pick), 13);
  EXPECT_EQ(Slot(&IView::Erase), 14);
  EXPECT_EQ(Slot(&IView::ClearSelection), 15);
  EXPECT_EQ(Slot(&IView::FinishSelection), 16);
  EXPECT_EQ(Slot(&IView::DeleteSelected), 17);
  EXPECT_EQ(Slot(&IView::Redraw), 18);
  EXPECT_EQ(Slot(&IView::FitAll), 19);
  EXPECT_EQ(Slot(&IView::UpdateView), 20);
  EXPECT_EQ(Slot(&IView::EraseAll), 21);
  EXPECT_EQ(Slot(&IView::ResetView), 22);
  EXPECT_EQ(Slot(&IView::GetScale), 26);
  EXPECT_EQ(Slot(&IView::SetDragMode), 27);
  EXPECT_EQ(Slot(&IView::Prepare), 28);
  EXPECT_EQ(Slot(&IView::GetSceneDrawCount), 29);
  EXPECT_EQ(Slot(&IView::SaveShownImage), 30);
  EXPECT_EQ(Slot(&IView::KeepInFront), 31);
  EXPECT_EQ(Slot(&IView::GetGrid), 32);
  EXPECT_EQ(Slot(&IItem::SetName), 3);
  EXPECT_EQ(Slot(&IItem::GetInfo), 4);
  EXPECT_EQ(Slot(&IItem::GetMatrix), 5);
  EXPECT_EQ(Slot(&IItem::IsAssembly), 6);
  EXPECT_EQ(Slot(&IItemInfo::GetName), 2);
  EXPECT_EQ(Slot(&IAssembly::GetChildCount), 8);
  EXPECT_EQ(Slot(&IAssembly::GetChild), 9);
  EXPECT_EQ(Slot(&IAssembly::AddShape), 10);
  EXPECT_EQ(Slot(&IAssembly::AddAssembly), 11);
  EXPECT_EQ(Slot(&IPart::GetShape), 8);
  EXPECT_EQ(Slot(&IPart::GetColor), 9);
  EXPECT_EQ(Slot(&IPart::SetColor), 10);
}

TEST(EngineInterface, FactorySlots) {
  EXPECT_EQ(Slot(&IBeamFactory::Rectangular), 0);
  EXPECT_EQ(Slot(&IBeamFactory::BeamT), 7);
  EXPECT_EQ(Slot(&IGearFactory::ExternalToothProfile), 0);
  EXPECT_EQ(Slot(&IGearFactory::ConeGear), 9);
  EXPECT_EQ(Slot(&IGearFactory::NewPointList), 10);
  EXPECT_EQ(Slot(&IFastenerFactory::BoltHex), 0);
  EXPECT_EQ(Slot(&IFastenerFactory::ScrewCheeseSlotted), 13);
  EXPECT_EQ(Slot(&IFastenerFactory::StudDoubleEnd), 28);
  EXPECT_EQ(Slot(&IBearingFactory::RollerBearing), 0);
  EXPECT_EQ(Slot(&IBearingFactory::SlidingBearing), 1);
  EXPECT_EQ(Slot(&IBearingFactory::RollingBearing), 2);
  EXPECT_EQ(Slot(&IShaftFactory::NewShaftBuilder), 0);
  EXPECT_EQ(Slot(&IShaftFactory::PlanetCarrier), 1);
  EXPECT_EQ(Slot(&IShaftBuilder::AddSection), 4);
  EXPECT_EQ(Slot(&IPointList::SetSpline), 2);
  EXPECT_EQ(Slot(&IPointList::AddPoint), 4);
  EXPECT_EQ(Slot(&IRecognizeShaft::GetMatrix), 2);
  EXPECT_EQ(Slot(&IRecognizeShaft::GetSectionCount), 3);
  EXPECT_EQ(Slot(&IRecognizeShaft::GetSection), 4);
  EXPECT_EQ(Slot(&IRecognizeSection::GetGrooveCount), 2);
  EXPECT_EQ(Slot(&IRecognizeSection::GetGroove), 3);
  EXPECT_EQ(Slot(&IRecognizeSection::GetValues), 4);
  EXPECT_EQ(Slot(&IRecognizeSection::SetValues), 5);
  EXPECT_EQ(Slot(&IRecognizeGroove::GetType), 2);
  EXPECT_EQ(Slot(&IRecognizeGroove::GetNotch), 3);
  EXPECT_EQ(Slot(&IRecognizeGroove::GetSlots), 7);
  // The groove blocks are packed to 4 bytes like the host records.
  EXPECT_EQ(sizeof(RecognizeSlotsBlock), 5 * sizeof(double) + 4);
  EXPECT_EQ(offsetof(RecognizeSlotsBlock, d), 2 * sizeof(double) + 4);
}
