// The back-end for people: real wx message boxes, file dialogs and a plain page window.
// Needs a running wx GUI application.
#pragma once

#include "gui/UiBackend.h"

namespace InstallGui {

class WxBackend : public IUiBackend {
 public:
  int ShowMessageBox(const MessageRequest& request) override;
  std::optional<std::wstring> ShowFileDialog(const FileDialogRequest& request) override;
  PageButton RunPageModal(IPage& page) override;
  bool IsScripted() const override { return false; }
};

// Converts the platform's filter ("Log-Files (*.log)|*.log|All Files (*.*)|*.*|") to wx's form
// (the same pairs without the final bar).
std::wstring WxFilterFromWindowsFilter(const std::wstring& filter);

}  // namespace InstallGui
