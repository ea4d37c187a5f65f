// The destination folder: the folder the product goes into (typed or chosen with the folder
// browser), with the space the installation needs and the space free on the folder's drive
// shown below it while the folder changes. Next keeps the folder with the product's own folder
// at its end; only a full local or network folder is accepted.
#pragma once

#include "gui/pages/BasePage.h"
#include "package/ScriptVocabulary.h"

#include <cstdint>
#include <string>

namespace InstallGui {

inline constexpr int kDestinationGroup = 1002;
inline constexpr int kDestinationEdit = 1003;
inline constexpr int kSpaceAvailableLine = 1004;
inline constexpr int kSpaceRequiredLine = 1005;
inline constexpr int kDestinationText = 1012;
inline constexpr int kDestinationBrowse = 1015;

// Appends `folder` to `path` unless the path's last element already is that folder (any
// case); a final backslash goes either way.
void AppendProductFolder(std::wstring& path, const std::wstring& folder);

// The text of a space line: `format` with one argument, whole mebibytes (`bytes` >> 20), at
// most 99 characters. A format that does not fit one integer is shown as it stands; an empty
// one gives an empty line.
std::wstring FormatSpaceLine(const std::wstring& format, std::uint64_t mebibytes);

// Why a destination folder is refused (empty: it is accepted): empty, relative, a drive
// without its backslash, over-long (the longest path Windows takes, with room for the
// product's files), or with characters no folder name may hold.
std::wstring CheckDestinationFolder(const std::wstring& path);

class CDlgDestination : public CBasePage {
 public:
  // `initialFolder`: the folder the run proposes (empty: user setting "InstallPath");
  // `productFolder`: the product's folder name (the script's DirName).
  CDlgDestination(std::wstring initialFolder, std::wstring productFolder)
      : CBasePage(ScriptNames::Page::kDestination, PageKind::Destination),
        m_initialFolder(std::move(initialFolder)),
        m_productFolder(std::move(productFolder)) {}

  void SetRequiredBytes(std::uint32_t bytes) { m_requiredBytes = bytes; }
  std::uint32_t RequiredBytes() const { return m_requiredBytes; }

  // "InstallPath": the folder as the person types it.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override {
    return {ScriptNames::Attribute::kInstallPath};
  }
  // A folder that is not accepted keeps the page open with a message that says why.
  bool CanLeaveWithNext() override;
  int TextControl() const override { return kDestinationText; }

  const std::wstring& InstallPath() const { return m_installPath; }
  // The edit changed: the space lines follow.
  void SetInstallPath(const std::wstring& path);
  // The folder browser's answer: the chosen folder with the product folder at its end.
  void AcceptBrowsedFolder(const std::wstring& folder);
  const std::wstring& BrowseCaption() const { return m_browseCaption; }
  const std::wstring& BrowsePrompt() const { return m_browsePrompt; }

  // The two space lines for the current folder.
  std::wstring SpaceAvailableLine() const { return m_availableLine; }
  std::wstring SpaceRequiredLine() const { return m_requiredLine; }
  void UpdateSpace();

  void LoadSettings() override;
  void SaveSettings() override;

 protected:
  void LocalizePage(CLocalizer& localizer) override;
  void InitPage() override { UpdateSpace(); }

 private:
  std::wstring m_initialFolder;
  std::wstring m_productFolder;
  std::wstring m_installPath;
  std::uint32_t m_requiredBytes = 0;
  std::wstring m_requiredFormat, m_availableFormat, m_browseCaption, m_browsePrompt;
  std::wstring m_availableLine, m_requiredLine;
};

}  // namespace InstallGui
