// The pictures of the install script: the children of its "Images" element, each an image file
// in the package archive with a numeric ID. They are unpacked into the archive's temporary
// folder, decoded and held in memory (32-bit with alpha), so the files may go afterwards.
#pragma once

#include "package/DataStorage.h"
#include "package/Settings.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

class wxImage;

namespace CommonTools {

class IGraphics {
 public:
  virtual ~IGraphics() = default;
  virtual bool Load(DataStorage::IDataStorage* storage) = 0;
  virtual void Clear() = 0;
  // The image with this ID, owned by the graphics set (valid until Clear), or null.
  virtual const wxImage* GetImage(int id) = 0;
  virtual std::wstring GetPath(int id) = 0;
  virtual void AddImage(int id, const std::wstring& path) = 0;
  virtual int GetCount() = 0;
  // The ID of entry `index` in ascending ID order; -1 out of range.
  virtual int GetIdAt(int index) = 0;
};

}  // namespace CommonTools

namespace InstallGui::GuiSettings {

class CGraphics : public CommonTools::IGraphics {
 public:
  using RootProvider = std::function<bool(CommonTools::SettingsNodePtr&)>;
  explicit CGraphics(RootProvider rootProvider);
  ~CGraphics() override;

  // Fails without a storage or without the "Images" element; images that cannot be unpacked
  // are logged and left out, files that cannot be decoded are left out silently.
  bool Load(DataStorage::IDataStorage* storage) override;
  void Clear() override;
  const wxImage* GetImage(int id) override;
  std::wstring GetPath(int id) override;
  // Decodes the file (a Windows path of the machine); an image with the same ID is replaced.
  void AddImage(int id, const std::wstring& path) override;
  int GetCount() override { return static_cast<int>(m_images.size()); }
  int GetIdAt(int index) override;

 private:
  struct Entry {
    std::shared_ptr<wxImage> image;
    std::wstring path;
  };
  RootProvider m_root;
  std::map<int, Entry> m_images;
};

}  // namespace InstallGui::GuiSettings
