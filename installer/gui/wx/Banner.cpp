#include "gui/wx/Banner.h"

#include "gui/Graphics.h"
#include "gui/wx/Drawing.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

#include <wx/dcbuffer.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/utils.h>

namespace InstallGui {

CBanner::CBanner(wxWindow* placeholder)
    : wxWindow(placeholder, wxID_ANY, wxPoint(0, 0), placeholder->GetClientSize()) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  SetCursor(wxCursor(wxCURSOR_HAND));
  Bind(wxEVT_PAINT, &CBanner::OnPaint, this);
  Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
    e.Skip();
    Click();
  });
}

bool CBanner::Configure(CommonTools::ILanguages& languages, CommonTools::IGraphics& graphics,
                        const std::wstring& sectionName, BannerPosition position) {
  BannerConfig config;
  if (!FindBanner(languages, sectionName, position, config)) return false;
  m_url = config.url;
  m_image = graphics.GetImage(config.imageId);
  return m_image != nullptr;
}

void CBanner::Click() {
  wxBusyCursor wait;
  if (platform::PathIsURLW(m_url)) platform::ShellExecuteW(L"open", m_url, platform::SW_SHOW);
}

void CBanner::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(*wxWHITE_BRUSH);
  dc.Clear();
  if (!m_image) return;
  wxSize client = GetClientSize();
  DrawSize size = BannerDrawSize(client.x, client.y, m_image->GetWidth(), m_image->GetHeight());
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
  if (gc) DrawImage(*gc, *m_image, 0, 0, size.width, size.height);
}

}  // namespace InstallGui
