// The record of installed products ("TolmeraInstall.cfg") and the common-files counter in the
// registry: the only state that outlives a run. Every run loads the record at set-up, a
// processing run changes it (AddProduct, RemoveProduct) and saves it.
#pragma once

#include "gui/Languages.h"

#include <cstdint>
#include <string>
#include <vector>

namespace InstallManager {

struct InstalledProduct {
  int build = 0;
  int version = 0;
  std::wstring path;
  std::wstring pv;
  std::wstring registry;
  std::wstring type;       // the install type's script name ("Server", "Local", "Client", ...)
  std::wstring libraries;  // the selection string of the installed libraries
  int language = 0;        // index in the script's language list
  std::wstring cfPath;
};

class InstalledProducts {
 public:
  // The languages turn the record's language IDs into indexes and back (none: every index is
  // 0 on reading, and indexes are written as they are).
  void SetLanguages(CommonTools::ILanguages* languages) { m_languages = languages; }

  // Replaces the list by the file's contents. A missing file, or one that cannot be parsed,
  // leaves the list empty and succeeds; an unparsable file is kept aside by the next Save over
  // it, under the first free name of ".bad", ".bad.1", ".bad.2", ... (never over an earlier copy).
  // A value that does not convert ("Build", "Language") fails and empties the list.
  // `pathKey`/`pathValue`: the registry key (below HKEY_LOCAL_MACHINE) and value that give the path
  // of entries without one.
  bool Load(const std::wstring& filePath, const std::wstring& pathKey,
            const std::wstring& pathValue);
  // Writes the file anew (UTF-16, indented) through a temporary file that replaces it; false
  // when anything fails, the old file then stays as it was.
  bool Save(const std::wstring& filePath);
  int Count() const { return static_cast<int>(m_entries.size()); }
  // The index of (pv, version) and a copy of its entry, or -1. `pv` compares exactly.
  int Find(const std::wstring& pv, int version, InstalledProduct& entry) const;
  bool GetAt(int index, InstalledProduct& entry) const;
  bool SetAt(int index, const InstalledProduct& entry);
  // Stores `entry` under (pv, version): replaces that pair's entry, or appends it and, with
  // `counts`, adds one to the common-files counter (with the record's path as its "Path").
  bool SetProduct(const std::wstring& pv, int version, const InstalledProduct& entry, bool counts);
  // Removes the pair's entry and takes one from the counter (never below 0); false when the
  // pair has no entry.
  bool RemoveProduct(const std::wstring& pv, int version);
  // The counter's "Count"; `folder` is its "Path" with `name` as last component (unless it
  // ends so already), emptied by a count of 0. 0 and "" without a key.
  int GetCommonUsage(std::wstring& folder, const std::wstring& name);

  const std::wstring& GetPath() const { return m_path; }
  void SetPath(const std::wstring& path) { m_path = path; }
  const std::wstring& GetApplication() const { return m_application; }
  void SetApplication(const std::wstring& application) { m_application = application; }
  const std::wstring& GetCommonKey() const { return m_commonKey; }
  void SetCommonKey(const std::wstring& key) { m_commonKey = key; }

 private:
  void UpdateCounter(bool increment, const std::wstring& folder);
  int LanguageIndex(std::uint32_t value) const;
  int LanguageId(int index) const;

  std::wstring m_application;
  std::wstring m_path;
  std::vector<InstalledProduct> m_entries;
  std::wstring m_commonKey;
  CommonTools::ILanguages* m_languages = nullptr;
  // A file found unreadable by Load; moved aside before a Save replaces it.
  std::wstring m_unreadableFile;
};

}  // namespace InstallManager
