#include "manager/InstalledProducts.h"

#include "package/XmlSettings.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace InstallManager {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
using CommonTools::Variant;

bool InstalledProducts::Load(const std::wstring& filePath, const std::wstring& pathKey, const std::wstring& pathValue)
{
    m_entries.clear();
    CommonTools::CXmlSettings file;
    if (!file.Load(filePath))
        return true;
    SettingsNodePtr root;
    if (!file.GetRoot(root))
        return true;
    try {
        m_application = CommonTools::GetText(root, L"Application");
        m_path = CommonTools::GetText(root, L"Path");
        SettingsNodeListPtr list;
        if (!root->GetChildren(list))
            return true;
        int n = list->GetCount();
        for (int i = 0; i < n; ++i) {
            SettingsNodePtr item;
            if (!list->GetItem(i, item))
                continue;
            InstalledProduct e;
            e.build = CommonTools::GetInt(item, L"Build", 0);
            e.path = CommonTools::GetText(item, L"Path");
            e.pv = CommonTools::GetText(item, L"PV");
            e.registry = CommonTools::GetText(item, L"Registry");
            e.type = CommonTools::GetText(item, L"Type");
            e.version = platform::wtol(CommonTools::GetText(item, L"Version", L"0"));
            e.libraries = CommonTools::GetText(item, L"Libraries");
            std::uint32_t language = 0;
            std::wstring languageText = CommonTools::GetText(item, L"Language", L"0");
            if (platform::VariantToUInt32(languageText, language) != platform::S_OK)
                throw CommonTools::SettingsError(CommonTools::SettingsError::Code::TypeMismatch, "Type mismatch.");
            e.cfPath = CommonTools::GetText(item, L"CFPath");
            unsigned count = m_languages ? m_languages->GetCount() : 0;
            if (language < 1000)
                e.language = language < count ? static_cast<int>(language) : 0;
            else
                e.language = m_languages ? static_cast<int>(m_languages->FindById(static_cast<int>(language))) : 0;
            if (e.path.empty() && !pathKey.empty() && !pathValue.empty()) {
                platform::RegKey key;
                if (key.Open(platform::HKEY_LOCAL_MACHINE, pathKey, platform::KEY_READ | platform::KEY_WRITE) == platform::ERROR_SUCCESS) {
                    std::wstring value;
                    if (key.QueryString(pathValue, value) == platform::ERROR_SUCCESS)
                        e.path = value.substr(0, 1000);
                }
            }
            if (!SetProduct(e.pv, e.version, e, false)) {
                m_entries.clear();
                return false;
            }
        }
    } catch (const CommonTools::SettingsError&) {
        m_entries.clear();
        return false;
    }
    return true;
}

bool InstalledProducts::Save(const std::wstring&) { return false; }

int InstalledProducts::Find(const std::wstring& pv, int version, InstalledProduct& entry) const
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].pv == pv && m_entries[i].version == version) {
            entry = m_entries[i];
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool InstalledProducts::GetAt(int index, InstalledProduct& entry) const
{
    if (index < 0 || index >= Count())
        return false;
    entry = m_entries[static_cast<size_t>(index)];
    return true;
}

bool InstalledProducts::SetAt(int index, const InstalledProduct& entry)
{
    if (index < 0 || index >= Count())
        return false;
    m_entries[static_cast<size_t>(index)] = entry;
    return true;
}

bool InstalledProducts::SetProduct(const std::wstring& pv, int version, const InstalledProduct& entry, bool)
{
    InstalledProduct e = entry;
    e.pv = pv;
    e.version = version;
    InstalledProduct existing;
    int index = Find(pv, version, existing);
    if (index >= 0)
        m_entries[static_cast<size_t>(index)] = e;
    else
        m_entries.push_back(e);
    return true;
}

int InstalledProducts::GetCommonUsage(std::wstring& folder, const std::wstring&)
{
    folder.clear();
    if (m_commonKey.empty())
        return 0;
    platform::RegKey key;
    if (key.Open(platform::HKEY_LOCAL_MACHINE, m_commonKey, platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
        return 0;
    platform::DWORD count = 0;
    key.QueryDword(L"Count", count);
    key.QueryString(L"Path", folder);
    return static_cast<int>(count);
}

} // namespace InstallManager
