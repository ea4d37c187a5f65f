#pragma once
// The top-level window a host program creates: two workspaces side by side, the engine library
// loaded once for the process, and the commands a host binds to its menu and tool bar (open a
// model file, import, export the left or the right model, import with recognition, recognise
// the selection, fetch the shaft data of the selection, grid and axes).
//
// The engine library is loaded only by its full path beside the viewer library; a file of that
// name in the current folder or on the search path is never loaded.

#include "MorlaneExport.h"
#include "model/ShaftRecognition.h"
#include "workspace/SplitterView.h"

#include <wx/frame.h>

#include <string>
#include <vector>

class CVHSplitter;

// What a command's file dialog asks for.
struct MORLANE_API FileDialogRequest {
  bool save = false;
  std::wstring defaultExtension;  // "*.xml", "*.stp"
  std::wstring filter;            // "description|patterns|...||"
  std::wstring title;
};

class MORLANE_API CMainFrame : public wxFrame {
 public:
  CMainFrame();
  ~CMainFrame() override;

  // Loads the engine (with a message when it is missing) and creates the window with its two
  // workspaces; false, and no window, when the engine cannot be loaded.
  bool Create(wxWindow* parent, wxWindowID id = wxID_ANY,
              const wxPoint& position = wxDefaultPosition, const wxSize& size = wxSize(1280, 800),
              long style = wxDEFAULT_FRAME_STYLE);

  CSplitterView& GetView1() { return *m_wndView1; }
  CSplitterView& GetView2() { return *m_wndView2; }
  CVHSplitter* GetSplitter() const { return m_wndSplitter; }

  double GetSplitPercent() const { return m_dSplitPercent; }
  // Takes effect at the next layout; before the window exists only the value is kept.
  void SetSplitPercent(double percent);

  QZ::CAD::ICADTools* GetCADTools() const { return m_pCADTools; }
  bool FindCadOndravelDLL(bool showMessage);
  bool LoadCadOndravelDLL(bool showMessage);
  // The language file and the language's code: 1 when loaded, 0 otherwise.
  static int LoadLocation(const wchar_t* path, int code, void* instance = nullptr);
  // The texts of both workspaces in the current language.
  void UpdateAll();

  const std::wstring& GetPathName() const { return m_strPathName; }
  const std::wstring& GetFileExt() const { return m_strFileExt; }
  const RecognitionList& GetRecognizeData() const { return m_arRecognizeData; }
  const std::vector<qz_RecognizeShaft>& GetRecognizeSelected() const {
    return m_arRecognizeSelected;
  }
  RecognizeState GetRecognizeState() const { return m_recognizeState; }

  // An error message: a message box with the error icon.
  virtual void ShowMessage(const std::wstring& text);

 protected:
  // The file a command works on: the path chosen in the dialog, "" when it was cancelled.
  virtual std::wstring AskFileName(const FileDialogRequest& request);

  void OnFileOpen();
  void OnFileImport();
  void OnFileExportL();
  void OnFileExportR();
  void OnFileRecognize();
  void OnFileRecognizeSelect();
  void OnGetDataRecognizeSelect();
  void ViewerShowGrid(bool show);
  void ViewerShowAxis(bool show);
  void SetTitleEx(const std::wstring& fileName);

  bool OnCreateClient();
  void OnClose(wxCloseEvent& event);

  bool m_bSplitterCreated = false;
  double m_dSplitPercent = 0.5;
  CVHSplitter* m_wndSplitter = nullptr;
  CSplitterView* m_wndView1 = nullptr;
  CSplitterView* m_wndView2 = nullptr;
  bool m_hCadModule = false;
  QZ::CAD::ICADTools* m_pCADTools = nullptr;
  RecognitionList m_arRecognizeData;
  std::vector<qz_RecognizeShaft> m_arRecognizeSelected;
  RecognizeState m_recognizeState = eRecognizeNoneAtZero;
  std::wstring m_strPathName;
  std::wstring m_strFileExt;

 private:
  void ChooseAndRemember(const std::wstring& path);
};
