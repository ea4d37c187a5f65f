// The client installation: the client package of the script's CLIENT node found in the package,
// installed, repaired or removed by msiexec, the outcome judged by the registry, the client
// recorded among the installed products and counted on the server's share.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class ClientStep : public IStep {
 public:
  using IStep::IStep;
  // `node` is the script's root; the outcome of Process is kept (Outcome).
  void Install(const SettingsNodePtr& root, const std::wstring& basePath) override;
  void Remove(const SettingsNodePtr& root, const std::wstring& basePath) override;
  // 1 done (also for an ignored CLIENT node or a setup program in place of the package), 0
  // failed (nodes or package missing), 2 Back on its page.
  int Process(const SettingsNodePtr& root, bool remove, const std::wstring& basePath);
  int Outcome() const { return m_outcome; }
  // The client package of the script's CLIENT node, extracted; empty when there is none.
  std::wstring FindPackage();
  // Whether the registry entries of CLIENT/UNINSTALLER are there (true when none are described).
  bool StillRegistered();
  // The client product's code: from the first key of CLIENT/UNINSTALLER/REGISTRY, the key name
  // from its first "{" on; `packagePath` when there is none.
  std::wstring ProductCode(const SettingsNodePtr& client, const std::wstring& packagePath);
  // The counter of clients on the server's share, one up for an installation, one down for a
  // removal.
  void UpdateCounter(const SettingsNodePtr& client, const std::wstring& serverPath, bool remove);

 private:
  // The msiexec command line of the client package: install, repair or removal, with the
  // server's name and share as properties (a value holding a quote ends the run).
  std::wstring MsiexecLine(const SettingsNodePtr& client, const std::wstring& package, bool remove,
                           const std::wstring& serverName);
  // Runs msiexec with `line`, the stage line showing; the server path of the installed client
  // as its registry value says (`serverName` where none is checked), empty for a removal.
  std::wstring RunMsiexec(const std::wstring& line, bool remove, const std::wstring& serverName);

  int m_outcome = 0;
};

}  // namespace InstallSteps
