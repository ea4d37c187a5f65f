// The package author's check of an install script against the package that carries it: the
// script is read as Setup reads it (the same settings tree, vocabulary, macro table and
// libraries model), and every place where Setup would fail, or silently do less than the author
// wrote, is reported with its line and column, compiler-style.
//
// Errors are what makes a run fail or the product incomplete (XML that does not parse, a root
// the installer does not find, files the package lacks, numbers that do not convert, an
// uninstaller entry without a title, languages the installer refuses). Warnings are what the
// installer skips or ignores without a word (unknown elements, attribute names in the wrong
// case, undefined macros, "IgnoreFor" tags of no action, odd library dependencies, missing
// texts and messages, page switches of no page).
//
// The check reads special folders for the built-in path variables: a machine must be current.
#pragma once

#include "platform/Text.h"

#include <set>
#include <string>
#include <vector>

namespace TlPack {

enum class Severity { Warning, Error };

struct Diagnostic {
  int line = 0;  // 1-based; 0 when the finding is about the package, not a place in the script
  int column = 0;
  Severity severity = Severity::Error;
  std::wstring text;
};

// The entry names of a package (as they are or will be stored), "\" between folders, looked up
// without regard to case as the archive reader does.
class PackageContents {
 public:
  // Adds a file entry ("/" or "\" between folders; a directory entry ends with one of them).
  void Add(const std::wstring& name);
  bool HasFile(const std::wstring& name) const;
  // Some entry lies below the folder `name`.
  bool HasFolder(const std::wstring& name) const;
  const std::vector<std::wstring>& Names() const { return m_names; }

 private:
  std::vector<std::wstring> m_names;
  std::set<std::wstring, platform::NoCaseLess> m_files;
  std::set<std::wstring, platform::NoCaseLess> m_folders;
};

// Checks the script's bytes (any encoding the installer reads) against the package's names.
// Diagnostics come in the order of their place in the script.
std::vector<Diagnostic> CheckScript(const std::string& scriptBytes,
                                    const PackageContents& contents);

// Entry names the archive could not keep as written: characters the machine's ANSI code page
// lacks (the name would be stored changed), and names the reader refuses.
std::vector<Diagnostic> CheckNames(const PackageContents& contents);

// The languages of a script as the installer reads them from <Localization>, in script order
// (a language without an ID, title or system name is left out: the check reports it).
struct ScriptLanguage {
  int id = 0;  // the LCID, e.g. 1033
  std::wstring title;
  std::wstring systemName;  // the system's English name of it, e.g. "Russian"
};
std::vector<ScriptLanguage> ScriptLanguages(const std::string& scriptBytes);

// "FILE:LINE:COL: error: text" (without a place: "FILE: error: text").
std::string FormatDiagnostic(const std::string& file, const Diagnostic& d);

struct Counts {
  int errors = 0;
  int warnings = 0;
};
Counts CountOf(const std::vector<Diagnostic>& diagnostics);

// The exit status of a check: 2 with errors, 1 with warnings under `strict`, else 0.
int CheckStatus(const Counts& counts, bool strict);

}  // namespace TlPack
