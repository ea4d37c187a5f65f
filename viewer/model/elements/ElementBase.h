#pragma once
// What every element class of the catalogue shares: its parameters declared as data (name,
// label text, description text, kind) and added in order after "Name" and "Color", typed
// reads of those parameters for the build (a value that does not convert raises CComError),
// and the few members every element declares alike (type name, type code, caption).

#include "model/TreeObject.h"
#include "ui/TextIds.h"

#include <initializer_list>
#include <string>

enum class ParamKind { Double, Integer, Boolean };

struct ParamSpec {
  const wchar_t* name;
  int label;
  int description = 0;
  ParamKind kind = ParamKind::Double;
};

// Adds the parameters to g in the given order, each with its kind's default (0.0, 0, false).
MORLANE_API void AddParams(CGeometry& g, std::initializer_list<ParamSpec> params);

// The value of a parameter converted as the engine needs it.
MORLANE_API double Dbl(const CGeometry& g, const wchar_t* name);
MORLANE_API unsigned int UInt(const CGeometry& g, const wchar_t* name);
MORLANE_API bool Bool(const CGeometry& g, const wchar_t* name);

// The members an element class declares: the static type name of the model files, the type
// code, the caption text number, and the constructor and build it defines itself.
#define MORLANE_ELEMENT(Class, TypeName, TypeCode, CaptionId)                       \
 public:                                                                            \
  Class();                                                                          \
  static std::wstring GetTypeNameStatic() { return TypeName; }                      \
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }         \
  int GetType() const override { return TypeCode; }                                 \
  std::wstring GetCaption() const override { return CProperty::TextOf(CaptionId); } \
  void BuildShape() override;
