// The product's optional components ("libraries"): their records as the script's LIBRARIES node
// lists them, the selection carried from run to run, the dependency rule of the components page
// and the processing of the libraries' steps during a run.
#pragma once

#include "package/Settings.h"

#include <functional>
#include <string>
#include <vector>

namespace CommonTools {

struct LibraryRecord {
  int ID = 0;
  std::wstring Caption;
  std::wstring PV;
  SettingsNodePtr node;  // the LIBRARY node; its children are the library's steps
  bool selected = true;
  bool installed = true;
  bool readonly = false;
  std::vector<unsigned> dependencies;  // IDs of the libraries this one needs
};

// Runs the steps below a container node (INSTALL, a LIBRARY, ADDITIONAL).
class IStepDispatcher {
 public:
  virtual ~IStepDispatcher() = default;
  virtual void CommonSteps(const SettingsNodePtr& container, bool remove,
                           const std::wstring& basePath) = 0;
};

class CLibraries {
 public:
  // Reads the root's LIBRARIES node (absent: no libraries), replacing the list. A value that
  // does not convert ("ID", "Selected", "Readonly") raises SettingsError.
  void Load(const SettingsNodePtr& root);
  void Clear() { m_list.clear(); }
  void Add(const LibraryRecord& record) { m_list.push_back(record); }

  int Count() const { return static_cast<int>(m_list.size()); }
  bool Get(int index, LibraryRecord& record) const;
  bool Find(int id, LibraryRecord& record) const;
  // The index of the first library with this ID, or -1.
  int IndexOf(int id) const;
  bool SetSelected(int index, bool flag);
  bool SetSelectedById(int id, bool flag);

  // Sets `installed` on every library whose ID occurs in the selection string; empty pieces
  // and IDs of no library are ignored, `selected` is not changed.
  void ApplyInstalledSelection(const std::wstring& selection);
  // The IDs of the selected libraries in list order, joined with ";" ("1;3"; none: "").
  std::wstring SelectionString() const;

  // The dependency rule of the components page. Selecting a library selects it and, through
  // their dependencies in turn, every library it needs (each visited once, so a cycle ends).
  // Returns false for an index outside the list.
  bool Select(int index);
  // Whether the user may clear the library: not while another selected library lists it
  // among its dependencies (a library naming itself does not hold itself).
  bool CanClear(int index) const;
  // Clears the library when CanClear allows it; false when it stays selected.
  bool TryClear(int index);

  // Runs the libraries' steps: first every library that is not selected (or every library
  // with `removeAll`) in removal mode, then, without `removeAll`, every selected library in
  // installation mode. `log` receives the library's PV and "remove" or "setup".
  void Process(
      bool removeAll, const std::wstring& path, IStepDispatcher& steps,
      const std::function<void(const std::wstring& pv, const std::wstring& action)>& log) const;

 private:
  std::vector<LibraryRecord> m_list;
};

// The pieces of a ";"-separated list converted with wtol; empty pieces are skipped.
std::vector<long> SplitIds(const std::wstring& text);

}  // namespace CommonTools
