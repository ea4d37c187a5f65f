#include "WindowPicture.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/image.h>
#include <wx/utils.h>
#include <wx/window.h>

namespace morlane {

void SettleWindow(wxWindow* window) {
  for (int i = 0; i < 8; ++i) {
    if (window) window->Update();
    if (wxTheApp) wxTheApp->Yield(true);
    wxMilliSleep(20);
  }
}

bool SaveWindowPicture(wxWindow* window, const std::string& path) {
  if (!window) return false;
  SettleWindow(window);
  const wxRect rect = window->GetScreenRect();
  if (rect.width <= 0 || rect.height <= 0) return false;
  wxBitmap bitmap(rect.width, rect.height, 24);
  {
    wxScreenDC screen;
    wxMemoryDC memory(bitmap);
    if (!memory.Blit(0, 0, rect.width, rect.height, &screen, rect.x, rect.y)) return false;
  }
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  return bitmap.ConvertToImage().SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}

}  // namespace morlane
