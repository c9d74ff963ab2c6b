#include "module/binding.hpp"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>

#include "group/error.hpp"
#include "module/classes.hpp"

namespace nacrel::py {

namespace {

// Owned reference, released at scope end.
struct Ref {
  PyObject* p;
  explicit Ref(PyObject* o = nullptr) : p(o) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p); }
  PyObject* release() {
    PyObject* o = p;
    p = nullptr;
    return o;
  }
  explicit operator bool() const { return p != nullptr; }
};

const char* kOutOfRange = "out of range integral type conversion attempted";

// Qualified name of the object's type, e.g. "int", "GH".
std::string type_name(PyObject* obj) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  if (name && PyUnicode_Check(name.p)) {
    Ref utf8(PyUnicode_AsUTF8String(name.p));
    if (utf8) return PyBytes_AsString(utf8.p);
  }
  PyErr_Clear();
  return "?";
}

std::string cannot_convert(PyObject* obj, const char* target) {
  return "'" + type_name(obj) + "' object cannot be converted to '" + target + "'";
}

// Integer value through the index protocol, as a C long; the interpreter's own
// TypeError/OverflowError on failure (returns false with the error set).
bool index_as_long(PyObject* obj, long& out) {
  Ref index(PyNumber_Index(obj));
  if (!index) return false;
  out = PyLong_AsLong(index.p);
  return !(out == -1 && PyErr_Occurred());
}

bool convert_i32(PyObject* obj, int32_t& out) {
  long v;
  if (!index_as_long(obj, v)) return false;
  if (v < INT32_MIN || v > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, kOutOfRange);
    return false;
  }
  out = static_cast<int32_t>(v);
  return true;
}

bool convert_usize(PyObject* obj, uint64_t& out) {
  Ref index(PyNumber_Index(obj));
  if (!index) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(index.p);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool convert_str(PyObject* obj, std::string& out) {
  if (!PyUnicode_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, cannot_convert(obj, "PyString").c_str());
    return false;
  }
  // Lone surrogates raise the interpreter's UnicodeEncodeError here.
  Ref utf8(PyUnicode_AsUTF8String(obj));
  if (!utf8) return false;
  char* data;
  Py_ssize_t len;
  if (PyBytes_AsStringAndSize(utf8.p, &data, &len) < 0) return false;
  out.assign(data, static_cast<size_t>(len));
  return true;
}

bool convert_bytes32(PyObject* obj, std::array<uint8_t, 32>& out) {
  // Any object that offers the sequence protocol (item access by index),
  // whether or not it is registered as a collections.abc.Sequence.
  if (!PySequence_Check(obj)) {
    PyErr_SetString(PyExc_TypeError, cannot_convert(obj, "Sequence").c_str());
    return false;
  }
  Py_ssize_t len = PySequence_Size(obj);
  if (len < 0) return false;
  if (len != 32) {
    PyErr_SetString(PyExc_ValueError, ("expected a sequence of length 32 (got " + std::to_string(len) + ")").c_str());
    return false;
  }
  for (Py_ssize_t i = 0; i < 32; ++i) {
    Ref item(PySequence_GetItem(obj, i));
    if (!item) return false;
    long v;
    if (!index_as_long(item.p, v)) return false;
    if (v < 0 || v > 255) {
      PyErr_SetString(PyExc_OverflowError, kOutOfRange);
      return false;
    }
    out[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
  }
  return true;
}

bool convert_class(PyObject* obj, Kind kind) {
  PyTypeObject* type = class_type(kind);
  if (!type) return false;
  if (!PyObject_TypeCheck(obj, type)) {
    PyErr_SetString(PyExc_TypeError, cannot_convert(obj, class_name(kind)).c_str());
    return false;
  }
  return true;
}

// A TypeError from converting argument NAME becomes a new TypeError
// "argument 'NAME': <message>" with the original's cause; other errors pass.
void prefix_argument_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t(type), v(value), trace(tb);
  Ref text(v ? PyObject_Str(v.p) : nullptr);
  if (!text) return;  // leaves the failure of str() set
  Ref message(PyUnicode_FromFormat("argument '%s': %U", name, text.p));
  if (!message) return;
  Ref new_exc(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.p, nullptr));
  if (!new_exc) return;
  PyObject* cause = v ? PyException_GetCause(v.p) : nullptr;  // new reference or NULL
  if (cause) PyException_SetCause(new_exc.p, cause);          // steals cause
  PyErr_SetObject(PyExc_TypeError, new_exc.p);
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string name_list(const std::vector<const char*>& names) {
  std::string out;
  size_t n = names.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0) {
      if (n > 2) out += ",";
      out += (i == n - 1) ? " and " : " ";
    }
    out += "'";
    out += names[i];
    out += "'";
  }
  return out;
}

