#include "model/ShaftRecognition.h"

#include "xml/XmlText.h"

namespace {

RecognizedShaftBuilder& Builder() {
  static RecognizedShaftBuilder builder;
  return builder;
}

// Steps shared by both forms: the engine's answer into the slot, then the shaft (when there is
// a builder), named when the name is not empty.
std::shared_ptr<CTreeObject> Recognize(ICADContext* context, QZ::CAD::IShape* shape, CNode& group,
                                       const Matrix12& matrix, const std::wstring& name,
                                       QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                       RecognizeState* state) {
  result = nullptr;
  QZ::CAD::IShaftRecognizer* recognizer = context ? context->GetShaftRecognizer() : nullptr;
  if (!recognizer) return nullptr;
  try {
    result = QZ::ObjPtr<QZ::CAD::IRecognizeShaft>(recognizer->Recognize(shape));
  } catch (QZ::IException* e) {
    // An engine that cannot recognise this solid (or none at all yet) found no shaft: the part
    // is imported as it is rather than lost.
    if (e) e->Release();
    return nullptr;
  }
  if (!result || !Builder()) return nullptr;
  std::shared_ptr<CTreeObject> shaft = Builder()(result, group, matrix, state);
  if (shaft && !name.empty()) shaft->SetValue(L"Name", CVariant(name));
  return shaft;
}

}  // namespace

void SetRecognizedShaftBuilder(RecognizedShaftBuilder builder) { Builder() = std::move(builder); }

std::shared_ptr<CTreeObject> RecognizeImportedPart(ICADContext* context, QZ::CAD::IPart* part,
                                                   CNode& group,
                                                   QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) {
  result = nullptr;
  if (!part) return nullptr;
  QZ::ObjPtr<QZ::CAD::IShape> shape(part->GetShape());
  Matrix12 matrix = IdentityMatrix12();
  part->GetMatrix(matrix.data());
  std::wstring name;
  if (QZ::ObjPtr<QZ::CAD::IItemInfo> info{part->GetInfo()})
    name = MorlaneText::FromUtf8(info->GetName() ? info->GetName() : "");
  return Recognize(context, shape.Get(), group, matrix, name, result, nullptr);
}

std::shared_ptr<CTreeObject> RecognizeModelLeaf(ICADContext* context, CObject3D& leaf, CNode& group,
                                                QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                                RecognizeState* state) {
  result = nullptr;
  if (state) *state = eRecognizeNoneAtZero;
  QZ::ObjPtr<QZ::CAD::IShape> shape = leaf.GetShape();
  if (!shape) return nullptr;
  return Recognize(context, shape.Get(), group, IdentityMatrix12(), leaf.GetName(), result, state);
}
