#include "workspace/ModelPreload.h"

#include "model/reader/ModelReader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

struct CModelPreload::State {
  std::wstring path;
  std::shared_ptr<CNodeRoot> root;
  std::atomic<bool> cancel{false};
  std::atomic<int> done{0}, total{0};
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;   // under lock
  ModelReadResult result;  // under lock until finished
  bool taken = false;
  bool joined = false;  // the reading thread has ended and is joined: result is ours
  std::vector<std::wstring> messages;
  std::thread thread;

  void Run() {
    HoldBuildErrors(&messages);
    ModelReadResult read;
    try {
      read = ReadModelFile(path, root, nullptr, [this](int d, int t) {
        done = d;
        total = t;
        return !cancel;
      });
    } catch (...) {
      read.reason = ModelReadError::Failed;
      read.path = path;
    }
    HoldBuildErrors(nullptr);
    std::lock_guard<std::mutex> hold(lock);
    result = std::move(read);
    finished = true;
    ended.notify_all();
  }
};

CModelPreload::CModelPreload(std::unique_ptr<State> state) : m_state(std::move(state)) {}

CModelPreload::~CModelPreload() {
  m_state->cancel = true;
  if (m_state->thread.joinable()) m_state->thread.join();
}

std::unique_ptr<CModelPreload> CModelPreload::Start(QZ::CAD::ICADTools* tools,
                                                    const std::wstring& path) {
  if (!tools) return nullptr;
  QZ::ObjPtr<ICADContext> context;
  try {
    context = QZ::ObjPtr<ICADContext>(tools->NewContext());
  } catch (QZ::IException* e) {
    if (e) e->Release();
  }
  if (!context) return nullptr;
  auto state = std::make_unique<State>();
  state->path = path;
  state->root = std::make_shared<CNodeRoot>();
  state->root->SetContext(context);
  State* s = state.get();
  try {
    state->thread = std::thread([s] { s->Run(); });
  } catch (...) {
    return nullptr;
  }
  return std::unique_ptr<CModelPreload>(new CModelPreload(std::move(state)));
}

const std::wstring& CModelPreload::GetPath() const { return m_state->path; }

const ModelReadResult& CModelPreload::GetReadResult() const {
  // The reading thread writes the result only before it ends, and Take joins it.
  static const ModelReadResult kNotYet;
  return m_state->joined ? m_state->result : kNotYet;
}

std::shared_ptr<CNodeRoot> CModelPreload::Take(const CBuildBatch::Progress& progress) {
  State& s = *m_state;
  if (s.taken) return nullptr;
  s.taken = true;
  auto report = [&]() -> bool {
    if (!progress) return true;
    try {
      const int done = s.done;
      return progress(done, std::max(s.total.load(), done));
    } catch (...) {
      return false;
    }
  };
  bool go = report();
  {
    std::unique_lock<std::mutex> hold(s.lock);
    while (!s.finished) {
      if (!go) s.cancel = true;
      s.ended.wait_for(hold, std::chrono::milliseconds(100));
      if (go && !s.finished) {
        hold.unlock();
        go = report();
        hold.lock();
      }
    }
  }
  s.thread.join();
  s.joined = true;
  for (const std::wstring& message : s.messages) ReportBuildError(message);
  s.messages.clear();
  if (!go && s.result) {
    // Read to the end, but the open gave up waiting for it.
    s.result.reason = ModelReadError::Cancelled;
    s.result.detail.clear();
  }
  if (!s.result) return nullptr;
  report();  // all built
  std::shared_ptr<CNodeRoot> root = std::move(s.root);
  return root;
}
