// Decisions of built-in players that keep the interpreter responsive: signals are checked on the
// deciding thread, and the interpreter lock may be released while a search runs.
#include <exception>

#include "python/classes.hpp"

namespace tornquil::py {
namespace {

// The interpreter lock given up for the length of a decision and taken back for each check.
class ReleasedLock {
 public:
  ReleasedLock() : saved_(PyEval_SaveThread()) {}
  ~ReleasedLock() { PyEval_RestoreThread(saved_); }
  ReleasedLock(const ReleasedLock&) = delete;
  ReleasedLock& operator=(const ReleasedLock&) = delete;

  template <typename Body>
  auto with_lock(Body&& body) {
    PyEval_RestoreThread(saved_);
    struct Release {
      PyThreadState*& saved;
      ~Release() { saved = PyEval_SaveThread(); }
    } release{saved_};
    return body();
  }

 private:
  PyThreadState* saved_;
};

// Runs the handlers of the signals that arrived; a handler's exception stays set and ends the
// decision.
void check_signals() {
  if (PyErr_CheckSignals() < 0) throw ErrorAlreadySet{};
}

}  // namespace

Action decide_responsively(bool release_lock,
                           const std::function<Action(const DecisionCheck&)>& decide) {
  if (!release_lock) return decide(check_signals);
  ReleasedLock released;
  return decide([&released] {
    // The error indicator lives in this thread's state, so it survives the lock's release.
    if (released.with_lock([] { return PyErr_CheckSignals(); }) < 0) throw ErrorAlreadySet{};
  });
}

}  // namespace tornquil::py
