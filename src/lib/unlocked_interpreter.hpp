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

private:
    PyThreadState* state_;
};

}  // namespace quirelo::py
