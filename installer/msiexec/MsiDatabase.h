// The tables of a Windows Installer package, read with the host's msitools (msiinfo export,
// msiextract): each table as its column names and rows of text, the way the package stores
// them (a null cell is an empty text).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Msi {

struct Table {
  std::vector<std::wstring> columns;
  std::vector<std::vector<std::wstring>> rows;
  // The index of a column, or -1.
  int Column(const std::wstring& name) const;
  // The cell of `row` in column `name`; empty when there is no such column.
  std::wstring Cell(std::size_t row, const std::wstring& name) const;
};

// Parses the text "msiinfo export" writes: the column names, their types, the table's name and
// keys, then one line per row (tabs between cells, CR LF at the ends; a tab, CR or LF inside a
// cell stands as \x11, \x19 and \x1b ... as the export format has them).
bool ParseExport(const std::string& text, Table& table);

class Database {
 public:
  // Opens the package at `hostPath` (a host file). False with the reason in `error` when
  // msiinfo cannot read it.
  bool Open(const std::string& hostPath, std::string& error);
  // A table of the package; empty (no columns) when the package has none.
  const Table& Get(const std::wstring& name);
  // A field of the summary information ("Template", "Revision number (UUID)", ...) as
  // msiinfo suminfo shows it; empty when missing.
  std::wstring Summary(const std::wstring& field);
  // The Property table as a map.
  std::map<std::wstring, std::wstring> Properties();
  // Every file of the package extracted below `hostFolder` (msiextract); the host paths of
  // the files, relative to that folder, as msiextract laid them out.
  bool ExtractFiles(const std::string& hostFolder, std::vector<std::string>& files,
                    std::string& error);
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  std::vector<std::wstring> m_tableNames;
  std::map<std::wstring, Table> m_tables;
  std::map<std::wstring, std::wstring> m_summary;
  bool m_summaryRead = false;
};

// Runs a host program (found on the host's PATH) and gives its standard output; false when it
// could not be started or did not exit with 0.
bool RunHost(const std::vector<std::string>& argv, std::string& output);

}  // namespace Msi
