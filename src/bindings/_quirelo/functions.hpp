#pragma once
// The module functions (vectorcall convention).
#include <Python.h>

namespace quirelo::py {

PyObject* read_epub_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_epub_bytes_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* write_epub_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* write_epub_bytes_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_epubs_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quirelo::py
