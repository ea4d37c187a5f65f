// What the tests of the script-data services (languages, localizer, graphics) share: a script
// loaded from text, a capture of the run log, a machine of a given system language, a window that
// records what the localizer sets, and PNG bytes made in memory.
#pragma once

#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/Localizer.h"
#include "package/DataStorage.h"
#include "package/LogSink.h"
#include "package/XmlSettings.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <filesystem>
#include <map>

#include <algorithm>
#include <string>
#include <vector>

namespace scriptdata {

using CommonTools::SettingsNodePtr;
using InstallGui::GuiSettings::CGraphics;
using InstallGui::GuiSettings::CLanguages;

struct Script {
  explicit Script(const std::string& xml) { EXPECT_TRUE(settings.LoadFromBytes(xml)); }
  CLanguages::RootProvider Provider() {
    return [this](SettingsNodePtr& root) { return settings.GetRoot(root); };
  }
  SettingsNodePtr Root() {
    SettingsNodePtr root;
    settings.GetRoot(root);
    return root;
  }
  CommonTools::CXmlSettings settings;
};

struct LogCapture {
  LogCapture() {
    CommonTools::SetLogSink([this](CommonTools::LogLevel level, const std::wstring& text) {
      lines.push_back(std::to_string(static_cast<int>(level)) + " " + platform::ToUtf8(text));
    });
  }
  ~LogCapture() { CommonTools::SetLogSink(nullptr); }
  int Count(const std::string& line) const {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  std::vector<std::string> lines;
};

// A machine whose system language is given by its LCID.
inline platform::MachineConfig WithLanguage(std::uint16_t lcid) {
  auto config = platform::MachineConfig::Defaults();
  config.systemLcid = lcid;
  return config;
}

inline constexpr const char* kLanguages =
    "<?xml version=\"1.0\"?><S><Localization>"
    "<A ID=\"1033\" Title=\"English\" SystemName=\"English\"/>"
    "<B ID=\"1031\" Title=\"Deutsch\" SystemName=\"german\"/>"
    "<C ID=\"1031\" Title=\"Deutsch 2\" SystemName=\"German\"/>"
    "</Localization></S>";

class FakeWindow : public InstallGui::ILocalizedWindow {
 public:
  void SetTitle(const std::wstring& text) override { title = text; }
  bool HasControl(int id) override { return id != 99; }
  void SetControlText(int id, const std::wstring& text) override { controls[id] = text; }
  std::wstring title = L"template title";
  std::map<int, std::wstring> controls;
};

inline std::string PngBytes(int width, int height) {
  wxInitAllImageHandlers();
  wxImage image(width, height);
  image.SetRGB(0, 0, 200, 10, 20);
  wxMemoryOutputStream out;
  EXPECT_TRUE(image.SaveFile(out, wxBITMAP_TYPE_PNG));
  std::string bytes(out.GetSize(), '\0');
  out.CopyTo(bytes.data(), bytes.size());
  return bytes;
}

}  // namespace scriptdata
