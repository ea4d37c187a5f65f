// A clickable picture strip of a page: the picture of the page's "Banner" of its position drawn
// so that it covers the strip, a hand cursor, and on a click the banner's address opened
// through the machine's shell.
#pragma once

#include "gui/pages/BannerModel.h"

#include <wx/window.h>

class wxImage;

namespace CommonTools {
class IGraphics;
}

namespace InstallGui {

class CBanner : public wxWindow {
 public:
  // A child of `placeholder` covering it. Create finds its picture; false (and the window
  // should go) when the section has no banner of this position or its picture is missing.
  explicit CBanner(wxWindow* placeholder);
  bool Configure(CommonTools::ILanguages& languages, CommonTools::IGraphics& graphics,
                 const std::wstring& sectionName, BannerPosition position);
  const std::wstring& Url() const { return m_url; }
  // What a click does: the address opened when it is one.
  void Click();
  // A picture: the keyboard's focus passes it by.
  bool AcceptsFocus() const override { return false; }

 private:
  void OnPaint(class wxPaintEvent& event);
  const wxImage* m_image = nullptr;
  std::wstring m_url;
};

}  // namespace InstallGui
