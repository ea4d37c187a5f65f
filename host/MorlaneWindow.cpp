#include "MorlaneWindow.h"

#include "MorlaneFrame.h"
#include "ProgramLanguage.h"
#include "WindowPicture.h"
#include "ui/MlsString.h"
#include "ui/MorlaneApp.h"
#include "xml/XMLNode.h"
#include "workspace/CadEngineLibrary.h"
#include "workspace/ModelPreload.h"

#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace morlane {

bool ParseWindowOptions(int argc, char** argv, WindowOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (arg == "--lang") {
      if (!value(options.languageFile)) return false;
    } else if (arg == "--language") {
      if (!value(options.language)) return false;
    } else if (arg == "--snapshot") {
      if (!value(options.snapshot)) return false;
    } else if (arg == "--left") {
      if (!value(options.files.emplace_back())) return false;
    } else if (arg == "--right") {
      if (!value(options.rightFiles.emplace_back())) return false;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) options.files.push_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg;
      return false;
    } else {
      options.files.push_back(arg);
    }
  }
  return true;
}

namespace {

std::wstring Wide(const std::string& text) { return wxString::FromUTF8(text).ToStdWstring(); }

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Loads the language file and selects the language by its caption or its ID.
bool LoadLanguage(const WindowOptions& options, std::string& error) {
  if (options.languageFile.empty()) {
    if (!options.language.empty()) {
      error = "--language needs a language file (--lang FILE)";
      return false;
    }
    return true;
  }
  const bool byCode = IsNumber(options.language);
  const int code = byCode ? std::atoi(options.language.c_str()) : 2000;
  if (!CMainFrame::LoadLocation(Wide(options.languageFile).c_str(), code)) {
    // The file was read when it listed its languages: the code is not among them.
    if (CMlsString::GetLanguagesCount() > 0)
      error = "the language file has no language " + options.language;
    else
      error = "cannot read the language file " + options.languageFile;
    return false;
  }
  if (!options.language.empty() && !byCode &&
      !CMlsString::SetLanguageLocation(Wide(options.language).c_str())) {
    error = "the language file has no language " + options.language;
    return false;
  }
  return true;
}

// The ISO name of the selected language of the loaded file, "" without one.
std::string SelectedIsoLanguage() {
  if (!CMlsString::IsMlsSupport() || !CMlsString::m_xmlNodeLanguage) return {};
  const std::wstring id = CMlsString::m_xmlNodeLanguage->GetStrAttr(L"ID", L"");
  int code = 0;
  for (wchar_t c : id) {
    if (c < L'0' || c > L'9' || code > 100000) return {};
    code = code * 10 + (c - L'0');
  }
  return IsoLanguageOf(code);
}

// A model file by its extension, as the frame's open tells them apart.
bool IsModelFile(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "xml";
}

// Whether the path names something to read; a missing file for the right workspace is said by
// its name and not tried.
bool ExistsForRight(const std::string& file) {
  struct stat st;
  if (::stat(file.c_str(), &st) == 0) return true;
  std::fprintf(stderr, "morlane: --right %s: no such file\n", file.c_str());
  return false;
}

}  // namespace

int RunWindowed(int argc, char** argv) {
  WindowOptions options;
  std::string error;
  if (!ParseWindowOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "morlane: %s\n", error.c_str());
    return 2;
  }
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr,
                 "morlane: no display (DISPLAY is not set); the viewer window needs one, the "
                 "render, convert, info and recognize commands do not\n");
    return 3;
  }
  // The engine draws into the panes' X11 windows.
  setenv("GDK_BACKEND", "x11", 1);
  if (!LoadLanguage(options, error)) {
    std::fprintf(stderr, "morlane: %s\n", error.c_str());
    return 2;
  }
  const std::string iso = SelectedIsoLanguage();
  SetToolkitLanguageEarly(iso);

  // The first file, a model file, is read and its solids built on other threads from here on,
  // while the toolkit, the window and its view come up.
  std::unique_ptr<CModelPreload> preload;
  if (!options.files.empty() && IsModelFile(options.files.front())) {
    static CCadEngineLibrary engine;  // the frame's own loads the same one, kept loaded
    if (engine.Load() == CCadEngineLibrary::eLoaded)
      preload = CModelPreload::Start(engine.GetTools(), Wide(options.files.front()));
  }

  wxApp::SetInstance(new CMorlaneApp);
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "morlane: cannot open the display %s\n", display);
    return 3;
  }
  wxInitAllImageHandlers();
  SetToolkitLanguage(iso);

  int result = 0;
  auto* frame = new CMorlaneFrame;
  if (!options.snapshot.empty()) frame->SetDialogsEnabled(false);
  if (!frame->Create()) {
    // The frame has said why (the engine library is missing).
    preload.reset();
    delete frame;
    result = 1;
  } else {
    // The model file read meanwhile is the first open's.
    if (preload) frame->GetView1().GetCore().AdoptPreload(std::move(preload));
    frame->Show();
    SettleWindow(frame);
    for (const std::string& file : options.files) {
      if (!frame->OpenFile(Wide(file))) {
        std::fprintf(stderr, "morlane: %s was not opened\n", file.c_str());
        result = 1;
      }
      SettleWindow(frame);
    }
    for (const std::string& file : options.rightFiles) {
      if (!ExistsForRight(file)) {
        result = 1;
      } else if (!frame->OpenFileRight(Wide(file))) {
        std::fprintf(stderr, "morlane: %s was not opened in the right workspace\n", file.c_str());
        result = 1;
      }
      SettleWindow(frame);
    }
    if (!options.snapshot.empty()) {
      if (!SaveWindowPicture(frame, options.snapshot)) {
        std::fprintf(stderr, "morlane: cannot save %s\n", options.snapshot.c_str());
        result = 1;
      }
      frame->Destroy();
      wxTheApp->Yield(true);
    } else {
      wxTheApp->OnRun();
    }
  }
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}

}  // namespace morlane
