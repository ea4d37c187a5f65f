// The client attributes page of a client installation: the server the client works with, typed
// or chosen from the computers of the network (">>" scans the network once, then shows the list
// dialog; the list is kept by the run for a second showing). The scan keeps the windows alive
// between its network calls and stops on Escape.
#pragma once

#include "gui/pages/BasePage.h"
#include "package/ScriptVocabulary.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace InstallGui {

inline constexpr int kServerLabel = 1033;
inline constexpr int kServerEdit = 1034;
inline constexpr int kClientText = 1037;
inline constexpr int kBrowseComputers = 1038;
inline constexpr int kScanLine = 1040;
inline constexpr int kComputerListText = 1041;
inline constexpr int kComputerList = 1042;

using ComputerList = std::vector<std::wstring>;
// Lets pending events run; true when the person pressed Escape (the scan stops).
using ScanPump = std::function<bool()>;

// Walks the network from its root and lists every remote name that starts with "\\"
// (computers and their shares). False when the pump reported Escape.
bool ScanNetwork(ComputerList& list, const ScanPump& pump);
// Computer names only: "\\HOST\share" -> "HOST"; names equal without case to an earlier one go.
void NormalizeComputerList(ComputerList& list);

// The computer list dialog: the names in order, the first selected; OK or a double click gives
// the selected index.
class CDlgComputerSelect {
 public:
  explicit CDlgComputerSelect(const ComputerList& list) : m_list(list) {}
  const ComputerList& List() const { return m_list; }
  int Selection() const { return m_list.empty() ? -1 : m_selection; }
  void Select(int index) {
    if (index >= -1 && index < static_cast<int>(m_list.size())) m_selection = index;
  }
  // The dialog's texts: "TEXT", "BUTTON_OK", "BUTTON_CANCEL" of its section.
  static void Localize(CommonTools::ILanguages& languages, ILocalizedWindow& window);

 private:
  const ComputerList& m_list;
  int m_selection = 0;
};

class CDlgClientAttributes : public CBasePage {
 public:
  CDlgClientAttributes()
      : CBasePage(ScriptNames::Page::kClientAttributes, PageKind::ClientAttributes) {}

  // The run's list, kept across showings (none: the page keeps its own).
  void SetComputerList(std::shared_ptr<ComputerList> list) { m_list = std::move(list); }
  const std::shared_ptr<ComputerList>& Computers() const { return m_list; }

  // "ServerName": the server as typed; "Computer": a computer of the network, chosen from the
  // list as a person would (scanned when the list is empty); a name not in the list is refused.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override { return {L"ServerName", L"Computer"}; }
  bool IsFieldEditable(const std::wstring& name) const override { return !IsComputerField(name); }
  int TextControl() const override { return kClientText; }

  const std::wstring& ServerName() const { return m_serverName; }
  void SetServerName(std::wstring name) { m_serverName = std::move(name); }

  // ">>": makes sure the list is filled (a scan, when it is empty); false when the scan was
  // cancelled (the list is then empty and no list is shown).
  bool PrepareComputerList(const ScanPump& pump);
  // The list dialog's answer.
  void ChooseComputer(int index);

  void LoadSettings() override;
  void SaveSettings() override;

 protected:
  void LocalizePage(CLocalizer& localizer) override;

 private:
  static bool IsComputerField(const std::wstring& name);
  std::wstring m_serverName;
  std::shared_ptr<ComputerList> m_list;
};

}  // namespace InstallGui
