#pragma once
// A per-object critical section of the free-threaded interpreter as a scope guard: it
// ends on every way out of the scope, an exception included (the macros would skip their
// end). Without free threading it is empty.
#include <Python.h>

namespace quirelo::py {

class CriticalSection {
public:
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
#ifdef Py_GIL_DISABLED
    explicit CriticalSection(PyObject* object) { PyCriticalSection_Begin(&section_, object); }
    ~CriticalSection() { PyCriticalSection_End(&section_); }

private:
    PyCriticalSection section_;
#else
    // The interpreter lock already serialises access; the section's record is not even
    // defined in this build.
    explicit CriticalSection(PyObject*) {}
#endif
};

}  // namespace quirelo::py
