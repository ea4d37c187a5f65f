// The ODBC data sources of the machine as the ODBC administrator shows them: the machine (system)
// data sources that the ODBC setup functions keep in the registry, read back.
//
// A system data source NAME is the value NAME of HKLM\SOFTWARE\ODBC\ODBC.INI\ODBC Data Sources,
// holding its driver's name, and the key HKLM\SOFTWARE\ODBC\ODBC.INI\NAME with the driver's
// attributes (DBQ, DefaultDir, Driver, DriverId, ...) and, for the Access driver, the sub-key
// Engines\Jet. On 64-bit Windows the 32-bit data sources live in the 32-bit view of the registry
// (SOFTWARE\WOW6432Node\ODBC), the 64-bit ones in the 64-bit view; both are listed.
#pragma once

#include "platform/Win32Errors.h"

#include <string>
#include <utility>
#include <vector>

namespace platform {

inline constexpr const wchar_t* kOdbcIniKey = L"SOFTWARE\\ODBC\\ODBC.INI";
inline constexpr const wchar_t* kOdbcDataSourcesKey =
    L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources";

struct OdbcDataSource {
  std::wstring name;
  std::wstring driver;  // the driver's name, as "ODBC Data Sources" gives it
  bool is64Bit = false;
  bool hasKey = false;  // the data source's own key exists
  // The values of its key and of its sub-keys ("Engines\Jet\Threads"), in the registry's order,
  // as text (numbers in decimal).
  std::vector<std::pair<std::wstring, std::wstring>> attributes;

  // One attribute's text ("" when missing); names compare without regard to case.
  std::wstring Attribute(const std::wstring& attributeName) const;
};

// The system data sources of both views (the 64-bit ones first on 64-bit Windows), each view's in
// the order of its "ODBC Data Sources" values.
std::vector<OdbcDataSource> SystemDataSources();
// The listing of `tlmachine odbc`.
std::wstring DescribeSystemDataSources();

}  // namespace platform
