#include "ui/MorlaneApp.h"

CMorlaneApp::CMorlaneApp()
    : m_restartManagerSupport(kRestartAllAspects), m_appId(L"Morlane.AppID.NoVersion") {}

bool CMorlaneApp::InitInstance() {
  if (!wxApp::OnInit()) return false;
  EnableTaskbarInteraction(false);
  SetRegistryKey(L"Local AppWizard-Generated Applications");
  return true;
}
