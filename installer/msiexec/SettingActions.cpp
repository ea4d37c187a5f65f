// The table actions on settings: registry values and keys, INI entries and environment
// variables, and taking back everything a component holds.
#include <algorithm>
#include <cstdio>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "msiexec/IniText.h"
#include "platform/Files.h"

namespace Msi {

namespace {

using platform::HKEY;

}  // namespace

// --- Registry --------------------------------------------------------------------------------

void Engine::WriteRegistry() {
  const Table& t = m_database.Get(L"Registry");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const ComponentInfo& info = m_components[component];
    const std::wstring view = info.win64 ? L"64" : L"32";
    const std::wstring rootText = RootText(t.Cell(i, L"Root"));
    const HKEY root = RootOf(rootText);
    const std::wstring key = CleanKey(Format(t.Cell(i, L"Key")));
    const std::wstring name = Format(t.Cell(i, L"Name"));
    const std::wstring raw = t.Cell(i, L"Value");
    if (key.empty()) continue;
    if ((name == L"+" || name == L"-" || name == L"*") && raw.empty()) {
      // The key alone: "+" made with the component, "-" taken whole with it, "*" both.
      if (name != L"-") CreateKeyFor(component, info.win64, root, rootText, key);
      if (name != L"+") {
        if (KeyTooHighToDelete(key))
          m_log.Line(L"Registry key " + key + L" is not taken away whole at the removal", false);
        else
          Add({component, kTree, {view, rootText, key}});
      }
      continue;
    }
    CreateKeyFor(component, info.win64, root, rootText, key);
    platform::RegKey opened;
    if (opened.Open(root, key, platform::KEY_READ | platform::KEY_WRITE | View(view)) !=
        platform::ERROR_SUCCESS) {
      m_log.Line(L"Registry key " + key + L" cannot be created", false);
      continue;
    }
    platform::LSTATUS status = platform::ERROR_SUCCESS;
    if (raw.rfind(L"#x", 0) == 0) {
      std::vector<platform::BYTE> data;
      const std::wstring hex = raw.substr(2);
      for (std::size_t h = 0; h + 1 < hex.size(); h += 2) {
        int byte = 0;
        if (std::swscanf(hex.substr(h, 2).c_str(), L"%2x", &byte) == 1)
          data.push_back(static_cast<platform::BYTE>(byte));
      }
      status = opened.SetBinary(name, data);
    } else if (raw.rfind(L"#%", 0) == 0) {
      status = opened.SetString(name, Format(raw.substr(2)), platform::REG_EXPAND_SZ);
    } else if (raw.rfind(L"##", 0) == 0) {
      status = opened.SetString(name, Format(raw.substr(1)));
    } else if (raw.rfind(L"#", 0) == 0) {
      long value = 0;
      try {
        value = std::stol(Format(raw.substr(1)));
      } catch (...) {}
      status = opened.SetDword(name, static_cast<platform::DWORD>(value));
    } else {
      const std::wstring value = Format(raw);
      if (value.find(L'\0') != std::wstring::npos) {
        std::vector<std::wstring> items;
        for (auto& part : SplitOn(value, L'\0'))
          if (!part.empty()) items.push_back(part);
        status = opened.SetMultiString(name, items);
      } else {
        status = opened.SetString(name, value);
      }
    }
    if (status != platform::ERROR_SUCCESS) {
      m_log.Line(L"Registry value " + key + L"\\" + name + L" cannot be written", false);
      continue;
    }
    m_log.Line(L"Registry " + key + L"\\" + name);
    Add({component, kValue, {view, rootText, key, name}});
  }
}

