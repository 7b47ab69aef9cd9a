#include <Python.h>
static PyModuleDef_Slot slots[] = {{0, nullptr}};
static PyModuleDef definition = {PyModuleDef_HEAD_INIT, "_quirelo", "", 0, nullptr, slots, nullptr, nullptr, nullptr};
PyMODINIT_FUNC PyInit__quirelo() { return PyModuleDef_Init(&definition); }
