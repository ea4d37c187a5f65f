// The progress display of the main window as the run sees it: a stage line, an item line and a
// bar counted in bytes (or in any unit the caller chooses), with the Escape key that cancels the
// run while progress is shown. No toolkit here: the main window's view draws a CProgressState,
// the scripted back-end drives one from the answer file, and a run without a window uses the
// silent one.
#pragma once

#include "package/DataStorage.h"

#include <cstdint>
#include <functional>
#include <string>

namespace InstallGui {

class IProgressDisplay : public DataStorage::IProgressSink {
 public:
  // Range of the bar: 0 to `count`.
  virtual void SetProgressRange(std::uint64_t count) = 0;
  // Shows the bar at `position` and arms Escape; with `wrap` a step past the end starts again
  // from 0 (for work nobody can count in advance).
  virtual void BeginProgress(std::uint64_t position, bool wrap) = 0;
  void StepProgress(std::uint64_t delta) override = 0;
  // The bar to its end.
  virtual void FillProgress() = 0;
  // Hides the bar and disarms Escape.
  virtual void EndProgress() = 0;
  // The stage line. `stageId` names the stage ("TEXT_INSTALL", ...; empty for none), `text` is
  // what the line shows in the current language.
  virtual void SetStageText(const std::wstring& stageId, const std::wstring& text) = 0;
  // The item line (a path or a name; the view shortens what does not fit).
  virtual void SetItemText(const std::wstring& text) = 0;
  void SetProgressText(const std::wstring& text) override { SetItemText(text); }
  // Whether Escape may cancel at all (cleared before a roll-back, which must not be cut short).
  virtual void SetEscapeAllowed(bool allowed) = 0;
  // What Escape does when it counts: the run installs a handler that asks the user and ends the
  // run (it may throw out of the progress call that noticed the key).
  virtual void SetEscapeHandler(std::function<void()> handler) = 0;
  // The end of the run: the window goes.
  virtual void DestroyMainWindow() = 0;
};

// The state behind a progress display and the rules that do not depend on drawing: the wrap
// of the bar, when Escape counts (between BeginProgress and EndProgress, with something in the
// item line, while allowed). Without a view it is the silent display of a run without a window.
class CProgressState : public IProgressDisplay {
 public:
  void SetProgressRange(std::uint64_t count) override { m_range = count; }
  void BeginProgress(std::uint64_t position, bool wrap) override;
  void StepProgress(std::uint64_t delta) override;
  void FillProgress() override { m_position = m_range; }
  void EndProgress() override;
  void SetStageText(const std::wstring& stageId, const std::wstring& text) override;
  void SetItemText(const std::wstring& text) override { m_itemText = text; }
  void SetEscapeAllowed(bool allowed) override { m_escapeAllowed = allowed; }
  void SetEscapeHandler(std::function<void()> handler) override { m_onEscape = std::move(handler); }
  void DestroyMainWindow() override { m_active = false; }

  // The key itself (a view calls it from its key handler, through PumpMessages): true when it
  // counted and the handler was called.
  bool PressEscape();
  // Dispatches what is pending; a view overrides it to run its event loop and see the key.
  virtual void PumpMessages() {}

  std::uint64_t Range() const { return m_range; }
  std::uint64_t Position() const { return m_position; }
  bool IsActive() const { return m_active; }
  bool IsEscapeAllowed() const { return m_escapeAllowed; }
  const std::wstring& StageId() const { return m_stageId; }
  const std::wstring& StageText() const { return m_stageText; }
  const std::wstring& ItemText() const { return m_itemText; }

 private:
  std::uint64_t m_range = 0;
  std::uint64_t m_position = 0;
  bool m_active = false;
  bool m_wrap = false;
  bool m_escapeAllowed = true;
  std::wstring m_stageId, m_stageText, m_itemText;
  std::function<void()> m_onEscape;
};

}  // namespace InstallGui
