#pragma once
// The application object a host program may derive its own from. It declares the restart
// support and the application ID the viewer registers with the desktop, and its start-up turns
// the task bar's per-window interaction off and names the settings key. The library creates no
// object of this class itself; a host installs it with wxApp::SetInstance before the toolkit
// starts.

#include "MorlaneExport.h"

#include <wx/app.h>

#include <string>

class MORLANE_API CMorlaneApp : public wxApp {
 public:
  // Every aspect of restart support (the six flags of the restart manager).
  static constexpr unsigned kRestartAllAspects = 0x3F;

  CMorlaneApp();

  // The toolkit's start-up (wxApp::OnInit) and then the viewer's own; true when both succeed.
  virtual bool InitInstance();
  bool OnInit() override { return InitInstance(); }

  unsigned GetRestartManagerSupport() const { return m_restartManagerSupport; }
  const std::wstring& GetAppId() const { return m_appId; }
  bool GetTaskbarInteraction() const { return m_taskbarInteraction; }
  const std::wstring& GetRegistryKey() const { return m_registryKey; }

 protected:
  void EnableTaskbarInteraction(bool enable) { m_taskbarInteraction = enable; }
  void SetRegistryKey(const std::wstring& key) { m_registryKey = key; }

 private:
  unsigned m_restartManagerSupport = 0;
  std::wstring m_appId;
  bool m_taskbarInteraction = true;
  std::wstring m_registryKey;
};
