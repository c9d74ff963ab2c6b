// Module initialisation: creates the module once per process and registers the
// functions, then the classes, each name also appended to __all__.
#include <Python.h>

#include <atomic>

#include "module/classes.hpp"
#include "module/entries.hpp"
#include "module/registry.hpp"

namespace nacrel::py {

PyObject* entry_curve_name(const Args&) { return new_str("Bn254"); }

namespace {

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "nacrel",
    "",  // an empty docstring, not None
    0,   // no per-module state
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<bool> g_initialised{false};

// Appends name to the module's __all__ (created when missing), then sets the
// attribute. Steals obj. Returns false with an exception set.
bool add_object(PyObject* module, const char* name, PyObject* obj) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
      Py_DECREF(obj);
      return false;
    }
    PyErr_Clear();
    all = PyList_New(0);
    if (!all || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      Py_DECREF(obj);
      return false;
    }
  }
  PyObject* name_obj = PyUnicode_FromString(name);
  int failed = !name_obj || PyList_Append(all, name_obj) < 0;
  Py_XDECREF(name_obj);
  Py_DECREF(all);
  if (failed) {
    Py_DECREF(obj);
    return false;
  }
  int rc = PyObject_SetAttrString(module, name, obj);
  Py_DECREF(obj);
  return rc == 0;
}

PyObject* init_module() {
  PyObject* module = PyModule_Create(&g_module_def);
  if (!module) return nullptr;
  if (g_initialised.exchange(true)) {
    Py_DECREF(module);
    PyErr_SetString(PyExc_ImportError, "PyO3 modules may only be initialized once per interpreter process");
    return nullptr;
  }
  PyObject* module_name = PyUnicode_FromString("nacrel");
  if (!module_name) {
    Py_DECREF(module);
    return nullptr;
  }
  size_t n = 0;
  PyMethodDef* defs = function_defs(n);
  for (size_t i = 0; i < n; ++i) {
    PyObject* fn = PyCFunction_NewEx(&defs[i], module, module_name);
    if (!fn || !add_object(module, defs[i].ml_name, fn)) {
      Py_DECREF(module_name);
      Py_DECREF(module);
      return nullptr;
    }
  }
  Py_DECREF(module_name);
  // The exception type and the classes are made here, once, so that no call
  // creates shared state lazily.
  if (!panic_exception_type()) {
    Py_DECREF(module);
    return nullptr;
  }
  for (Kind k : kClassOrder) {
    PyTypeObject* type = class_type(k);
    if (!type) {
      Py_DECREF(module);
      return nullptr;
    }
    Py_INCREF(reinterpret_cast<PyObject*>(type));
    if (!add_object(module, class_name(k), reinterpret_cast<PyObject*>(type))) {
      Py_DECREF(module);
      return nullptr;
    }
  }
  return module;
}

}  // namespace

}  // namespace nacrel::py

PyMODINIT_FUNC PyInit_nacrel(void) {
  return nacrel::py::boundary([] { return nacrel::py::init_module(); });
}