// The RemoveRegistry table: values (or whole keys, "-") a component's installation takes away.
void Engine::RemoveRegistry() {
  const Table& t = m_database.Get(L"RemoveRegistry");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const std::wstring view = m_components[component].win64 ? L"64" : L"32";
    const HKEY root = RootOf(RootText(t.Cell(i, L"Root")));
    const std::wstring key = CleanKey(Format(t.Cell(i, L"Key")));
    const std::wstring name = Format(t.Cell(i, L"Name"));
    if (key.empty()) continue;
    if (name == L"-") {
      if (KeyTooHighToDelete(key)) {
        m_log.Line(L"Registry key " + key + L" is not taken away whole", false);
        continue;
      }
      platform::RegKey k;
      if (k.Open(root, key, platform::KEY_ALL_ACCESS | View(view)) != platform::ERROR_SUCCESS)
        continue;
      platform::RegDeleteTreeW(k.Get(), nullptr);
      k.Close();
      if (platform::RegDeleteKeyExW(root, key.c_str(), View(view), 0) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry key " + key);
      continue;
    }
    platform::RegKey opened;
    if (opened.Open(root, key, platform::KEY_READ | platform::KEY_WRITE | View(view)) ==
            platform::ERROR_SUCCESS &&
        opened.DeleteValue(name) == platform::ERROR_SUCCESS)
      m_log.Line(L"Removing registry value " + key + L"\\" + name);
  }
}

// --- INI files -------------------------------------------------------------------------------

void Engine::WriteIni() {
  const Table& t = m_database.Get(L"IniFile");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const std::wstring name = LongName(t.Cell(i, L"FileName"));
    const std::wstring dirProperty = t.Cell(i, L"DirProperty");
    std::wstring folder = dirProperty.empty() ? Directory(L"WindowsFolder") : Property(dirProperty);
    if (dirProperty.empty() || folder.empty()) folder = platform::GetWindowsDirectoryW();
    if (!SafeElement(name)) continue;
    folder = IoPath(WithoutSlash(folder));
    const std::wstring path = folder + L"\\" + name;
    const std::wstring section = Format(t.Cell(i, L"Section"));
    const std::wstring key = Format(t.Cell(i, L"Key"));
    const std::wstring value = Format(t.Cell(i, L"Value"));
    const int action = Number(t.Cell(i, L"Action"));
    if (section.empty() || key.empty()) continue;
    IniText ini;
    const bool existed = ini.Load(path);
    const int line = ini.Key(section, key);
    std::wstring written = value;
    if (action == 1 && line >= 0) continue;  // createLine: only where there is none
    if (action == 3) {                       // addTag: one more in a comma list
      std::vector<std::wstring> tags =
          line >= 0 ? SplitOn(ini.Value(line), L',') : std::vector<std::wstring>{};
      if (std::find(tags.begin(), tags.end(), value) != tags.end()) continue;
      tags.push_back(value);
      written = JoinOn(tags, L',');
    } else if (action != 0 && action != 1) {
      m_log.Line(L"IniFile " + t.Cell(i, L"IniFile") + L": action " + std::to_wstring(action) +
                     L" is not one that installs",
                 false);
      continue;
    }
    if (!existed && !CreateFolderFor(component, folder).empty()) continue;
    ini.Set(section, key, written);
    if (!ini.Save(path)) {
      m_log.Line(L"INI file " + path + L" cannot be written", false);
      continue;
    }
    m_log.Line(L"Writing INI value [" + section + L"] " + key + L"=" + written + L" to " + path);
    Add({component,
         kIni,
         {path, section, key, value, std::to_wstring(action), existed ? L"" : L"created"}});
  }
}

// --- Environment -----------------------------------------------------------------------------

