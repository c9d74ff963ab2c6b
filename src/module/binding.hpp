// Argument binding and conversion for the module's functions and methods,
// result conversion, and the boundary where C++ failures become Python
// exceptions. Everything here runs with the interpreter lock held, except the
// code inside an AllowThreads scope.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::py {

// Python-side kinds of parameters.
enum class Kind : uint8_t { I32, Usize, Str, Bytes32, Commit, RandR, GH, PbSk, Hx, Token };

struct Param {
  const char* name;
  Kind kind;
};

// The most parameters any function or method takes.
inline constexpr size_t kMaxParams = 6;

// One module function: its name, its parameter list and its body.
class Args;
using Body = PyObject* (*)(const Args&);
struct FunctionSpec {
  const char* name;
  const Param* params;
  size_t n_params;
  Body body;
};

// One method of a class (self_kind names the class, so F reads
// "Class.method()"); the body also gets self.
using MethodBody = PyObject* (*)(PyObject* self, const Args&);
struct MethodSpec {
  Kind self_kind;
  const char* name;
  const Param* params;
  size_t n_params;
  MethodBody body;
};

// Values held by the two-value classes.
struct GHValue {
  Point h, g;
};
struct PbSkValue {
  Scalar sk;
  Point pk;
};

// Thrown inside the boundary when a Python exception is already set; the
// boundary then returns NULL and leaves that exception in place.
struct PythonErrorSet {};

// The converted arguments of one call, in parameter order. Class arguments
// are held by a reference of their own until the Args is destroyed (with the
// lock held), so that their values stay valid while the lock is released even
// if the caller's containers change meanwhile; instances are immutable.
class Args {
 public:
  Args() = default;
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args();

  size_t size() const { return n_; }
  // Whether some text argument is longer than n bytes.
  bool has_text_longer_than(size_t n) const;

  int32_t i32(size_t i) const;
  uint64_t usize(size_t i) const;
  const std::string& str(size_t i) const;
  const std::array<uint8_t, 32>& bytes32(size_t i) const;
  const Point& commit(size_t i) const;
  const Scalar& rand_r(size_t i) const;
  const GHValue& gh(size_t i) const;
  const PbSkValue& pbsk(size_t i) const;
  const Point& hx(size_t i) const;
  const Point& token(size_t i) const;

 private:
  struct Slot {
    Kind kind;
    int32_t i32 = 0;
    uint64_t u64 = 0;
    std::string text;
    std::array<uint8_t, 32> bytes{};
    PyObject* object = nullptr;  // owned
  };
  const Slot& slot(size_t i, Kind kind) const;

  std::array<Slot, kMaxParams> slots_;
  size_t n_ = 0;

  friend bool bind_arguments(const char*, const Param*, size_t, PyObject*, PyObject*, Args&);
};

// Binds args/kwargs to the parameter list and converts every argument; on
// failure sets the Python exception and returns false. full_name is F of the
// binding messages, e.g. "commit()" or "Commit.sum()".
bool bind_arguments(const char* full_name, const Param* params, size_t n, PyObject* args, PyObject* kwargs,
                    Args& out);

// Calls a module function: bind, run the body inside the failure boundary.
PyObject* call_function(const FunctionSpec& entry, PyObject* args, PyObject* kwargs);
// Calls a function registered without parameters.
PyObject* call_function_noargs(const FunctionSpec& entry);
// Calls a method: checks self, binds, runs the body inside the boundary.
PyObject* call_method(const MethodSpec& entry, PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* call_method_noargs(const MethodSpec& entry, PyObject* self);

// Releases the interpreter lock for its lifetime and takes it back at scope
// exit, during unwinding too, so that a core failure thrown inside reaches the
// boundary with the lock held. Inside, only plain C++ values may be touched:
// no Python object, no reference count, no Python exception.
class AllowThreads {
 public:
  explicit AllowThreads(bool release = true) : state_(release ? PyEval_SaveThread() : nullptr) {}
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;
  ~AllowThreads() {
    if (state_) PyEval_RestoreThread(state_);
  }

 private:
  PyThreadState* state_;
};

// f() with the lock released; its result (a plain C++ value) is handed back
// once the lock is held again.
template <class F>
auto unlocked(F&& f) {
  AllowThreads released;
  return f();
}

// f() with the lock released only when release is true.
template <class F>
auto unlocked_if(bool release, F&& f) {
  AllowThreads released(release);
  return f();
}

// Texts longer than this are decoded with the lock released: decoding costs
// a few nanoseconds a byte, against some 1 us for releasing and taking back.
inline constexpr size_t kLongText = 16 * 1024;

// f() with the lock released when some text argument of a is long.
template <class F>
auto unlocked_if_long(const Args& a, F&& f) {
  return unlocked_if(a.has_text_longer_than(kLongText), std::forward<F>(f));
}

// Runs f() and turns every C++ exception into a Python exception:
// InternalFailure and any other std::exception -> PanicException(message),
// std::bad_alloc -> MemoryError, PythonErrorSet -> the exception already set.
// No exception leaves this function.
template <class F>
PyObject* boundary(F&& f) noexcept;

// Raises NotImplementedError "NAME() is not implemented yet" (throws
// PythonErrorSet): the body of a function whose area is not built yet.
[[noreturn]] void not_implemented(const char* name);

// Sets PanicException(message) as the current exception.
void raise_panic(const std::string& message);
// The PanicException type (created on first use); NULL with an exception set
// if it cannot be created.
PyObject* panic_exception_type();

// Result conversions; each returns a new reference or throws PythonErrorSet.
PyObject* new_str(std::string_view s);
PyObject* new_bool(bool b);
PyObject* new_int(int32_t v);
PyObject* new_int_list(const uint8_t* data, size_t n);
PyObject* new_commit(const Point& p);
PyObject* new_rand_r(const Scalar& s);
PyObject* new_gh(const Point& g, const Point& h);
PyObject* new_pbsk(const Scalar& sk, const Point& pk);
PyObject* new_hx(const Point& p);
PyObject* new_token(const Point& p);

// Writes text to file descriptor 1 (not sys.stdout), line-buffered: complete
// lines go out at once, a trailing partial line waits for its newline or for
// stdout_flush().
void stdout_write(std::string_view text);
void stdout_flush();

// ---- implementation of the template ----

void boundary_rethrown() noexcept;  // translates the exception in flight

template <class F>
PyObject* boundary(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    boundary_rethrown();
    return nullptr;
  }
}

}  // namespace nacrel::py
