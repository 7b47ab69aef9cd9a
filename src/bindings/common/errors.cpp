#include "bindings/common/errors.hpp"

#include <string>

#include "bindings/common/borrow.hpp"
#include "bindings/common/made_once.hpp"

namespace quirelo::py {

PyObject* panic_exception_type() {
    static std::atomic<PyObject*> type{nullptr};
    return made_once(type, [] {
        return PyErr_NewExceptionWithDoc("_quirelo.PanicException",
                                         "An internal fault of the native code. Derives from BaseException so that\n"
                                         "ordinary `except Exception` handlers do not swallow it.",
                                         PyExc_BaseException, nullptr);
    });
}

PyObject* raise_epub_error(const EpubError& error) {
    if (error.kind == ErrorKind::OutOfMemory) return PyErr_NoMemory();
    if (error.kind == ErrorKind::PoolStart) {
        // Threads that cannot be started are a fault of the system, not of any book.
        PyErr_SetString(PyExc_RuntimeError, error.message().c_str());
        return nullptr;
    }
    const std::string text = error.message();
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (message != nullptr) {
        PyErr_SetObject(PyExc_ValueError, message);
        Py_DECREF(message);
    }
    return nullptr;
}

void raise_panic(const char* text) {
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // its creation already set an exception
    PyErr_SetString(type, text != nullptr && *text != '\0' ? text : "native code panicked");
}

SharedBorrow::SharedBorrow(BorrowFlag& flag) : flag_(flag), held_(flag.try_shared()) {
    if (!held_) PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& flag) : flag_(flag), held_(flag.try_exclusive()) {
    if (!held_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
}

}  // namespace quirelo::py
