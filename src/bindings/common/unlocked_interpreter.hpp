#pragma once
// Releases the interpreter lock for a scope in which native workers run; the lock comes
// back on every exit, exceptions included. Nothing in the scope may touch a Python object.
#include <Python.h>

namespace quirelo::py {

class UnlockedInterpreter {
public:
    UnlockedInterpreter() : state_(PyEval_SaveThread()) {}
    UnlockedInterpreter(const UnlockedInterpreter&) = delete;
    UnlockedInterpreter& operator=(const UnlockedInterpreter&) = delete;
    ~UnlockedInterpreter() { PyEval_RestoreThread(state_); }

    // Holds the lock again for a scope inside the unlocked one (to make Python values of
    // a result while the workers go on), and releases it at the scope's end.
    class Relocked {
    public:
        explicit Relocked(UnlockedInterpreter& unlocked) : unlocked_(unlocked) { PyEval_RestoreThread(unlocked_.state_); }
        Relocked(const Relocked&) = delete;
        Relocked& operator=(const Relocked&) = delete;
        ~Relocked() { unlocked_.state_ = PyEval_SaveThread(); }

    private:
        UnlockedInterpreter& unlocked_;
    };

private:
    PyThreadState* state_;
};

}  // namespace quirelo::py
