// The shortcut steps: links on the common desktop, in the product's folder of the common Start
// menu and in Quick Launch, and the registration of a document extension with its program.
#include "steps/ShortcutSteps.h"

#include "app/Tools.h"
#include "steps/ShortcutSteps.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/ShellLinks.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"
#include "steps/RegistryStep.h"

#include <array>

namespace InstallSteps {

using InstallManager::Log;
using InstallManager::LogLevel;

bool CreateShortcut(const std::wstring& target, const std::wstring& arguments,
                    const std::wstring& linkPath, const std::wstring& description, int showCommand,
                    const std::wstring& workingFolder, const std::wstring& iconPath,
                    int iconIndex) {
  if (target.empty() || linkPath.empty() || showCommand < 0 || iconIndex < 0) return false;
  platform::ShellLink link;
  link.target = target;
  link.arguments = arguments;
  link.description = description;
  if (showCommand > 0) link.showCommand = showCommand;
  link.workingDirectory = workingFolder;
  if (!iconPath.empty()) {
    link.iconLocation = iconPath;
    link.iconIndex = iconIndex;
  }
  std::wstring folder = linkPath;
  platform::PathRemoveFileSpecW(folder);
  if (!folder.empty() && !platform::PathIsDirectoryW(folder))
    platform::CreateDirectoryWithParents(folder);
  return platform::WriteShellLink(linkPath, link) == platform::ERROR_SUCCESS;
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty()) return false;
  std::wstring base = folder;
  while (!base.empty() && base.back() == L'\\') base.pop_back();
  if (platform::EqualsNoCase(path, base)) return true;
  return path.size() > base.size() + 1 && path[base.size()] == L'\\' &&
         platform::EqualsNoCase(path.substr(0, base.size()), base);
}

}  // namespace InstallSteps

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;
using namespace InstallSteps;

namespace {

// The three places of a link, in the order the step treats them, with their log texts.
struct Place {
  const wchar_t* deleteText;
  const wchar_t* createText;
};
// clang-format off
const std::array<Place, 3> kPlaces = {{
    {L"ProcessShortcuts: desktop delete file %s",      L"ProcessShortcuts: desktop create Shortcut"},
    {L"ProcessShortcuts: StartMenu delete file %s",    L"ProcessShortcuts: StartMenu create Shortcut"},
    {L"ProcessShortcuts: quick launch delete file %s", L"ProcessShortcuts: quick launch create Shortcut"},
}};
// clang-format on
constexpr int kStartPlace = 1;

// The rest of the creation line, the same for every place.
constexpr const wchar_t* kCreateDetails =
    L"\r\n                File, Icon = %s\r\n                Target = %s\r\n                path = "
    L"%s\r\n                Description = %s\r\n                CurDir = %s";

std::wstring FolderOf(const std::wstring& path) {
  std::wstring folder = path;
  platform::PathRemoveFileSpecW(folder);
  return folder;
}

}  // namespace

void ShortcutsStep::Run(const SettingsNodePtr& container, bool remove,
                        const std::wstring& basePath) {
  Log(LogLevel::Info, L"ProcessShortcuts: start");
  if (!container) return;
  try {
    SettingsNodePtr group;
    if (!container->GetChild(Element::kShortcuts, group) || !group || m_ctx.IsIgnored(group))
      return;
    const std::wstring startFolder = m_ctx.ReadAttribute(group, Attribute::kStartFolder, L"", true);
    Log(LogLevel::Info, L"ProcessShortcuts: start folder %s", startFolder);

    std::wstring desktop, programs, appData;
    if (!platform::SHGetSpecialFolderPathW(nullptr, desktop,
                                           platform::CSIDL_COMMON_DESKTOPDIRECTORY, true) ||
        !platform::SHGetSpecialFolderPathW(nullptr, programs, platform::CSIDL_COMMON_PROGRAMS,
                                           false) ||
        !platform::SHGetSpecialFolderPathW(nullptr, appData, platform::CSIDL_APPDATA, false))
      return;
    std::wstring start = startFolder.empty() ? programs : CombinePath(programs, startFolder);
    if (!IsInsideFolder(start, programs)) {
      // "..\.." in the folder would put links (and their removal) outside the Start menu.
      Log(LogLevel::Error,
          L"ProcessShortcuts: start folder %s lies outside the Programs folder; no Start-menu "
          L"links",
          startFolder);
      start.clear();
    }
    const std::wstring quickLaunch =
        CombinePath(appData, L"Microsoft\\Internet Explorer\\Quick Launch");
    const std::wstring folders[3] = {desktop, start, quickLaunch};

    SettingsNodeListPtr children;
    if (!group->GetChildren(children) || !children) return;
    const int count = children->GetCount();
    for (int i = 0; i < count; ++i) {
      SettingsNodePtr item;
      if (!children->GetItem(i, item) || !item ||
          !platform::EqualsNoCase(item->GetName(), Element::kShortcut))
        continue;
      std::wstring name = m_ctx.ReadAttribute(item, Attribute::kName, L"", true);
      const std::wstring path = m_ctx.ReadAttribute(item, Attribute::kPath, L"", true);
      // A missing or non-numeric place ends the step here (the links made so far stay).
      int places[3];
      const wchar_t* placeNames[3] = {Attribute::kDesktop, Attribute::kStart,
                                      Attribute::kQuickLaunch};
      for (int p = 0; p < 3; ++p)
        places[p] =
            CommonTools::ConvertTextToInt(m_ctx.ReadAttribute(item, placeNames[p], L"", false));
      if (name.find_first_not_of(L" .\\") == std::wstring::npos) {
        Log(LogLevel::Error, L"ProcessShortcuts: a SHORTCUT without a Name (\"%s\") is skipped",
            name);
        continue;
      }
      platform::PathAddExtensionW(name, L".lnk");
      const std::wstring target = CombinePath(basePath, path);
      const std::wstring work = FolderOf(target);
      for (int p = 0; p < 3; ++p) {
        if (places[p] == 0 || folders[p].empty()) continue;
        const std::wstring link = CombinePath(folders[p], name);
        if (link.empty() || !IsInsideFolder(FolderOf(link), folders[p])) {
          Log(LogLevel::Error, L"ProcessShortcuts: the link %s would lie outside %s; skipped", name,
              folders[p]);
          continue;
        }
        if (remove) {
          Log(LogLevel::Info, kPlaces[p].deleteText, link);
          m_ctx.Guard().DeleteFileIn(link, folders[p], L"ProcessShortcuts");
          // The Start-menu folder goes only when this product's links were all it held, and
          // its parents up to the Programs folder with it when they are empty too.
          if (p == kStartPlace) m_ctx.Guard().RemoveEmptyParents(link, programs);
        } else {
          const std::wstring arguments, description;
          Log(LogLevel::Info, std::wstring(kPlaces[p].createText) + kCreateDetails, target,
              arguments, link, description, work);
          m_ctx.Guard().NoteMissing(link);
          CreateShortcut(target, arguments, link, description, 1, work, target, 0);
        }
      }
    }
  } catch (const CommonTools::SettingsError&) {
    // Ends the step at this SHORTCUT; nothing is logged.
  }
}

void AssociationStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) {
  if (!node || m_ctx.IsIgnored(node)) return;
  std::wstring extension = m_ctx.ReadAttribute(node, Attribute::kExtension, L"", true);
  const std::wstring program = m_ctx.ReadAttribute(node, Attribute::kProgram, L"", true);
  if (extension.empty() || program.empty()) return;
  if (extension[0] != L'.') extension.insert(0, 1, L'.');
  if (extension.size() < 2 || extension.find(L'\\') != std::wstring::npos) {
    Log(LogLevel::Error, L"CommonStepAssociation: Ext = %s is no file extension; skipped",
        extension);
    return;
  }
  std::wstring command = CombinePath(basePath, program);
  platform::PathQuoteSpacesW(command);
  const std::wstring className = m_ctx.ProductData().name + extension;
  constexpr platform::REGSAM kAccess = platform::KEY_READ | platform::KEY_WRITE;
  platform::RegistryBatch batch;
  if (remove) {
    Log(LogLevel::Info, L"CommonStepAssociation: remove Ext = %s Command = %s", extension,
        className);
    // The extension may belong to another program by now: it goes only while it names our class.
    platform::RegKey ext;
    std::wstring owner;
    if (ext.Open(platform::HKEY_CLASSES_ROOT, extension, kAccess) == platform::ERROR_SUCCESS &&
        ext.QueryString(L"", owner) == platform::ERROR_SUCCESS &&
        platform::EqualsNoCase(owner, className)) {
      ext.Close();
      m_ctx.Guard().DeleteKeyTree(platform::HKEY_CLASSES_ROOT, extension, L"CommonStepAssociation");
    } else if (ext) {
      Log(LogLevel::Info, L"CommonStepAssociation: Ext = %s belongs to %s now and is kept",
          extension, owner);
    }
    ext.Close();
    // Without a product name the class is the extension's own key: handled above.
    if (platform::EqualsNoCase(className, extension)) return;
    platform::RegKey cls;
    if (cls.Open(platform::HKEY_CLASSES_ROOT, className, kAccess) == platform::ERROR_SUCCESS) {
      cls.Close();
      m_ctx.Guard().DeleteKeyTree(platform::HKEY_CLASSES_ROOT, className, L"CommonStepAssociation");
    }
    return;
  }
  Log(LogLevel::Info, L"CommonStepAssociation: create Ext = %s Command = %s", extension, className);
  m_ctx.Guard().NoteMissingKey(platform::HKEY_CLASSES_ROOT, extension);
  m_ctx.Guard().NoteMissingKey(platform::HKEY_CLASSES_ROOT, className + L"\\shell\\open\\command");
  platform::RegKey ext;
  if (ext.Create(platform::HKEY_CLASSES_ROOT, extension, kAccess) == platform::ERROR_SUCCESS)
    ext.SetString(L"", className);
  platform::RegKey open;
  if (open.Create(platform::HKEY_CLASSES_ROOT, className + L"\\shell\\open\\command", kAccess) ==
      platform::ERROR_SUCCESS)
    open.SetString(L"", command + L" \"%1\"");
}

}  // namespace InstallSteps
