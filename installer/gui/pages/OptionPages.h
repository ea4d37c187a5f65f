// The pages that offer a choice of radio buttons: the kind of installation (server, local,
// client), repair or change or removal, its short form (repair or removal) and update or
// removal. Each choice is a row of its page's table: the radio button, the install type it
// writes to "InstallType", and a state (shown, hidden, shown but disabled) that the run sets
// before the page is shown and that stays for the rest of the run.
#pragma once

#include "gui/pages/BasePage.h"
#include "gui/pages/ClientPackageExport.h"

#include <array>
#include <string>
#include <vector>

namespace InstallGui {

enum class OptionState : int { Hidden = 0, Shown = 1, Disabled = 2 };

struct OptionRow {
  int controlId;
  int installType;
  const wchar_t* switchKey;  // the row's switch under DIALOGS (nullptr: none)
  const wchar_t* textKey;    // the radio button's text
  OptionState state = OptionState::Shown;
};

enum class OptionTable { InstallType, Repair, RepairTruncated, Update };

class COptionPage : public CBasePage {
 public:
  // The rows of every table as a run starts (all shown).
  static void ResetTables();
  // The run's changes to a table's rows; they stay when the page is made again.
  static void HideOption(OptionTable table, size_t row);
  static void DisableOption(OptionTable table, size_t row);
  static const std::vector<OptionRow>& Rows(OptionTable table);

  const std::vector<OptionRow>& Rows() const { return Rows(m_table); }
  OptionTable Table() const { return m_table; }
  // The row chosen (-1: none).
  int Selection() const { return m_selection; }
  // The person clicks a row's radio button; false for a row that is hidden or disabled.
  bool Choose(int row);
  int TextLineControl() const { return m_textLine; }

  // "InstallType": the install type of a row that is offered (its name, "Local", or number);
  // "ExportPath": the folder to copy the client package to (where the page offers it).
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;
  std::vector<std::wstring> FieldChoices(const std::wstring& name) const override;
  bool IsControlHidden(int controlId) const override;
  bool IsControlDisabled(int controlId) const override;
  // The install-type page's text is its line 1015; the other pages have a title line 1016
  // and their text in 1024.
  int TextControl() const override { return m_textLine == kTitleLine ? 1024 : m_textLine; }
  static constexpr int kTitleLine = 1016;

  // The export of the client package (not on the short repair page).
  bool OffersExport() const { return m_hasExport; }
  void SetClientMsiPath(const std::wstring& path) { m_export.SetClientMsiPath(path); }
  CClientPackageExport& Export() { return m_export; }
  const CClientPackageExport& Export() const { return m_export; }
  bool ExportTo(const std::wstring& folder);

  void LoadSettings() override;
  void SaveSettings() override;

 protected:
  COptionPage(const wchar_t* section, PageKind kind, OptionTable table, int textLine,
              int defaultType, bool hasExport);
  void LocalizePage(CLocalizer& localizer) override;
  void InitPage() override;
  // The install type stored when no row is chosen.
  virtual int NothingChosenType() const { return -1; }

  int m_selection = -1;

 private:
  bool RowUsable(int row) const;
  OptionTable m_table;
  int m_textLine;
  int m_defaultType;
  bool m_hasExport;
  std::vector<int> m_hiddenControls;
  CClientPackageExport m_export;
};

// The kind of installation. Nothing stored: no row chosen and Next disabled until one is.
class CDlgInstallType : public COptionPage {
 public:
  CDlgInstallType();
  // Whether the user may install a server (an administrator of the server).
  void SetServerPermission(bool serverAdmin) { m_serverAllowed = serverAdmin; }
  bool CanLeaveWithNext() override;
  bool IsControlDisabled(int controlId) const override;

 protected:
  int NothingChosenType() const override { return 3; }

 private:
  bool m_serverAllowed = false;
};

// Repair, change of components or removal (texts of "DLG_CHANGE_REPAIR", switched by
// "DLG_REPAIR").
class CDlgRepair : public COptionPage {
 public:
  CDlgRepair();
  std::wstring GetName() const override;
};

// Repair or removal, when the language has no texts for the full repair page.
class CDlgRepairTruncated : public COptionPage {
 public:
  CDlgRepairTruncated();
};

// Update or removal of an earlier build; its line 1016 shows the installed build.
class CDlgUpdate : public COptionPage {
 public:
  CDlgUpdate();
  std::wstring BuildLine() const;
};

}  // namespace InstallGui
