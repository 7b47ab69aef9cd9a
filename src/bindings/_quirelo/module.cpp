// Module definition: multi-phase initialisation, no per-module state, no GIL needed.
#include <Python.h>

#include "bindings/common/errors.hpp"
#include "bindings/_quirelo/functions.hpp"
#include "bindings/common/method_table.hpp"
#include "bindings/_quirelo/objects.hpp"
#include "bindings/common/py_ref.hpp"
#include "reader/allocator_policy.hpp"

namespace quirelo::py {

namespace {

PyMethodDef function_definitions[] = {
    {"_read_epub", QUIRELO_FASTCALL(read_epub_function), FASTCALL,
     "_read_epub(path, ignore_ncx=False, ignore_nav=False, lazy=False)\n--\n\n"},
    {"_read_epub_bytes", QUIRELO_FASTCALL(read_epub_bytes_function), FASTCALL,
     "_read_epub_bytes(data, ignore_ncx=False, ignore_nav=False, lazy=False)\n--\n\n"},
    {"_write_epub", QUIRELO_FASTCALL(write_epub_function), FASTCALL, "_write_epub(path, book)\n--\n\n"},
    {"_write_epub_bytes", QUIRELO_FASTCALL(write_epub_bytes_function), FASTCALL, "_write_epub_bytes(book)\n--\n\n"},
    {"_read_epubs", QUIRELO_FASTCALL(read_epubs_function), FASTCALL,
     "_read_epubs(paths, workers=None, ignore_ncx=False, ignore_nav=False)\n--\n\n"},
};

// Functions for the package only, outside __all__ (whose five names are the module's API).
// Sets the attribute and appends its name to __all__ (made on the first addition).
bool add_public(PyObject* module, const char* name, PyObject* value) {
    if (value == nullptr) return false;
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PyErr_Clear();
        all = PyRef(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    }
    PyRef name_object(PyUnicode_FromString(name));
    if (!name_object || PyList_Append(all.get(), name_object.get()) < 0) return false;
    return PyModule_AddObjectRef(module, name, value) == 0;
}

int execute(PyObject* module) {
    return panic_boundary([&]() -> int {
        // Made here so that a later fault never has to make it (and fail silently).
        if (panic_exception_type() == nullptr) return -1;
        keep_freed_memory_for_reuse();
        PyRef module_name(PyModule_GetNameObject(module));
        if (!module_name) return -1;
        for (auto& definition : function_definitions) {
            PyRef function(PyCFunction_NewEx(&definition, nullptr, module_name.get()));
            if (!add_public(module, definition.ml_name, function.get())) return -1;
        }
        if (!add_public(module, "EpubBook", reinterpret_cast<PyObject*>(book_class())) ||
            !add_public(module, "EpubItem", reinterpret_cast<PyObject*>(item_class())) ||
            !add_public(module, "TocEntry", reinterpret_cast<PyObject*>(toc_entry_class()))) {
            return -1;
        }
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_quirelo", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace quirelo::py

PyMODINIT_FUNC PyInit__quirelo() { return PyModuleDef_Init(&quirelo::py::module_definition); }
