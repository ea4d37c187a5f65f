// The languages of the install script: the children of its "Localization" element, in the
// order they are offered, and the current one.
#pragma once

#include "package/Settings.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace CommonTools {

class ILanguages {
 public:
  virtual ~ILanguages() = default;
  virtual bool Load() = 0;
  virtual bool Clear() = 0;
  virtual unsigned GetCount() = 0;
  virtual std::optional<std::wstring> GetTitle(unsigned index) = 0;
  virtual std::optional<std::wstring> GetSystemName(unsigned index) = 0;
  virtual int GetId(unsigned index) = 0;
  // The index of the first language with this ID; 0 when none has it.
  virtual unsigned FindById(int id) = 0;
  virtual void SetCurrent(unsigned index) = 0;
  virtual unsigned GetCurrent() = 0;
  virtual bool GetCurrentNode(SettingsNodePtr& node) = 0;
};

}  // namespace CommonTools

namespace InstallGui::GuiSettings {

// Reads the languages from the script's root, which `rootProvider` hands out when asked.
class CLanguages : public CommonTools::ILanguages {
 public:
  using RootProvider = std::function<bool(CommonTools::SettingsNodePtr&)>;
  explicit CLanguages(RootProvider rootProvider) : m_root(std::move(rootProvider)) {}

  // Each language element needs "Title" and "SystemName" that are not empty and an "ID"
  // that is present and not -1; "Localization" must hold language elements only, at least
  // one. Records read before a failure stay.
  bool Load() override;
  bool Clear() override;
  unsigned GetCount() override { return static_cast<unsigned>(m_records.size()); }
  std::optional<std::wstring> GetTitle(unsigned index) override;
  std::optional<std::wstring> GetSystemName(unsigned index) override;
  int GetId(unsigned index) override;
  unsigned FindById(int id) override;
  void SetCurrent(unsigned index) override;
  unsigned GetCurrent() override { return m_current; }
  bool GetCurrentNode(CommonTools::SettingsNodePtr& node) override;

 private:
  struct Record {
    int id = -1;
    std::wstring title;
    std::wstring systemName;
  };
  bool GetLocalization(CommonTools::SettingsNodePtr& node);

  RootProvider m_root;
  std::vector<Record> m_records;
  unsigned m_current = 0;
};

}  // namespace InstallGui::GuiSettings
