#pragma once
// The three Python classes: a host header, one native record and a borrow flag each.
#include <Python.h>

#include <atomic>
#include <new>
#include <utility>

#include "bindings/common/borrow.hpp"
#include "model/book.hpp"

namespace quirelo::py {

struct BookObject {
    PyObject_HEAD
    Book book;
    BorrowFlag borrow;
};

struct ItemObject {
    PyObject_HEAD
    ItemHandle item;
    BorrowFlag borrow;
};

struct TocEntryObject {
    PyObject_HEAD
    TocEntry entry;
    BorrowFlag borrow;
};

// The class objects, made when the module is executed (or on a first use that comes
// earlier) and kept for the life of the process; null with an exception set when one
// cannot be made.
PyTypeObject* book_class();
PyTypeObject* item_class();
PyTypeObject* toc_entry_class();

// New wrapper objects around native records.
PyObject* new_book_object(Book&& book);
PyObject* new_item_object(ItemHandle item);
PyObject* new_toc_entry_object(TocEntry entry);
PyObject* toc_entry_list(const std::vector<TocEntry>& entries);  // list of new copies

// Copies the native records out of a sequence of TocEntry objects (argument conversion).
bool convert_toc_entries(PyObject* sequence, std::vector<TocEntry>& out);

// Allocates an instance of type and constructs its C++ members in place.
template <class Object, class Payload>
Object* allocate(PyTypeObject* type, Payload&& payload, Payload Object::* member) {
    PyObject* raw = type->tp_alloc(type, 0);
    if (raw == nullptr) return nullptr;
    auto* object = reinterpret_cast<Object*>(raw);
    new (&(object->*member)) Payload(std::forward<Payload>(payload));
    new (&object->borrow) BorrowFlag();
    return object;
}

// A class object made once from its definition; retried if an earlier attempt failed.
PyTypeObject* type_made_once(std::atomic<PyTypeObject*>& cache, PyType_Spec& definition);

}  // namespace quirelo::py
