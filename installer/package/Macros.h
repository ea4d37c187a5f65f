// The macros of the script (the MACROS node) and the built-in path variables, and their
// replacement in the script's text values.
#pragma once

#include "package/Settings.h"

#include <string>
#include <utility>
#include <vector>

namespace CommonTools {

struct MacroEntry {
  std::wstring Name;  // the literal text to replace, percent signs included
  std::wstring Value;
  std::wstring IgnoreFor;  // an action list of "IgnoreFor" tags
};

// A built-in variable: its name and its value at the moment of the replacement.
using BuiltinVariable = std::pair<std::wstring, std::wstring>;

// What the built-in variables are computed from.
struct BuiltinInputs {
  std::wstring installPath;    // user setting "InstallPath"
  std::wstring projectPath;    // user setting "ProjectPath"
  std::wstring tolmeraPath;    // user setting "TolmeraPath"
  std::wstring dirName;        // the product's "DirName"
  std::wstring name;           // the product's "Name"
  std::wstring installedKind;  // "Server", "Local", "Client" or empty
  int languageId = -1;         // the current language's ID (-1: the languages are not loaded)
  bool wow64 = false;          // the installer runs under WOW64
  int build = 0;               // the script's "Build"
};

// The built-in variables in the order in which they are replaced. Special folders are taken
// from the machine without creating them; one the machine cannot name is empty.
std::vector<BuiltinVariable> BuiltinVariables(const BuiltinInputs& in);

// Replaces every occurrence of `name` in `s` by `value`. Each search goes on after the text
// just inserted, so a value that contains the name (or forms it with what follows) is
// inserted once and never replaced again. Returns the number of replacements.
size_t ReplaceAll(std::wstring& s, const std::wstring& name, const std::wstring& value);

class CMacroTable {
 public:
  // Reads the root's MACROS node (absent: no macros); every MACRO child (any case) in order
  // with "Name", "Value", "IgnoreFor" as written. Replaces the table.
  void Load(const SettingsNodePtr& root);
  void Clear() { m_entries.clear(); }
  void Add(const MacroEntry& entry) { m_entries.push_back(entry); }
  const std::vector<MacroEntry>& Entries() const { return m_entries; }

  // Replaces macros in `s` in place: first the script macros that the run does not ignore
  // (in table order), then the ignored ones are removed, then the built-in variables in their
  // order. Matching is exact (case-sensitive). An empty string stays as it is.
  void Expand(std::wstring& s, int action, int kind,
              const std::vector<BuiltinVariable>& builtins) const;

 private:
  std::vector<MacroEntry> m_entries;
};

}  // namespace CommonTools
