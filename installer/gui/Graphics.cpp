#include "gui/Graphics.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>

namespace InstallGui::GuiSettings {

namespace {

void EnsureImageHandlers() {
  static bool done = false;
  if (!done) {
    wxInitAllImageHandlers();
    done = true;
  }
}

}  // namespace

CGraphics::CGraphics(RootProvider rootProvider) : m_root(std::move(rootProvider)) {}

CGraphics::~CGraphics() = default;

bool CGraphics::Load(DataStorage::IDataStorage* storage) {
  if (!storage) return false;
  try {
    CommonTools::SettingsNodePtr root, images;
    CommonTools::SettingsNodeListPtr list;
    if (!m_root || !m_root(root) || !root ||
        !root->GetChild(ScriptNames::Element::kImages, images) || !images->GetChildren(list))
      return false;
    int count = list->GetCount();
    for (int i = 0; i < count; ++i) {
      CommonTools::SettingsNodePtr item;
      if (!list->GetItem(i, item)) return false;
      std::wstring name = item->GetName();
      if (!name.empty() && name[0] == L'#') continue;  // a comment between the pictures
      int id = CommonTools::GetInt(item, ScriptNames::Attribute::kId, 0);
      std::wstring path = CommonTools::GetText(item, ScriptNames::Attribute::kPath);
      std::wstring extracted;
      if (!path.empty() && storage->ExtractFile(L"", path, extracted))
        AddImage(id, extracted);
      else
        CommonTools::LogLine(CommonTools::LogLevel::Warning,
                             L"don't extract graphical resources " + path);
    }
    return true;
  } catch (const CommonTools::SettingsError& e) {
    CommonTools::LogLine(CommonTools::LogLevel::Error,
                         L"CGraphics::Load() " + platform::FromUtf8(e.what()));
    return false;
  }
}

void CGraphics::Clear() { m_images.clear(); }

const wxImage* CGraphics::GetImage(int id) {
  auto it = m_images.find(id);
  return it == m_images.end() ? nullptr : it->second.image.get();
}

std::wstring CGraphics::GetPath(int id) {
  auto it = m_images.find(id);
  return it == m_images.end() ? std::wstring() : it->second.path;
}

void CGraphics::AddImage(int id, const std::wstring& path) {
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS || bytes.empty()) return;
  EnsureImageHandlers();
  wxLogNull quiet;  // an undecodable file is left out without a message box
  wxMemoryInputStream stream(bytes.data(), bytes.size());
  auto image = std::make_shared<wxImage>();
  if (!image->LoadFile(stream, wxBITMAP_TYPE_ANY) || !image->IsOk() || image->GetWidth() <= 0 ||
      image->GetHeight() <= 0)
    return;
  if (!image->HasAlpha()) image->InitAlpha();
  m_images[id] = Entry{image, path};
}

int CGraphics::GetIdAt(int index) {
  if (index < 0 || index >= static_cast<int>(m_images.size())) return -1;
  auto it = m_images.begin();
  std::advance(it, index);
  return it->first;
}

}  // namespace InstallGui::GuiSettings