void Engine::WriteEnvironment() {
  const Table& t = m_database.Get(L"Environment");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    std::wstring name = t.Cell(i, L"Name");
    bool system = false, createOnly = false, removeAtRemoval = false, removeNow = false;
    while (!name.empty() && std::wstring(L"=+-!*").find(name[0]) != std::wstring::npos) {
      system = system || name[0] == L'*';
      createOnly = createOnly || name[0] == L'+';
      removeAtRemoval = removeAtRemoval || name[0] == L'-';
      removeNow = removeNow || name[0] == L'!';
      name.erase(name.begin());
    }
    if (name.empty() || name.find(L'=') != std::wstring::npos) continue;
    const std::wstring raw = t.Cell(i, L"Value");
    std::wstring mode = L"set", part;
    if (raw.rfind(L"[~]", 0) == 0) {
      mode = L"append";
      part = Format(raw.substr(3));
    } else if (raw.size() >= 3 && raw.compare(raw.size() - 3, 3, L"[~]") == 0) {
      mode = L"prepend";
      part = Format(raw.substr(0, raw.size() - 3));
    } else {
      part = Format(raw);
    }
    const HKEY root = system ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER;
    const std::wstring keyName = system ? kSystemEnvironmentKey : kUserEnvironmentKey;
    platform::RegKey key;
    if (key.Create(root, keyName, platform::KEY_READ | platform::KEY_WRITE) !=
        platform::ERROR_SUCCESS)
      continue;
    std::wstring current;
    const bool exists = key.QueryString(name, current) == platform::ERROR_SUCCESS;
    if (removeNow) {
      if (exists && (part.empty() || current == part)) key.DeleteValue(name);
      continue;
    }
    if (createOnly && exists) continue;
    std::wstring value = part;
    // The separator of a list is the character next to [~]; a part already there is not added.
    wchar_t separator = L';';
    if (mode == L"append" && !part.empty()) separator = part.front();
    if (mode == L"prepend" && !part.empty()) separator = part.back();
    std::wstring bare = part;
    if (mode != L"set" && !bare.empty())
      bare = mode == L"append" ? bare.substr(1) : bare.substr(0, bare.size() - 1);
    if (mode != L"set" && exists) {
      const auto parts = SplitOn(current, separator);
      if (std::find(parts.begin(), parts.end(), bare) != parts.end()) continue;
      value = mode == L"append" ? current + part : part + current;
    } else if (mode != L"set") {
      value = bare;
    }
    key.SetString(
        name, value,
        value.find(L'%') != std::wstring::npos ? platform::REG_EXPAND_SZ : platform::REG_SZ);
    m_log.Line(L"Setting environment variable " + name + L" to " + value);
    if (removeAtRemoval)
      Add({component,
           kEnv,
           {system ? L"system" : L"user", name, mode == L"set" ? value : bare, mode,
            std::wstring(1, separator)}});
  }
}

// --- Taking back -----------------------------------------------------------------------------