void type_error(const std::string& message) { PyErr_SetString(PyExc_TypeError, message.c_str()); }

}  // namespace

// ---- Args ----

Args::~Args() {
  for (size_t i = 0; i < n_; ++i) Py_XDECREF(slots_[i].object);
}

bool Args::has_text_longer_than(size_t n) const {
  for (size_t i = 0; i < n_; ++i)
    if (slots_[i].kind == Kind::Str && slots_[i].text.size() > n) return true;
  return false;
}

const Args::Slot& Args::slot(size_t i, Kind kind) const {
  if (i >= n_ || slots_[i].kind != kind) fail("assertion failed: argument kind matches the parameter table");
  return slots_[i];
}

int32_t Args::i32(size_t i) const { return slot(i, Kind::I32).i32; }
uint64_t Args::usize(size_t i) const { return slot(i, Kind::Usize).u64; }
const std::string& Args::str(size_t i) const { return slot(i, Kind::Str).text; }
const std::array<uint8_t, 32>& Args::bytes32(size_t i) const { return slot(i, Kind::Bytes32).bytes; }
const Point& Args::commit(size_t i) const { return value_of<Point>(slot(i, Kind::Commit).object); }
const Scalar& Args::rand_r(size_t i) const { return value_of<Scalar>(slot(i, Kind::RandR).object); }
const GHValue& Args::gh(size_t i) const { return value_of<GHValue>(slot(i, Kind::GH).object); }
const PbSkValue& Args::pbsk(size_t i) const { return value_of<PbSkValue>(slot(i, Kind::PbSk).object); }
const Point& Args::hx(size_t i) const { return value_of<Point>(slot(i, Kind::Hx).object); }
const Point& Args::token(size_t i) const { return value_of<Point>(slot(i, Kind::Token).object); }

// ---- binding ----

bool bind_arguments(const char* full_name, const Param* params, size_t n, PyObject* args, PyObject* kwargs,
                    Args& out) {
  std::array<PyObject*, kMaxParams> bound{};  // borrowed
  Py_ssize_t n_pos = args ? PyTuple_Size(args) : 0;
  if (n_pos < 0) return false;

  if (static_cast<size_t>(n_pos) > n) {
    type_error(std::string(full_name) + " takes " + std::to_string(n) + " positional arguments but " +
               std::to_string(n_pos) + " " + (n_pos == 1 ? "was" : "were") + " given");
    return false;
  }
  for (Py_ssize_t i = 0; i < n_pos; ++i) bound[static_cast<size_t>(i)] = PyTuple_GetItem(args, i);

  if (kwargs) {
    PyObject *key, *value;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      // Compared without encoding, so that any str key is matched or reported.
      size_t match = n;
      if (PyUnicode_Check(key))
        for (size_t j = 0; j < n && match == n; ++j)
          if (PyUnicode_CompareWithASCIIString(key, params[j].name) == 0) match = j;
      if (match == n) {
        Ref message(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", full_name, key));
        if (message) PyErr_SetObject(PyExc_TypeError, message.p);
        return false;
      }
      if (bound[match]) {
        type_error(std::string(full_name) + " got multiple values for argument '" + params[match].name + "'");
        return false;
      }
      bound[match] = value;
    }
  }

  std::vector<const char*> missing;
  for (size_t j = 0; j < n; ++j)
    if (!bound[j]) missing.push_back(params[j].name);
  if (!missing.empty()) {
    type_error(std::string(full_name) + " missing " + std::to_string(missing.size()) + " required positional " +
               (missing.size() == 1 ? "argument" : "arguments") + ": " + name_list(missing));
    return false;
  }

  out.n_ = n;
  for (size_t j = 0; j < n; ++j) {
    Args::Slot& s = out.slots_[j];
    s.kind = params[j].kind;
    PyObject* obj = bound[j];
    bool ok;
    switch (params[j].kind) {
      case Kind::I32: ok = convert_i32(obj, s.i32); break;
      case Kind::Usize: ok = convert_usize(obj, s.u64); break;
      case Kind::Str: ok = convert_str(obj, s.text); break;
      case Kind::Bytes32: ok = convert_bytes32(obj, s.bytes); break;
      default:
        ok = convert_class(obj, params[j].kind);
        if (ok) {
          Py_INCREF(obj);
          s.object = obj;
        }
        break;
    }
    if (!ok) {
      prefix_argument_error(params[j].name);
      return false;
    }
  }
  return true;
}

