#pragma once
// Where native outcomes become Python exceptions.
#include <Python.h>

#include <exception>
#include <new>

#include "model/error.hpp"

namespace quirelo::py {

// Sets ValueError with the error's message (MemoryError for an allocation that failed
// inside a batch, RuntimeError for worker threads that could not start); returns nullptr
// for tail calls.
PyObject* raise_epub_error(const EpubError& error);

// The PanicException class; made when the module is executed, so that raising one never
// depends on making it. Null with an exception set when it cannot be made.
PyObject* panic_exception_type();

// Sets PanicException (a BaseException) with text, or a default text when null.
void raise_panic(const char* text);

// Runs body and turns an escaping C++ exception into a Python one: an allocation that
// failed becomes MemoryError (an ordinary Exception), anything else a PanicException.
template <class Body>
auto panic_boundary(Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_panic(error.what());
    } catch (...) {
        raise_panic(nullptr);
    }
    if constexpr (std::is_same_v<decltype(body()), int>) {
        return -1;
    } else {
        return nullptr;
    }
}

}  // namespace quirelo::py
