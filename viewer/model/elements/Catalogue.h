#pragma once
// The element catalogue as data: every type name of the model files with the class it creates,
// in the order in which the model reader compares them.

#include "model/TreeObject.h"

#include <memory>
#include <string>

struct ElementType {
  const wchar_t* typeName;
  std::shared_ptr<CObject3D> (*make)();
};

// The 58 rows in reading order; the last one ("Bearing") matches every type that begins with
// "Bearing" (case counts there).
MORLANE_API const ElementType* ElementTypes(int& count);

// A new element for a model file's type name: the type names compare without regard to case,
// a bearing's type begins with "Bearing" and names its kind after it (a bearing without kind
// is a sliding one). Null for any other type.
MORLANE_API std::shared_ptr<CObject3D> CreateElement(const std::wstring& typeName);
