#pragma once
// A model file read and its solids built on a thread of their own, in a context of their own,
// while the program does other things (brings its window and view up); the workspace that opens
// the same file takes the model (CWorkspaceCore::AdoptPreload, OpenXml).

#include "MorlaneExport.h"
#include "model/TreeObject.h"
#include "model/reader/ModelReader.h"

#include <memory>
#include <string>

class MORLANE_API CModelPreload {
 public:
  // Starts reading path with a fresh context of tools; null when there is no context or no
  // thread to be had (the open then reads the file itself).
  static std::unique_ptr<CModelPreload> Start(QZ::CAD::ICADTools* tools, const std::wstring& path);
  // Cancels the reading and waits for its thread (it stops at the next solid).
  ~CModelPreload();
  CModelPreload(const CModelPreload&) = delete;
  CModelPreload& operator=(const CModelPreload&) = delete;

  const std::wstring& GetPath() const;
  // Waits for the model, calling progress (when given) on this thread as an open does: once
  // before, now and then with the solids built and to build, once when all are built; false
  // cancels. The messages of the reading are then reported on this thread, in order. Null when
  // cancelled or when the file was not read (an open of it fails); once only.
  std::shared_ptr<CNodeRoot> Take(const CBuildBatch::Progress& progress);
  // What became of the reading, once Take has returned: read, or why not (Cancelled when Take's
  // progress cancelled it, even if the reading itself had ended). Before Take the reading may
  // still run: then an empty result (no reason, no path), never the reading thread's.
  const ModelReadResult& GetReadResult() const;

 private:
  struct State;
  explicit CModelPreload(std::unique_ptr<State> state);
  std::unique_ptr<State> m_state;
};
