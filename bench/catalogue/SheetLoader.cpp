#include "SheetLoader.h"

#include "model/elements/Catalogue.h"
#include "model/elements/Gears.h"
#include "model/elements/Shafts.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <cwchar>

namespace {

bool Is(const XMLNode* n, const wchar_t* tag) {
  return n && MorlaneText::EqualsNoCase(n->GetTag(), tag);
}

void ReadParams(const XMLNode* element, CGeometry& g) {
  const XMLNode* params = element->GetChild(L"GeometryParameters");
  if (!params) return;
  for (int i = 0; i < params->GetChildCount(); ++i) {
    const XMLNode* p = params->GetChild(i);
    if (!Is(p, L"Param")) continue;
    if (auto prop = g.FindStandardProperty(p->GetStrAttr(L"Name"))) {
      prop->SetValueFromText(p->GetTagValue());
      prop->UpdateEndLabels(std::wcstod(p->GetTagValue().c_str(), nullptr));
    }
  }
}

void ReadMatrix(const XMLNode* element, CTreeObject& o) {
  const XMLNode* m = element->GetChild(L"MatrixTransform");
  if (!m) return;
  Matrix12 matrix = IdentityMatrix12();
  for (int i = 0; i < m->GetChildCount(); ++i) {
    const XMLNode* e = m->GetChild(i);
    if (!Is(e, L"Element")) continue;
    const int row = e->GetIntAttr(L"Row"), col = e->GetIntAttr(L"Col");
    if (row < 1 || row > 3 || col < 1 || col > 4) continue;
    matrix[(row - 1) * 4 + (col - 1)] = std::wcstod(e->GetTagValue().c_str(), nullptr);
  }
  o.SetMatrix(matrix.data());
}

int ReadData(const XMLNode* data, CNode& group) {
  int count = 0;
  for (int i = 0; i < data->GetChildCount(); ++i) {
    const XMLNode* child = data->GetChild(i);
    if (Is(child, L"Object")) {
      std::shared_ptr<CObject3D> object = CreateElement(child->GetStrAttr(L"Type"));
      if (!object) continue;
      object->SetValue(L"Name", CVariant(child->GetStrAttr(L"Name")));
      object->SetColor(L"Color", child->GetColorAttr(L"Color", kDefaultObjectColor));
      ReadMatrix(child, *object);
      ReadParams(child, *object);
      if (auto* profile = dynamic_cast<CGearToothProfile*>(object.get())) {
        if (const XMLNode* points = child->GetChild(L"ToothProfile"))
          for (int j = 0; j < points->GetChildCount(); ++j)
            if (Is(points->GetChild(j), L"PointCircle"))
              ReadParams(points->GetChild(j), *profile->AddPoint());
      }
      if (auto* section = dynamic_cast<CShaftSection*>(object.get())) {
        if (group.GetType() != eTypeShaft) continue;
        for (int j = 0; j < child->GetChildCount(); ++j) {
          const XMLNode* g = child->GetChild(j);
          if (!Is(g, L"GrooveObject")) continue;
          if (auto groove = section->AddGroove(g->GetStrAttr(L"Type"))) ReadParams(g, *groove);
        }
      }
      if (group.AddChild(object)) ++count;
    } else if (Is(child, L"Node")) {
      std::shared_ptr<CNode> node;
      if (MorlaneText::EqualsNoCase(child->GetStrAttr(L"Type"), L"Shaft"))
        node = std::make_shared<CShaft>();
      else
        node = std::make_shared<CNode>();
      node->SetValue(L"Name", CVariant(child->GetStrAttr(L"Name")));
      ReadMatrix(child, *node);
      if (!group.AddChild(node)) continue;
      count += ReadData(child, *node);
    }
  }
  return count;
}

}  // namespace

int LoadSheet(const std::wstring& path, const std::shared_ptr<CNodeRoot>& root) {
  XMLDocument doc(path.c_str());
  const XMLNode* model = doc.GetRootElement();
  if (!Is(model, L"Model")) return -1;
  const XMLNode* data = model->GetChild(L"Data");
  return data ? ReadData(data, *root) : 0;
}
