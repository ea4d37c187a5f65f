#pragma once
// Fills a model root from a model file the simple way the catalogue sheet needs: objects by
// their type name with their parameters, tooth-profile points, grooves, colours and
// placements; groups and shafts. It stands in for the model reader, which does all of this
// with the full rules of the format, until that reader exists.

#include "model/TreeObject.h"

#include <memory>
#include <string>

// Returns the number of objects created, or -1 when the file does not load.
int LoadSheet(const std::wstring& path, const std::shared_ptr<CNodeRoot>& root);
