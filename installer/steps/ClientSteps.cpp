// The client installation: the client package of the script's CLIENT node found in the package,
// installed, repaired or removed by msiexec, the outcome judged by the registry, the client
// recorded among the installed products and counted on the server's share.
#include "steps/ClientSteps.h"

#include "app/Tools.h"
#include "gui/UiBackend.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "steps/ExecSteps.h"
#include "steps/FileUtilities.h"
#include "steps/RegistryStep.h"

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodePtr;
using CommonTools::Variant;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;

namespace {

constexpr const wchar_t* kMsiexec = L"msiexec.exe";
constexpr const wchar_t* kClients = L"Clients";
constexpr std::size_t kRememberedValueLimit = 1000;

// "\\SERVER" of a UNC path (up to the next "\" or "/"), else the whole path.
std::wstring ServerPrefix(const std::wstring& serverPath) {
  if (serverPath.rfind(L"\\\\", 0) != 0) return serverPath;
  std::size_t end = serverPath.find_first_of(L"\\/", 2);
  return serverPath.substr(0, end);
}

// The server name of a UNC path ("\\SERVER\share\..." -> "SERVER"); empty for any other path.
std::wstring ServerNameOf(const std::wstring& path) {
  if (path.rfind(L"\\\\", 0) != 0) return L"";
  std::size_t end = path.find_first_of(L"\\/", 2);
  return path.substr(2, end == std::wstring::npos ? std::wstring::npos : end - 2);
}

// One public property of the msiexec line: a space, the name, "=" and the value in quotes.
std::wstring Property(const wchar_t* name, const std::wstring& value) {
  return L" " + std::wstring(name) + L"=\"" + value + L"\"";
}

// The client value that a repair takes away before msiexec runs, so that the check afterwards
// sees whether msiexec wrote it again; written back on every way out that left it missing or
// empty (msiexec not started, the run cancelled, a repair that did not write it).
class RemovedClientValue {
 public:
  RemovedClientValue(const std::wstring& key, const std::wstring& name) : m_key(key), m_name(name) {
    platform::RegKey opened;
    if (opened.Open(platform::HKEY_LOCAL_MACHINE, m_key,
                    platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
      return;
    std::wstring value;
    if (opened.QueryString(m_name, value) == platform::ERROR_SUCCESS) {
      if (value.size() > kRememberedValueLimit) value.resize(kRememberedValueLimit);
      m_value = value;
      m_held = true;
    }
    opened.DeleteValue(m_name);
  }
  ~RemovedClientValue() { Restore(); }
  RemovedClientValue(const RemovedClientValue&) = delete;
  RemovedClientValue& operator=(const RemovedClientValue&) = delete;

  // Writes the remembered value back unless the value is there again with a text.
  void Restore() {
    if (!m_held) return;
    m_held = false;
    platform::RegKey opened;
    if (opened.Open(platform::HKEY_LOCAL_MACHINE, m_key,
                    platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
      return;
    std::wstring now;
    if (opened.QueryString(m_name, now) == platform::ERROR_SUCCESS && !now.empty()) return;
    opened.SetString(m_name, m_value, platform::REG_SZ);
  }

 private:
  std::wstring m_key, m_name, m_value;
  bool m_held = false;
};

// The stage line during the msiexec run, cleared on every way out.
class ClientStage {
 public:
  ClientStage(const std::wstring& id, const std::wstring& fallback) {
    std::wstring text = GetGuiTools().GetMessage(id);
    if (text.empty()) text = fallback;
    GetGuiTools().MainWindow().SetStageText(id, text);
  }
  ~ClientStage() { GetGuiTools().MainWindow().SetStageText(L"", L""); }
  ClientStage(const ClientStage&) = delete;
  ClientStage& operator=(const ClientStage&) = delete;
};

}  // namespace

std::wstring ClientStep::FindPackage() {
  SettingsNodePtr root, client, exec;
  try {
    if (!GetInstallTools().GetScriptRoot(root) || !root) return L"";
    if (!root->GetChild(Element::kClient, client) || !client) return L"";
    if (m_ctx.IsIgnored(client)) return L"";
    if (!client->GetChild(Element::kExec, exec) || !exec) return L"";
    const std::wstring path = ExecStep(m_ctx).ProgramOfNode(exec);
    if (path.empty()) {
      GetGuiTools().ShowText(
          L"CInstallManager::GetMSI MSI-file is not found in install packege\nApply to developer "
          L"company",
          InstallGui::MB_ICONINFORMATION);
      return L"";
    }
    std::wstring extracted;
    if (!m_ctx.Storage() || !m_ctx.Storage()->ExtractFile(L"", path, extracted)) {
      const std::wstring target =
          CombinePath(m_ctx.Storage() ? m_ctx.Storage()->GetTempFolder() : L"", path);
      Log(LogLevel::Warning, L"CInstallManager::GetMSI File %s is not found in install packege",
          target);
      return L"";
    }
    if (!platform::PathFileExistsW(extracted)) {
      Log(LogLevel::Error, L"CInstallManager::GetMSI file %s is not found", extracted);
      return L"";
    }
    return extracted;
  } catch (const CommonTools::SettingsError&) {
    return L"";
  }
}

bool ClientStep::StillRegistered() {
  SettingsNodePtr root, client, uninstaller;
  try {
    if (!GetInstallTools().GetScriptRoot(root) || !root) return true;
    if (!root->GetChild(Element::kClient, client) || !client) return true;
    if (!client->GetChild(Element::kUninstaller, uninstaller) || !uninstaller) return true;
    return RegistryStep(m_ctx).Check(uninstaller);
  } catch (const CommonTools::SettingsError&) {
    return true;
  }
}

std::wstring ClientStep::ProductCode(const SettingsNodePtr& client,
                                     const std::wstring& packagePath) {
  SettingsNodePtr uninstaller, registry;
  if (!client->GetChild(Element::kUninstaller, uninstaller) || !uninstaller) return packagePath;
  if (!uninstaller->GetChild(Element::kRegistry, registry) || !registry) return packagePath;
  CommonTools::SettingsNodeListPtr keys;
  if (!registry->GetChildren(keys) || !keys) return packagePath;
  for (int i = 0; i < keys->GetCount(); ++i) {
    SettingsNodePtr key;
    if (!keys->GetItem(i, key) || !key) continue;
    const std::wstring name = key->GetName();
    if (name.empty() || name[0] == L'#') continue;  // comments and text
    const std::wstring keyName = m_ctx.ReadAttribute(key, Attribute::kKeyName, L"", true);
    std::size_t brace = keyName.find(L'{');
    return brace == std::wstring::npos ? packagePath : keyName.substr(brace);
  }
  return packagePath;
}

std::wstring ClientStep::MsiexecLine(const SettingsNodePtr& client, const std::wstring& package,
                                     bool remove, const std::wstring& serverName) {
  std::wstring share, line;
  if (!remove && m_ctx.DetectedAction() != kRepair) {
    share = m_ctx.ReadAttribute(client, Attribute::kShare, L"", false);
    Log(LogLevel::Info, L"Client install: Share folder = %s", share);
    line = L"/i " + package + L" /qn";
  } else {
    const std::wstring code = ProductCode(client, package);
    if (!remove) {
      share = m_ctx.ReadAttribute(client, Attribute::kShare, L"", false);
      line = L"/i" + code + L" /qn REINSTALLMODE=vems REINSTALL=ALL";
    } else {
      line = L"/x " + code + L" /qn";
    }
  }
  if (!remove) {
    // A quote in a value would end the property early and hand msiexec the rest as switches.
    for (const std::wstring* value : {&serverName, static_cast<const std::wstring*>(&share)}) {
      if (value->find(L'"') != std::wstring::npos) {
        Log(LogLevel::Error, L"Client install: the value %s holds a double quote and is refused",
            *value);
        RaiseResult(irErrorDuringInstall);
      }
    }
    line += Property(L"TL_SERVER_NAME", serverName) + Property(L"TL_SHARE_FOLDER", share);
  }

  return line;
}

std::wstring ClientStep::RunMsiexec(const std::wstring& line, bool remove,
                                    const std::wstring& serverName) {
  const std::wstring& clientKey = m_ctx.CommonData().projectPathKey;
  const std::wstring& clientValue = m_ctx.CommonData().projectPathValue;
  const bool checked = !clientKey.empty() && !clientValue.empty();
  std::wstring serverPath;
  {
    ClientStage stage(remove ? L"UninstallClient" : L"InstallClient",
                      remove ? L"Please wait... Client uninstallation is going ..."
                             : L"Please wait... Client installation is going ...");
    std::unique_ptr<RemovedClientValue> removed;
    if (!remove && m_ctx.DetectedAction() == kRepair && checked) {
      Log(LogLevel::Info, L"Remove value %s in RegKey %s", clientValue, clientKey);
      removed = std::make_unique<RemovedClientValue>(clientKey, clientValue);
    }
    if (!ExecStep(m_ctx).Start(kMsiexec, line, false, true)) RaiseResult(irErrorDuringInstall);

    if (!remove) {
      if (checked) {
        platform::RegKey opened;
        if (opened.Open(platform::HKEY_LOCAL_MACHINE, clientKey,
                        platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS) {
          Log(LogLevel::Error,
              L"Client install: msiexec.exe is not finished correctly. Product key %s is not "
              L"found in Registry",
              clientKey);
          RaiseResult(irErrorDuringInstall);
        }
        std::wstring value;
        opened.QueryString(clientValue, value);
        if (value.empty()) {
          if (removed) removed->Restore();
          Log(LogLevel::Error,
              L"Client repair: msiexec.exe is not finished correctly. Product attribute "
              L"'%s\\\\Server Path' is not detected in Registry",
              clientKey);
          RaiseResult(irErrorDuringInstall);
        }
        serverPath = value;
      } else {
        serverPath = serverName;
      }
    }
  }

  return serverPath;
}

int ClientStep::Process(const SettingsNodePtr& root, bool remove, const std::wstring&) {
  if (!m_ctx.Storage() || !root) return 0;
  SettingsNodePtr client, exec;
  if (!root->GetChild(Element::kClient, client) || !client) {
    Log(LogLevel::Info, L"Client install: NODE <CLIENT> is not found");
    return 0;
  }
  if (m_ctx.IsIgnored(client)) return 1;
  if (!client->GetChild(Element::kExec, exec) || !exec) {
    Log(LogLevel::Info, L"Client install: NODE <EXEC> is not found");
    return 0;
  }
  const std::wstring path = ExecStep(m_ctx).ProgramOfNode(exec);
  if (path.empty()) {
    Log(LogLevel::Error, L"Client install: expect exe-file");
    return 0;
  }
  std::wstring package;
  if (!m_ctx.Storage()->ExtractFile(L"", path, package)) {
    Log(LogLevel::Info, L"Client install: file %s is not extracted from archive", path);
    return 0;
  }
  if (!platform::PathFileExistsW(package)) {
    Log(LogLevel::Error, L"Client install: file %s is not found", package);
    return 0;
  }
  if (!platform::EqualsNoCase(platform::PathFindExtensionW(package), L".msi")) {
    // A setup program of its own: it runs as any program step does.
    ExecStep(m_ctx).Apply(exec, remove, L"");
    return 1;
  }

  // The server this client works with.
  const bool repairing = m_ctx.DetectedAction() == kRepair || m_ctx.DetectedAction() == kOnlyUpdate;
  if (!remove && repairing) {
    std::wstring recorded;
    if (m_ctx.RecordedFolder(recorded)) {
      const std::wstring server = ServerNameOf(recorded);
      if (!server.empty()) m_ctx.Settings()->Set(Attribute::kServerName, Variant(server));
    }
  }
  std::wstring serverName;
  if (!remove) {
    serverName = m_ctx.Settings()->GetText(Attribute::kServerName);
    if (serverName.empty() || !repairing) {
      const InstallGui::PageButton button = m_ctx.ShowPage(ScriptNames::Page::kClientAttributes);
      if (button == InstallGui::PageButton::Cancel) {
        Log(LogLevel::Info, L"Client install: Get attributes. Press CANCEL- or ESC-button");
        RaiseResult(irCancelled);
      }
      if (button == InstallGui::PageButton::Back) {
        Log(LogLevel::Info, L"Client install: Get attributes. Press BACK-button");
        return 2;
      }
      serverName = m_ctx.Settings()->GetText(Attribute::kServerName);
    }
  }

  const std::wstring line = MsiexecLine(client, package, remove, serverName);
  const std::wstring serverPath = RunMsiexec(line, remove, serverName);
  const std::wstring& clientKey = m_ctx.CommonData().projectPathKey;
  // The server whose counter counts this client.
  std::wstring counted = serverPath;
  if (!remove) {
    m_ctx.RecordProduct(kClient, serverPath);
    ExecStep(m_ctx).Redistributables(root, false);
    m_ctx.ProcessAdditional(root, L"", false);
  } else {
    platform::RegKey opened;
    if (!clientKey.empty() &&
        opened.Open(platform::HKEY_LOCAL_MACHINE, clientKey,
                    platform::KEY_READ | platform::KEY_WRITE) == platform::ERROR_SUCCESS) {
      Log(LogLevel::Error,
          L"Client install: msiexec.exe is not finished correctly\nProduct key %s is detected in "
          L"Registry",
          clientKey);
      RaiseResult(irErrorDuringInstall);
    }
    Log(LogLevel::Info, L"Remove product %s version %i", m_ctx.ProductData().pv,
        m_ctx.ProductData().version);
    std::wstring recorded;
    if (m_ctx.RecordedFolder(recorded)) counted = recorded;
    m_ctx.ForgetProduct();
  }
  const std::wstring recordPath = m_ctx.RecordPath();
  if (!m_ctx.SaveRecord(recordPath))
    Log(LogLevel::Error, L"Can't save info about installed products: %s", recordPath);

  if (!counted.empty()) UpdateCounter(client, counted, remove);
  return 1;
}

void ClientStep::UpdateCounter(const SettingsNodePtr& client, const std::wstring& serverPath,
                               bool remove) {
  Log(LogLevel::Info, L"increase\\\\decrease number of clients -------------------");
  std::wstring fileName = m_ctx.ReadAttribute(client, Attribute::kFile, L"", false);
  if (fileName.empty()) fileName = platform::PathFindFileNameW(m_ctx.RecordPath());
  const std::wstring share = m_ctx.ReadAttribute(client, Attribute::kShare, L"", false);
  const std::wstring file = ServerPrefix(serverPath) + L"\\" + share + L"\\" + fileName;
  Log(LogLevel::Info, L"update number of clients in %s", file);
  if (!platform::PathFileExistsW(file)) return;  // a missing file is left alone
  Log(LogLevel::Info, L"File %s is found", file);
  CommonTools::CXmlSettings counter;
  if (!counter.Load(file)) {
    Log(LogLevel::Info, L"File %s is not loaded", file);
    return;
  }
  SettingsNodePtr counterRoot, install;
  if (!counter.GetRoot(counterRoot) || !counterRoot) {
    Log(LogLevel::Info, L"File %s is not correct", file);
    return;
  }
  Log(LogLevel::Info, L"File %s is loaded", file);
  Log(LogLevel::Info, L"File %s is correct", file);
  try {
    if (!counterRoot->GetChild(Element::kInstall, install) || !install) {
      Log(LogLevel::Info, L"create INSTALL tag in %s", file);
      if (!counterRoot->CreateChild(Element::kInstall, install) || !install) return;
    }
    int n = 0;
    std::wstring text = CommonTools::GetText(install, kClients, L"");
    if (!text.empty()) n = Variant(text).toInt();
    Log(LogLevel::Info, L"numberClients = %i", n);
    if (!remove && m_ctx.DetectedAction() == kInstall)
      ++n;
    else if (remove && n > 0)
      --n;
    else
      return;
    install->RemoveAttribute(kClients);
    if (n > 0) {
      install->SetAttribute(kClients, Variant(n));
      Log(LogLevel::Info, L"change numberClients = %i", n);
    }
  } catch (const CommonTools::SettingsError&) {
    Log(LogLevel::Info, L"File %s is not correct", file);
    return;
  }
  Log(LogLevel::Info, L"Save file %s", file);
  Log(LogLevel::Info, counter.Save(file) ? L"Save file %s is OK" : L"Save file %s is FALSE", file);
}

void ClientStep::Install(const SettingsNodePtr& root, const std::wstring& basePath) {
  m_outcome = Process(root, false, basePath);
}

void ClientStep::Remove(const SettingsNodePtr& root, const std::wstring& basePath) {
  m_outcome = Process(root, true, basePath);
}

}  // namespace InstallSteps