bool Engine::RemoveItem(const Item& item) {
  const auto& f = item.fields;
  auto field = [&](std::size_t n) { return n < f.size() ? f[n] : std::wstring(); };
  switch (item.kind) {
    case kFile:
    case kLink: {
      if (m_keptFiles.count(field(0))) return true;
      platform::DWORD status = platform::DeleteFileW(field(0));
      if (status == platform::ERROR_SUCCESS) {
        m_log.Line(L"Removing file " + field(0));
      } else if (status == platform::ERROR_SHARING_VIOLATION ||
                 status == platform::ERROR_ACCESS_DENIED) {
        if (platform::MoveFileExW(field(0), L"", platform::MOVEFILE_DELAY_UNTIL_REBOOT) ==
            platform::ERROR_SUCCESS) {
          m_log.Line(L"File " + field(0) + L" is in use: it goes at the next start");
          m_rebootNeeded = true;
        }
      }
      return true;
    }
    case kFolder:
      if (platform::RemoveDirectoryW(field(0)) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing folder " + field(0));
      return true;
    case kSharedDll: {
      platform::RegKey shared;
      platform::DWORD count = 0;
      if (shared.Open(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey,
                      platform::KEY_READ | platform::KEY_WRITE | View(field(0))) !=
              platform::ERROR_SUCCESS ||
          shared.QueryDword(field(1), count) != platform::ERROR_SUCCESS)
        return true;
      if (count > 1) {
        shared.SetDword(field(1), count - 1);
        m_keptFiles.insert(IoPath(field(1)));
        m_log.Line(L"File " + field(1) + L" is kept: SharedDLLs counts " +
                   std::to_wstring(count - 1) + L" more");
      } else {
        shared.DeleteValue(field(1));
        const bool empty = shared.ValueList().empty() && shared.SubKeyNames().empty();
        shared.Close();
        if (empty)
          platform::RegDeleteKeyExW(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey, View(field(0)),
                                    0);
      }
      return true;
    }
    case kValue: {
      platform::RegKey opened;
      if (opened.Open(RootOf(field(1)), field(2),
                      platform::KEY_READ | platform::KEY_WRITE | View(field(0))) ==
              platform::ERROR_SUCCESS &&
          opened.DeleteValue(field(3)) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry value " + field(2) + L"\\" + field(3));
      return true;
    }
    case kKey:
    case kTree: {
      const std::wstring key = field(2);
      const HKEY root = RootOf(field(1));
      if (key.find(L'\\') == std::wstring::npos) return true;  // a root's first level stays
      if (item.kind == kTree && KeyTooHighToDelete(key)) return true;
      platform::RegKey k;
      if (k.Open(root, key, platform::KEY_ALL_ACCESS | View(field(0))) != platform::ERROR_SUCCESS)
        return true;
      if (item.kind == kKey && (!k.SubKeyNames().empty() || !k.ValueList().empty())) return true;
      if (item.kind == kTree) platform::RegDeleteTreeW(k.Get(), nullptr);
      k.Close();
      if (platform::RegDeleteKeyExW(root, key.c_str(), View(field(0)), 0) ==
          platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry key " + key);
      return true;
    }
    case kIni: {
      IniText ini;
      if (!ini.Load(field(0))) return true;
      const int action = Number(field(4));
      if (action == 3) {
        int line = ini.Key(field(1), field(2));
        if (line >= 0) {
          auto tags = SplitOn(ini.Value(line), L',');
          tags.erase(std::remove(tags.begin(), tags.end(), field(3)), tags.end());
          if (JoinOn(tags, L',').empty())
            ini.Remove(field(1), field(2));
          else
            ini.Set(field(1), field(2), JoinOn(tags, L','));
        }
      } else {
        ini.Remove(field(1), field(2));
      }
      if (ini.Blank() && field(5) == L"created") {
        platform::DeleteFileW(field(0));
      } else {
        ini.Save(field(0));
      }
      m_log.Line(L"Removing INI value [" + field(1) + L"] " + field(2) + L" from " + field(0));
      return true;
    }
    case kEnv: {
      const bool system = field(0) == L"system";
      platform::RegKey key;
      if (key.Open(system ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER,
                   system ? kSystemEnvironmentKey : kUserEnvironmentKey,
                   platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
        return true;
      std::wstring current;
      if (key.QueryString(field(1), current) != platform::ERROR_SUCCESS) return true;
      if (field(3) == L"set") {
        key.DeleteValue(field(1));
      } else {
        const wchar_t separator = field(4).empty() ? L';' : field(4)[0];
        auto parts = SplitOn(current, separator);
        parts.erase(std::remove(parts.begin(), parts.end(), field(2)), parts.end());
        const std::wstring rest = JoinOn(parts, separator);
        if (rest.empty())
          key.DeleteValue(field(1));
        else
          key.SetString(field(1), rest);
      }
      m_log.Line(L"Removing environment variable " + field(1));
      return true;
    }
    default: return false;
  }
}

void Engine::RemoveItems(const std::wstring& kinds) {
  for (wchar_t kind : kinds) {
    std::vector<Item> going;
    for (const auto& item : m_items)
      if (item.kind == kind && Going(item.component)) going.push_back(item);
    // Deepest folders and keys first.
    std::stable_sort(going.begin(), going.end(), [](const Item& a, const Item& b) {
      const std::wstring& x = a.fields.size() > 2 && (a.kind == kKey || a.kind == kTree)
                                  ? a.fields[2]
                                  : (a.fields.empty() ? L"" : a.fields[0]);
      const std::wstring& y = b.fields.size() > 2 && (b.kind == kKey || b.kind == kTree)
                                  ? b.fields[2]
                                  : (b.fields.empty() ? L"" : b.fields[0]);
      return x.size() > y.size();
    });
    for (const auto& item : going) {
      const ComponentInfo* c = Component(item.component);
      // A SharedDLLs count is each product's own: it goes down whoever else holds the file.
      const bool keep = item.kind != kSharedDll && (ComponentHeldElsewhere(item.component) ||
                                                    (c && (c->attributes & kComponentPermanent)));
      if (keep) {
        m_log.Line(L"Component " + item.component + L" is kept: another product holds it");
        // The folders and keys this product made now belong to those that keep the component.
        if (item.kind == kFolder || item.kind == kKey) HandOver(item);
      } else
        RemoveItem(item);
      m_items.erase(std::remove(m_items.begin(), m_items.end(), item), m_items.end());
    }
  }
}

}  // namespace Msi
