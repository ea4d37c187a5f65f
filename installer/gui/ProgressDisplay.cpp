#include "gui/ProgressDisplay.h"

namespace InstallGui {

void CProgressState::BeginProgress(std::uint64_t position, bool wrap) {
  m_active = true;
  m_wrap = wrap;
  m_position = position;
  PumpMessages();
}

void CProgressState::StepProgress(std::uint64_t delta) {
  PumpMessages();
  std::uint64_t p = m_position;
  if (m_wrap && m_range < p + delta) p = 0;
  m_position = p + delta;
}

void CProgressState::EndProgress() {
  m_active = false;
  PumpMessages();
}

void CProgressState::SetStageText(const std::wstring& stageId, const std::wstring& text) {
  m_stageId = stageId;
  m_stageText = text;
}

bool CProgressState::PressEscape() {
  if (!m_active || !m_escapeAllowed || m_itemText.empty() || !m_onEscape) return false;
  m_onEscape();
  return true;
}

}  // namespace InstallGui
