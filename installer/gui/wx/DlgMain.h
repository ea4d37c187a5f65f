// The installer's main window: a borderless window showing the background picture of the
// current language, the progress bar and two lines drawn over the picture (the stage above, the
// item the run works on), in the script's colour. It lives from the set-up of a run to its
// clean-up; the pages are modal dialogs in front of it. Every long operation reports through
// it, and it keeps itself alive by letting pending events run from the progress calls; Escape
// during progress asks whether to cancel the run (its key handler only notes the key: the
// question and the cancel happen in the run's own call, never inside an event handler).
#pragma once

#include "gui/Localizer.h"
#include "gui/MainWindowModel.h"
#include "gui/ProgressDisplay.h"
#include "gui/UiBackend.h"

#include <wx/dialog.h>
#include <wx/font.h>
#include <wx/icon.h>

class wxImage;

namespace InstallGui {

class CBarWindow;

class CDlgMain : public wxDialog, public CProgressState, public ILocalizedWindow {
 public:
  // The window's controls, as the languages know them.
  static constexpr int kStageLine = 1025;
  static constexpr int kItemLine = 1040;
  static constexpr int kProgressBar = 1029;
  static constexpr int kCancelButton = 104;

  explicit CDlgMain(const MainWindowRequest& request);
  ~CDlgMain() override;

  // Shows the window (made on first use), hides the bar, reads "ProgressBar" and localises.
  void PrepareWnd();
  // The title, the background and the placement from DLG_PROGRESS of the current language.
  void LocalizeResources();
  // The screen the window is placed on: a part of a person's display (screen coordinates), or
  // empty for the machine's screen (GetSystemMetrics) as the emulated machine has it.
  void UseScreen(const PixelRect& screen) { m_screen = screen; }

  // The progress display: the state's rules, shown on the bar and drawn over the picture.
  void SetProgressRange(std::uint64_t count) override;
  void BeginProgress(std::uint64_t position, bool wrap) override;
  void StepProgress(std::uint64_t delta) override;
  void FillProgress() override;
  void EndProgress() override;
  void SetStageText(const std::wstring& stageId, const std::wstring& text) override;
  void SetItemText(const std::wstring& text) override;
  // Lets pending events run (the window stays alive during long work); an Escape noted by the
  // key handler is acted on here, in the run's own call.
  void PumpMessages() override;
  // The window goes with the run's end through its back-end; the state stops here.
  void DestroyMainWindow() override { CProgressState::DestroyMainWindow(); }

  // ILocalizedWindow.
  void SetTitle(const std::wstring& text) override { wxDialog::SetTitle(text); }
  bool HasControl(int controlId) override { return controlId == kCancelButton; }
  void SetControlText(int controlId, const std::wstring& text) override;

  const MainWindowLayout& Layout() const { return m_layout; }
  // What the bar shows (0 to kBarSteps) and whether it is shown.
  int BarValue() const;
  bool BarShown() const;
  static constexpr int kBarSteps = 10000;
  const ProgressBarSettings& BarSettings() const { return m_barSettings; }
  bool HasBackground() const { return m_background != nullptr; }
  // The program's icon resource shown when the script's icon file gives none (0: the file's).
  int IconResource() const { return m_iconResource; }
  const std::wstring& CancelText() const { return m_cancelText; }
  // Notes an Escape key as its handler does (for tests that cannot type).
  void NoteEscape() { m_escapePressed = true; }
  // The text of the item line as shown (shortened to fit).
  const std::wstring& ShownItem() const { return ItemText(); }

 private:
  void ArrangeControls();
  bool HasVisibleChildWindow() const;
  void OnPaint(class wxPaintEvent& event);
  void RefreshLine(const PixelRect& r);
  void ShowBarPosition();

  MainWindowRequest m_request;
  ProgressBarSettings m_barSettings;
  MainWindowLayout m_layout;
  PixelRect m_screen;
  const wxImage* m_background = nullptr;
  CBarWindow* m_bar = nullptr;
  wxFont m_stageFont, m_itemFont;
  wxIcon m_icon;
  int m_iconResource = 0;
  std::wstring m_cancelText;
  bool m_escapePressed = false;
  bool m_pumping = false;
};

}  // namespace InstallGui
