// Decisions of built-in players that keep the interpreter responsive: signals are checked on the
// deciding thread, and the interpreter lock may be released while a search runs.
#include <exception>
#include <optional>

#include "python/classes.hpp"

namespace tornquil::py {
namespace {

// Runs the handlers of the signals that arrived; a handler's exception stays set and ends the
// decision.
void check_signals() {
  if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
}

// The same from a thread that gave the lock up: it takes the lock back for the check only. The
// error indicator lives in this thread's state, so it survives the lock's release. An
// interpreter that is shutting down ends the thread inside PyEval_RestoreThread instead, by an
// unwinding that passes through here with the lock still the interpreter's.
void check_signals_without_lock(PyThreadState* saved) {
  PyEval_RestoreThread(saved);
  const int signalled = PyErr_CheckSignals();
  (void)PyEval_SaveThread();
  if (signalled < 0) throw ErrorAlreadySet{};
}

}  // namespace

void run_responsively(bool release_lock, const std::function<void(const DecisionCheck&)>& work) {
  if (!release_lock) {
    work(check_signals);
    return;
  }
  PyThreadState* const saved = PyEval_SaveThread();
  std::exception_ptr failure;
  try {
    work([saved] { check_signals_without_lock(saved); });
  } catch (...) {
    // The end of the thread passes without the lock, which the thread must not touch again.
    if (handling_thread_exit()) throw;
    failure = std::current_exception();
  }
  // Never from a destructor: at shutdown this too may end the thread by unwinding.
  PyEval_RestoreThread(saved);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tornquil::py
