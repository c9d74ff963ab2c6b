// Module entry point (placeholder until the frame lands).
#include <Python.h>

static PyModuleDef nacrel_module = {PyModuleDef_HEAD_INIT, "nacrel", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_nacrel(void) { return PyModule_Create(&nacrel_module); }
