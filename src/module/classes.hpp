// The six value classes: heap types "builtins.X" whose instances embed a
// Point, a Scalar or a pair of them. Instances are immutable.
#pragma once

#include <Python.h>

#include <new>

#include "module/binding.hpp"

namespace nacrel::py {

// Registration order of the classes.
inline constexpr Kind kClassOrder[] = {Kind::Commit, Kind::RandR, Kind::GH, Kind::PbSk, Kind::Hx, Kind::Token};

inline bool is_class_kind(Kind k) { return k >= Kind::Commit; }

// Python name of a class kind ("Commit", "rand_r", ...).
const char* class_name(Kind k);

// The type object of a class kind, created on first use and kept for the life
// of the process (borrowed reference); NULL with an exception set on failure.
PyTypeObject* class_type(Kind k);

// Instance layout: the object header followed by the value.
template <class T>
struct Instance {
  PyObject_HEAD
  T value;
};

template <class T>
const T& value_of(PyObject* obj) {
  return reinterpret_cast<Instance<T>*>(obj)->value;
}

// A new instance of class k holding a copy of v; throws PythonErrorSet.
template <class T>
PyObject* new_instance(Kind k, const T& v) {
  PyTypeObject* type = class_type(k);
  if (!type) throw PythonErrorSet{};
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* obj = alloc(type, 0);
  if (!obj) throw PythonErrorSet{};
  new (&reinterpret_cast<Instance<T>*>(obj)->value) T(v);
  return obj;
}

}  // namespace nacrel::py
