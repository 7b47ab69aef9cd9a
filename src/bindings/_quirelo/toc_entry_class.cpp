// The TocEntry class: an owned, deep-copied table-of-contents entry.
#include <string>
#include <utility>
#include <vector>

#include "bindings/common/arguments.hpp"
#include "bindings/common/errors.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/_quirelo/objects.hpp"
#include "bindings/common/py_ref.hpp"

namespace quirelo::py {

namespace {

TocEntryObject* as_entry(PyObject* self) { return reinterpret_cast<TocEntryObject*>(self); }

template <class Body>
PyObject* reading(PyObject* self, Body&& body) {
    return panic_boundary([&]() -> PyObject* {
        SharedBorrow borrow(as_entry(self)->borrow);
        if (!borrow) return nullptr;
        return body(as_entry(self)->entry);
    });
}

PyObject* get_title(PyObject* self, void*) {
    return reading(self, [](const TocEntry& entry) { return to_py_str(entry.title); });
}

PyObject* get_href(PyObject* self, void*) {
    return reading(self, [](const TocEntry& entry) { return to_py_str(entry.href); });
}

PyObject* get_children(PyObject* self, void*) {
    return reading(self, [](const TocEntry& entry) { return toc_entry_list(entry.children); });
}

PyObject* entry_repr(PyObject* self) {
    return reading(self, [](const TocEntry& entry) {
        std::string text = "TocEntry(title='";
        text.append(entry.title).append("', href='").append(entry.href).append("')");
        return to_py_str(text);
    });
}

PyObject* entry_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return panic_boundary([&]() -> PyObject* {
        static const Signature signature{"TocEntry.__new__()", {"title", "href", "children"}, 2};
        ArgumentSlots slots;
        if (!match_arguments(signature, args, kwargs, slots)) return nullptr;
        TocEntry entry;
        if (!convert_argument("title", [&] { return convert_str(slots[0], entry.title); }) ||
            !convert_argument("href", [&] { return convert_str(slots[1], entry.href); })) {
            return nullptr;
        }
        if (slots[2] != nullptr &&
            !convert_argument("children", [&] { return convert_toc_entries(slots[2], entry.children); })) {
            return nullptr;
        }
        return reinterpret_cast<PyObject*>(allocate(type, std::move(entry), &TocEntryObject::entry));
    });
}

PyGetSetDef entry_getset[] = {
    {"title", get_title, nullptr, "", nullptr},
    {"href", get_href, nullptr, "", nullptr},
    {"children", get_children, nullptr, "", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot entry_slots[] = {
    {Py_tp_doc, const_cast<char*>("TocEntry(title, href, children=...)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(entry_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TocEntryObject, &TocEntryObject::entry>)},
    {Py_tp_repr, reinterpret_cast<void*>(entry_repr)},
    {Py_tp_getset, entry_getset},
    {0, nullptr},
};

PyType_Spec entry_definition = {
    "_quirelo.TocEntry",
    sizeof(TocEntryObject),
    0,
    Py_TPFLAGS_DEFAULT,
    entry_slots,
};

}  // namespace

PyTypeObject* toc_entry_class() {
    static std::atomic<PyTypeObject*> cache{nullptr};
    return type_made_once(cache, entry_definition);
}

PyObject* new_toc_entry_object(TocEntry entry) {
    PyTypeObject* type = toc_entry_class();
    if (type == nullptr) return nullptr;
    return reinterpret_cast<PyObject*>(allocate(type, std::move(entry), &TocEntryObject::entry));
}

PyObject* toc_entry_list(const std::vector<TocEntry>& entries) {
    return new_list(entries.size(), [&](std::size_t i) { return new_toc_entry_object(entries[i]); });
}

bool convert_toc_entries(PyObject* sequence, std::vector<TocEntry>& out) {
    PyTypeObject* type = toc_entry_class();
    if (type == nullptr) return false;
    return for_each_in_sequence(sequence, [&](PyObject* element) {
        if (!PyObject_TypeCheck(element, type)) {
            raise_type_mismatch(element, "TocEntry");
            return false;
        }
        SharedBorrow borrow(as_entry(element)->borrow);
        if (!borrow) return false;
        out.push_back(as_entry(element)->entry);
        return true;
    });
}

}  // namespace quirelo::py