namespace {

std::string function_full_name(const FunctionSpec& entry) { return std::string(entry.name) + "()"; }

std::string method_full_name(const MethodSpec& entry) {
  return std::string(class_name(entry.self_kind)) + "." + entry.name + "()";
}

// A method reached with a self of another class (only possible by calling the
// underlying function directly): the conversion message without a prefix.
bool check_self(const MethodSpec& entry, PyObject* self) { return convert_class(self, entry.self_kind); }

}  // namespace

PyObject* call_function(const FunctionSpec& entry, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> PyObject* {
    Args a;
    if (!bind_arguments(function_full_name(entry).c_str(), entry.params, entry.n_params, args, kwargs, a))
      return nullptr;
    return entry.body(a);
  });
}

PyObject* call_function_noargs(const FunctionSpec& entry) {
  return boundary([&]() -> PyObject* { return entry.body(Args{}); });
}

PyObject* call_method(const MethodSpec& entry, PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&]() -> PyObject* {
    if (!check_self(entry, self)) return nullptr;
    Args a;
    if (!bind_arguments(method_full_name(entry).c_str(), entry.params, entry.n_params, args, kwargs, a))
      return nullptr;
    return entry.body(self, a);
  });
}

PyObject* call_method_noargs(const MethodSpec& entry, PyObject* self) {
  return boundary([&]() -> PyObject* {
    if (!check_self(entry, self)) return nullptr;
    return entry.body(self, Args{});
  });
}

// ---- failures ----

// Made during module initialisation; read under the interpreter lock only.
PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (!type) type = PyErr_NewException("pyo3_runtime.PanicException", PyExc_BaseException, nullptr);
  return type;
}

void raise_panic(const std::string& message) {
  PyObject* type = panic_exception_type();
  if (!type) return;  // the creation failure stays set
  Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (!text) return;
  // A tuple, so that the message is the exception's only argument even if it
  // were a tuple itself.
  Ref args(PyTuple_Pack(1, text.p));
  if (!args) return;
  PyErr_SetObject(type, args.p);
}

void not_implemented(const char* name) {
  PyErr_SetString(PyExc_NotImplementedError, (std::string(name) + "() is not implemented yet").c_str());
  throw PythonErrorSet{};
}

void boundary_rethrown() noexcept {
  try {
    throw;
  } catch (const PythonErrorSet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const LimitError& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const InternalFailure& e) {
    try {
      raise_panic(e.message());
    } catch (...) {
      PyErr_NoMemory();
    }
  } catch (const std::exception& e) {
    try {
      raise_panic(e.what());
    } catch (...) {
      PyErr_NoMemory();
    }
  } catch (...) {
    try {
      raise_panic("unknown failure");
    } catch (...) {
      PyErr_NoMemory();
    }
  }
}

// ---- results ----

PyObject* new_str(std::string_view s) {
  PyObject* o = PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
  if (!o) throw PythonErrorSet{};
  return o;
}

PyObject* new_bool(bool b) { return PyBool_FromLong(b ? 1 : 0); }

PyObject* new_int(int32_t v) {
  PyObject* o = PyLong_FromLong(v);
  if (!o) throw PythonErrorSet{};
  return o;
}

PyObject* new_int_list(const uint8_t* data, size_t n) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(n)));
  if (!list) throw PythonErrorSet{};
  for (size_t i = 0; i < n; ++i) {
    PyObject* item = PyLong_FromLong(data[i]);
    if (!item) throw PythonErrorSet{};
    PyList_SetItem(list.p, static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

// ---- standard output ----

namespace {

std::string g_pending;  // partial line waiting for its newline; used under the interpreter lock only

void write_all(const char* data, size_t len) {
  while (len > 0) {
    ssize_t w = ::write(1, data, len);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere to report a failed diagnostic write; drop it
    }
    data += w;
    len -= static_cast<size_t>(w);
  }
}

}  // namespace

void stdout_write(std::string_view text) {
  size_t last_nl = text.rfind('\n');
  if (last_nl == std::string_view::npos) {
    g_pending.append(text);
    return;
  }
  std::string out;
  out.reserve(g_pending.size() + last_nl + 1);
  out.append(g_pending);
  out.append(text.substr(0, last_nl + 1));
  g_pending.assign(text.substr(last_nl + 1));
  write_all(out.data(), out.size());
}

void stdout_flush() {
  if (g_pending.empty()) return;
  std::string out;
  out.swap(g_pending);
  write_all(out.data(), out.size());
}

}  // namespace nacrel::py
