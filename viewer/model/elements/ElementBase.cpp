#include "model/elements/ElementBase.h"

void AddParams(CGeometry& g, std::initializer_list<ParamSpec> params) {
  for (const ParamSpec& p : params) {
    switch (p.kind) {
      case ParamKind::Integer: g.AddProperty(p.name, p.label, p.description, CVariant(0)); break;
      case ParamKind::Boolean:
        g.AddProperty(p.name, p.label, p.description, CVariant(false));
        break;
      case ParamKind::Double: g.AddProperty(p.name, p.label, p.description, CVariant(0.0)); break;
    }
  }
}

double Dbl(const CGeometry& g, const wchar_t* name) { return g.GetValue(name).ToDouble(); }
unsigned int UInt(const CGeometry& g, const wchar_t* name) { return g.GetValue(name).ToUInt(); }
bool Bool(const CGeometry& g, const wchar_t* name) { return g.GetValue(name).ToBool(); }
