// Reading the parts of the install script that describe the product as a whole: the product
// description (the root's attributes), COMMONINFO and CFG below INSTALL, and the split of
// "RegKeyProjectPath" into a registry key and a value name.
#pragma once

#include "package/Settings.h"

#include <functional>
#include <string>

namespace CommonTools::Script {

struct ProductDescription {
  std::wstring name;
  std::wstring pv;
  std::wstring regKey;
  std::wstring versionText;
  int version = 0;  // the leading digits of "Version", as _wtol reads them
  std::wstring installType;
  int build = 0;
  std::wstring dirName;
  int language = 0;
};

// Reads the root's attributes in their order. A "Build" or "Language" that is not a number
// ends the reading: false, with the settings error's text in `error`.
bool ReadProductDescription(const SettingsNodePtr& root, ProductDescription& description,
                            std::wstring& error);

struct CommonInfo {
  std::wstring cfgPath;         // INSTALL/CFG/FILE "Path"
  std::wstring productsFile;    // COMMONINFO "File"
  std::wstring logFile;         // COMMONINFO "Log"
  std::wstring commonKey;       // COMMONINFO "RegKeyInstall"
  std::wstring projectPathKey;  // COMMONINFO "RegKeyProjectPath", split
  std::wstring projectPathValue;
};

// The step's reading of a path attribute: macros replaced, "/" turned into "\".
using PathAttributeReader =
    std::function<std::wstring(const SettingsNodePtr& node, const std::wstring& name)>;

// Reads COMMONINFO and CFG/FILE below INSTALL. Without INSTALL nothing is read and `info` keeps
// what it held (the defaults).
void ReadCommonInfo(const SettingsNodePtr& root, const PathAttributeReader& read, CommonInfo& info);

// "RegKeyProjectPath": the value name is the text after the last "\", the key the text before
// that "\" less the one character before it (scripts write the separator doubled). Without any
// "\" the whole text is both; a text whose only "\" is the first character is not split
// (false, key and value untouched); an empty text is not split either.
bool SplitProjectPath(const std::wstring& text, std::wstring& key, std::wstring& valueName);

}  // namespace CommonTools::Script
