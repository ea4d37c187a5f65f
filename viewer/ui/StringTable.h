#pragma once
// The viewer library's built-in string table (ui/StringTable.cpp).

#include "MorlaneExport.h"

#include <cstddef>

struct MorlaneStringEntry {
  int id;
  const wchar_t* text;
};

// The default text of id, or null when the table has none.
MORLANE_API const wchar_t* MorlaneBuiltInString(int id);
// The whole table, sorted by id.
MORLANE_API const MorlaneStringEntry* MorlaneBuiltInStrings(std::size_t& count);
