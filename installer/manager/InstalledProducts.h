// The record of installed products ("TolmeraInstall.cfg") and the common-files counter in the
// registry.
//
// This stage reads the record: the run's set-up loads it, looks products up and takes the
// common folder from it or from the counter. Writing it back (Save, RemoveProduct, counting the
// common files) comes with the processing runs that change it; until then Save reports failure.
#pragma once

#include "gui/Languages.h"

#include <string>
#include <vector>

namespace InstallManager {

struct InstalledProduct {
    int build = 0;
    int version = 0;
    std::wstring path;
    std::wstring pv;
    std::wstring registry;
    std::wstring type;
    std::wstring libraries;
    int language = 0;  // index in the script's language list
    std::wstring cfPath;
};

class InstalledProducts {
public:
    // The languages turn the record's language IDs into indexes (none: every index is 0).
    void SetLanguages(CommonTools::ILanguages* languages) { m_languages = languages; }

    // Replaces the list by the file's contents. A missing or unparsable file leaves the list
    // empty and succeeds; a value that does not convert fails (the list is emptied).
    // `pathKey`/`pathValue`: the registry key (below HKEY_LOCAL_MACHINE) and value that give the
    // path of entries without one.
    bool Load(const std::wstring& filePath, const std::wstring& pathKey, const std::wstring& pathValue);
    bool Save(const std::wstring& filePath);
    int Count() const { return static_cast<int>(m_entries.size()); }
    // The index of (pv, version) and a copy of its entry, or -1. `pv` compares exactly.
    int Find(const std::wstring& pv, int version, InstalledProduct& entry) const;
    bool GetAt(int index, InstalledProduct& entry) const;
    bool SetAt(int index, const InstalledProduct& entry);
    // Stores `entry` under (pv, version): replaces that pair's entry or appends a new one.
    bool SetProduct(const std::wstring& pv, int version, const InstalledProduct& entry, bool counts);
    // The counter's "Count" and, in `folder`, its "Path"; 0 and "" without a key or values.
    int GetCommonUsage(std::wstring& folder, const std::wstring& name);

    const std::wstring& GetPath() const { return m_path; }
    void SetPath(const std::wstring& path) { m_path = path; }
    const std::wstring& GetApplication() const { return m_application; }
    void SetApplication(const std::wstring& application) { m_application = application; }
    const std::wstring& GetCommonKey() const { return m_commonKey; }
    void SetCommonKey(const std::wstring& key) { m_commonKey = key; }

private:
    std::wstring m_application;
    std::wstring m_path;
    std::vector<InstalledProduct> m_entries;
    std::wstring m_commonKey;
    CommonTools::ILanguages* m_languages = nullptr;
};

} // namespace InstallManager
