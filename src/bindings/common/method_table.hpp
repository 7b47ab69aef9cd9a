#pragma once
// Shared pieces of the method tables: every entry point uses the vectorcall convention
// with keywords, and every object frees its C++ members the same way.
#include <Python.h>

#include <type_traits>

#include "bindings/common/arguments.hpp"
#include "bindings/common/borrow.hpp"
#include "bindings/common/errors.hpp"

namespace quirelo::py {

#define QUIRELO_METHOD(name) \
    PyObject* name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)

// The cast CPython's method tables need for a vectorcall function.
#define QUIRELO_FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function))
inline constexpr int FASTCALL = METH_FASTCALL | METH_KEYWORDS;

// Every method body runs behind the same three gates: argument matching, the object's
// borrow (Borrow is SharedBorrow or ExclusiveBorrow), the panic boundary.
template <class Borrow, class Object, class Body>
PyObject* call_with_borrow(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames, Body&& body) {
    return panic_boundary([&]() -> PyObject* {
        ArgumentSlots slots;
        if (!match_arguments(signature, args, nargs, kwnames, slots)) return nullptr;
        auto* object = reinterpret_cast<Object*>(self);
        Borrow borrow(object->borrow);
        if (!borrow) return nullptr;
        return body(*object, slots);
    });
}

// tp_dealloc of a class whose object holds one C++ payload member and a borrow flag.
template <class Object, auto member>
void dealloc_object(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* object = reinterpret_cast<Object*>(self);
    using Payload = std::remove_reference_t<decltype(object->*member)>;
    (object->*member).~Payload();
    object->borrow.~BorrowFlag();
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace quirelo::py
