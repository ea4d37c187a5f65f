#include "EngineBase.h"

#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_PrinterOStream.hxx>
#include <OSD.hxx>
#include <OSD_Signal.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <gp_Mat.hxx>

#include <setjmp.h>
#include <signal.h>

#include <cmath>
#include <exception>
#include <iterator>
#include <mutex>
#include <thread>
#include <atomic>
#include <algorithm>
#include <new>
#include <vector>

namespace cad_engine {

void Throw(int code, const std::string& text) {
  throw static_cast<QZ::IException*>(new EngineException(code, text));
}

void ThrowCurrent(const char* what) {
  std::string text = what;
  int code = QZ::eCodeFailure;
  try {
    throw;
  } catch (const Standard_Failure& f) {
    text += ": ";
    text += f.DynamicType()->Name();
    if (f.GetMessageString() && *f.GetMessageString()) {
      text += ": ";
      text += f.GetMessageString();
    }
  } catch (const std::bad_alloc&) {
    text += ": out of memory";
  } catch (const std::exception& e) {
    text += ": ";
    text += e.what();
  } catch (...) {
    text += ": unknown failure";
  }
  Throw(code, text);
}

void CheckPositive(const char* name, double v) {
  if (!std::isfinite(v) || v <= 0.0)
    Throw(QZ::eCodeInvalidParameter, std::string("parameter ") + name + " must be a positive size");
}

void CheckNotNegative(const char* name, double v) {
  if (!std::isfinite(v) || v < 0.0)
    Throw(QZ::eCodeInvalidParameter, std::string("parameter ") + name + " must not be negative");
}

void IdentityMatrix(double* m) {
  for (int i = 0; i < 12; ++i) m[i] = 0.0;
  m[0] = m[5] = m[10] = 1.0;
}

gp_Trsf ToTrsf(const double* m) {
  if (!m) Throw(QZ::eCodeInvalidParameter, "no matrix");
  for (int i = 0; i < 12; ++i)
    if (!std::isfinite(m[i]))
      Throw(QZ::eCodeInvalidParameter, "matrix entry is not a finite number");
  // The rotation part must be orthogonal up to a uniform, positive scale.
  gp_Mat r(m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]);
  const double det = r.Determinant();
  if (!(det > 1e-12)) Throw(QZ::eCodeInvalidParameter, "matrix is singular or mirrors");
  const double scale = std::cbrt(det);
  gp_Mat n = r.Divided(scale);
  gp_Mat check = n.Multiplied(n.Transposed());
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j)
      if (std::fabs(check(i, j) - (i == j ? 1.0 : 0.0)) > 1e-6)
        Throw(QZ::eCodeInvalidParameter, "matrix is not a rotation with a uniform scale");
  gp_Trsf t;
  try {
    t.SetValues(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11]);
  } catch (...) {
    ThrowCurrent("matrix");
  }
  return t;
}

void FromTrsf(const gp_Trsf& t, double* m) {
  for (int row = 1; row <= 3; ++row)
    for (int col = 1; col <= 4; ++col) m[(row - 1) * 4 + (col - 1)] = t.Value(row, col);
}

namespace {

// The kernel converts faults into exceptions by itself when its signal handlers are installed
// (its code marks the places that can recover, and so do we below). Those handlers are process
// wide, so they are installed only while a guarded call runs, and the previous ones restored.
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL};

struct KernelHandlers {
  struct sigaction actions[std::size(kFaultSignals)];
};

const KernelHandlers& KernelFaultHandlers() {
  static const KernelHandlers handlers = [] {
    KernelHandlers h{};
    // Learn the kernel's handlers, then put back every handler the process had.
    struct sigaction before[NSIG];
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, nullptr, &before[sig]);
    OSD::SetSignal(OSD_SignalMode_Set, false);
    for (size_t i = 0; i < std::size(kFaultSignals); ++i)
      sigaction(kFaultSignals[i], nullptr, &h.actions[i]);
    for (int sig = 1; sig < NSIG; ++sig)
      if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &before[sig], nullptr);
    for (auto& a : h.actions) a.sa_flags |= SA_ONSTACK;
    return h;
  }();
  return handlers;
}

}  // namespace

bool RunCrashGuarded(const std::function<void()>& f) {
  const KernelHandlers& kernel = KernelFaultHandlers();
  // A stack of its own for the handler, so that a fault near the end of the stack is handled.
  static thread_local std::vector<char> altStack(1 << 16);
  stack_t ours{}, previousStack{};
  ours.ss_sp = altStack.data();
  ours.ss_size = altStack.size();
  sigaltstack(&ours, &previousStack);
  struct sigaction previous[std::size(kFaultSignals)];
  for (size_t i = 0; i < std::size(kFaultSignals); ++i)
    sigaction(kFaultSignals[i], &kernel.actions[i], &previous[i]);
  auto restore = [&] {
    for (size_t i = 0; i < std::size(kFaultSignals); ++i)
      sigaction(kFaultSignals[i], &previous[i], nullptr);
    sigaltstack(&previousStack, nullptr);
  };

  bool faulted = false;
  try {
    // The outermost place to recover: a fault that no inner place of the kernel catches jumps
    // here and leaves as an exception (what the kernel's OCC_CATCH_SIGNALS does).
    Standard_ErrorHandler anchor;
    if (setjmp(anchor.Label())) {
      anchor.Catches(STANDARD_TYPE(Standard_Failure));
      anchor.Error()->Reraise();
    }
    f();
  } catch (const OSD_Signal&) {
    faulted = true;
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return !faulted;
}

void ParallelFor(size_t count, int threads, const std::function<void(size_t)>& f) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < count; i = next++) f(i);
  };
  const size_t helpers = std::min(count, static_cast<size_t>(std::max(threads, 1))) - (count > 0);
  std::vector<std::thread> pool;
  pool.reserve(helpers);
  for (size_t t = 0; t < helpers; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
}

int MachineThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

void SilenceKernel() {
  static std::once_flag once;
  std::call_once(once, [] {
    const Handle(Message_Messenger)& messenger = Message::DefaultMessenger();
    messenger->RemovePrinters(STANDARD_TYPE(Message_PrinterOStream));
  });
}

}  // namespace cad_engine
