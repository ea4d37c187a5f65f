// Common machinery of the engine: reference counting, the exception object, the guard that
// turns every kernel failure into an IException*, and matrix conversions.
#pragma once

#include "workspace/CADEngine.h"

#include <gp_Trsf.hxx>
#include <TopoDS_Shape.hxx>

#include <atomic>
#include <functional>
#include <string>

namespace cad_engine {

// Implements AddRef/Release for one interface; the object deletes itself at zero.
template <class Iface>
class RefCounted : public Iface {
 public:
  void AddRef() override { m_refs.fetch_add(1, std::memory_order_relaxed); }
  void Release() override {
    if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  virtual ~RefCounted() = default;

 private:
  std::atomic<long> m_refs{1};
};

class EngineException final : public QZ::IException {
 public:
  EngineException(int code, std::string text) : m_code(code), m_text(std::move(text)) {}
  int GetCode() const override { return m_code; }
  void Release() override { delete this; }
  const char* GetText() const override { return m_text.c_str(); }

 private:
  int m_code;
  std::string m_text;
};

[[noreturn]] void Throw(int code, const std::string& text);
[[noreturn]] void ThrowCurrent(const char* what);

// Runs f; a kernel failure or a standard exception leaves as an IException* with eCodeFailure
// (engine exceptions pass unchanged).
template <class F>
auto Guard(const char* what, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (QZ::IException*) {
    throw;
  } catch (...) {
    ThrowCurrent(what);
  }
}

// A size that must be finite and strictly positive.
void CheckPositive(const char* name, double v);
// A size that must be finite and not negative.
void CheckNotNegative(const char* name, double v);

// 12 doubles (3x4, row after row) <-> gp_Trsf. Throws eCodeInvalidParameter for non-finite
// entries or a matrix that is not a rotation with a uniform scale and a translation.
gp_Trsf ToTrsf(const double* m12);
void FromTrsf(const gp_Trsf& t, double* m12);
void IdentityMatrix(double* m12);

// Runs f as the last line of defence against a kernel that crashes on malformed input: a fault
// inside f (SIGSEGV, SIGBUS, SIGFPE, SIGILL, a stack overflow included) returns false instead of
// ending the process. What f had built is abandoned (leaked), so f must only touch objects that
// the caller does not use after a false result. C++ exceptions pass through.
bool RunCrashGuarded(const std::function<void()>& f);

// Runs f(0) ... f(count - 1) on up to `threads` threads (the caller's one of them), each index
// once; f must not throw. Returns when all are done.
void ParallelFor(size_t count, int threads, const std::function<void(size_t)>& f);
// The machine's processors (at least 1).
int MachineThreads();

// Silences the kernel's console output (once per process).
void SilenceKernel();

}  // namespace cad_engine
