// One run of msiexec over a package: the properties, the directories, the choice of features
// and components, the execute sequence with its standard and custom actions, the table actions
// and the product's registration. Inside the msiexec library only (Msiexec.h is its face).
//
// What a product wrote is kept, per component, as the product's list of items in its install
// properties: a later change of features or the removal takes back exactly those of the
// components that go, and never what another product still holds (the component registration
// under the Installer's Components key and the SharedDLLs counts say so).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "msiexec/Condition.h"
#include "msiexec/MsiDatabase.h"
#include "msiexec/Msiexec.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace Msi {

// Today as the list of programs keeps it ("20261210"), and the time of day for the log.
std::string LocalDate();
std::wstring LogClock();

// The log of /l: the engine's lines with the process, the thread and the time in front
// ("MSI (s) (1C:2D) [10:15:23:456]: "), raw lines as they are; verbose lines are written only
// with "v" among the flags, "+" appends to the file.
class RunLog {
 public:
  void Line(const std::wstring& text, bool verbose = true);
  void Raw(const std::wstring& text, bool verbose = false);
  void WriteTo(const std::wstring& path, const std::wstring& flags) const;

 private:
  std::vector<std::wstring> m_lines;
  std::vector<bool> m_verbose;
};

// One thing a component put on the machine.
struct Item {
  std::wstring component;
  wchar_t kind = 0;  // see Engine::kItem...
  std::vector<std::wstring> fields;
  std::wstring Encode() const;
  static bool Decode(const std::wstring& text, Item& item);
  bool operator==(const Item& o) const {
    return component == o.component && kind == o.kind && fields == o.fields;
  }
};

struct ComponentInfo {
  std::wstring name, guid, directory, condition, keyPath;
  int attributes = 0;
  bool win64 = false;
  int installed = kStateAbsent;  // for this product
  int action = kStateUnknown;    // Local, Absent, or Unknown for no change
  bool reinstall = false;
};

struct FeatureInfo {
  std::wstring name, parent;
  int level = 1;
  int attributes = 0;
  int installed = kStateAbsent;
  int action = kStateUnknown;
  std::vector<std::wstring> components;
};

class Engine {
 public:
  // Item kinds.
  static constexpr wchar_t kFile = L'F';       // path
  static constexpr wchar_t kLink = L'S';       // path of a shortcut
  static constexpr wchar_t kFolder = L'D';     // a folder this product made
  static constexpr wchar_t kKey = L'K';        // view, root, key: a key this product made
  static constexpr wchar_t kValue = L'V';      // view, root, key, name
  static constexpr wchar_t kTree = L'T';       // view, root, key: removed whole at the removal
  static constexpr wchar_t kIni = L'I';        // path, section, key, value, action
  static constexpr wchar_t kEnv = L'E';        // scope, name, part, mode
  static constexpr wchar_t kSharedDll = L'R';  // view, path: a SharedDLLs count this product holds
  // Component attributes.
  static constexpr int kComponentSharedDll = 0x0008;
  static constexpr int kComponentPermanent = 0x0010;

  Engine(const Options& options, RunLog& log) : m_options(options), m_log(log) {}
  int Run();

 private:
  // Set-up (Engine.cpp).
  bool OpenPackage(const std::wstring& windowsPath);
  bool LoadInstalledState();
  void SetProperties();
  bool CheckSupported();
  void ResolveDirectories();
  bool Settle();
  std::wstring Directory(const std::wstring& id, int depth = 0);
  void ReadFeaturesAndComponents();
  void ChooseFeatures();
  int RunSequence();
  int StandardAction(const std::wstring& action);
  int CustomAction(const std::wstring& action);
  int AppSearch();
  void FindRelatedProducts();
  int RemoveExistingProducts();
  // The product codes registered under an upgrade code.
  std::vector<std::wstring> RelatedProducts(const std::wstring& upgradeCode) const;
  int Finish(int result);
  void Register();
  void Unregister();
  void RegisterComponents();
  void Rollback();
  ConditionResult Evaluate(const std::wstring& condition) const;

  // Table actions (Actions.cpp).
  bool InstallFiles();
  void WriteRegistry();
  void RemoveRegistry();
  void CreateShortcuts();
  void CreateFolders();
  void RemoveFileTable(bool installing);
  void WriteIni();
  void WriteEnvironment();
  void MoveFiles();
  void DuplicateFiles();
  // Takes back the items of the kinds given whose components go.
  void RemoveItems(const std::wstring& kinds);
  bool RemoveItem(const Item& item);
  bool ComponentHeldElsewhere(const std::wstring& component) const;
  void HandOver(const Item& item);
  std::wstring CreateFolderFor(const std::wstring& component, const std::wstring& folder);
  void CreateKeyFor(const std::wstring& component, bool win64, platform::HKEY root,
                    const std::wstring& rootText, const std::wstring& key);
  void Add(Item item);
  bool Going(const std::wstring& component) const;
  bool Coming(const std::wstring& component) const;
  const ComponentInfo* Component(const std::wstring& name) const;
  platform::HKEY RootOf(const std::wstring& root) const;
  std::wstring RootText(const std::wstring& root) const;
  std::wstring IoPath(const std::wstring& path) const;
  bool SystemPlace(const std::wstring& folder) const;

  std::wstring Format(const std::wstring& text) const {
    return FormatText(text, m_properties, m_filePaths, m_componentDirs);
  }
  std::wstring Property(const std::wstring& name) const {
    auto it = m_properties.find(name);
    return it == m_properties.end() ? L"" : it->second;
  }
  void SetProperty(const std::wstring& name, const std::wstring& value);

  const Options& m_options;
  RunLog& m_log;
  Database m_database;
  std::wstring m_packagePath;  // Windows path of the package
  std::wstring m_productCode;
  bool m_installed = false;  // the product is on the machine
  bool m_removing = false;   // the whole product goes
  bool m_perMachine = true;
  bool m_package64 = false;
  bool m_directoriesResolved = false;
  bool m_rebootNeeded = false;
  std::map<std::wstring, std::wstring> m_properties;
  std::map<std::wstring, std::wstring> m_directoryOverrides;
  std::map<std::wstring, std::wstring> m_rememberedDirectories;  // of the product's record
  std::vector<std::wstring> m_badNames;  // folders and files whose names would leave their place
  std::map<std::wstring, std::wstring> m_directories;  // resolved, with a final "\"
  std::map<std::wstring, std::wstring> m_filePaths;    // File key -> installed path
  std::map<std::wstring, std::wstring> m_componentDirs;
  std::map<std::wstring, ComponentInfo> m_components;
  std::map<std::wstring, FeatureInfo> m_features;
  std::vector<std::wstring> m_featureOrder;
  std::vector<Item> m_items;    // what the product holds (before this run, then updated)
  std::vector<Item> m_written;  // what this run added (undone if the run fails)
  std::set<std::wstring, platform::NoCaseLess> m_keptFiles;  // still counted in SharedDLLs
};

}  // namespace Msi
