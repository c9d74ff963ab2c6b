// Type objects, properties and methods of Commit, rand_r, GH, Token, PbSk, hx.
#include "module/classes.hpp"

#include <array>

#include "group/bigint.hpp"
#include "group/encoding.hpp"
#include "group/secret.hpp"

namespace nacrel::py {

namespace {

// ---- lifecycle ----

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, "No constructor defined");
  return nullptr;
}

// The secrets an instance holds, wiped before its memory goes back to the
// allocator: the scalar of rand_r (a blinding) and the key of PbSk. Points
// are public.
void wipe_secret(Scalar& s) { secure_wipe(&s, sizeof s); }
void wipe_secret(PbSkValue& v) { secure_wipe(&v.sk, sizeof v.sk); }
template <class T>
void wipe_secret(T&) {}

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  T& value = reinterpret_cast<Instance<T>*>(self)->value;
  wipe_secret(value);
  value.~T();
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  // Instances of heap types hold a reference to their type.
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

// ---- helpers for members ----

template <class T>
const T& self_value(PyObject* self) {
  return value_of<T>(self);
}

// A property: a getter that runs inside the failure boundary.
template <PyObject* (*F)(PyObject*)>
PyObject* getter(PyObject* self, void*) {
  return boundary([&] { return F(self); });
}

template <const MethodSpec& S>
PyObject* method(PyObject* self, PyObject* args, PyObject* kwargs) {
  return call_method(S, self, args, kwargs);
}

template <const MethodSpec& S>
PyObject* method_noargs(PyObject* self, PyObject*) {
  return call_method_noargs(S, self);
}

#define NACREL_METHOD(entry) {entry.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method<entry>)), METH_VARARGS | METH_KEYWORDS, nullptr}
#define NACREL_METHOD0(entry) {entry.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_noargs<entry>)), METH_NOARGS, nullptr}
#define NACREL_GETTER(name, fn) {name, &getter<fn>, nullptr, nullptr, nullptr}

std::string decimal_of(const BigInt& n) { return n.to_dec(); }

// ---- Commit ----

PyObject* commit_get(PyObject* self) { return new_str(parse_scep256k1point_to_string(self_value<Point>(self))); }
PyObject* commit_x(PyObject* self) { return new_str(decimal_of(self_value<Point>(self).x_coord())); }
PyObject* commit_y(PyObject* self) { return new_str(decimal_of(self_value<Point>(self).y_coord())); }

PyObject* commit_is_zero(PyObject* self, const Args&) { return new_bool(self_value<Point>(self).is_identity()); }
PyObject* commit_sum(PyObject* self, const Args& a) { return new_commit(self_value<Point>(self) + a.commit(0)); }
PyObject* commit_sub(PyObject* self, const Args& a) { return new_commit(self_value<Point>(self) - a.commit(0)); }
PyObject* commit_to_bytes(PyObject* self, const Args&) {
  std::array<uint8_t, 64> enc = self_value<Point>(self).serialize_uncompressed();
  return new_int_list(enc.data(), enc.size());
}
PyObject* commit_from_bytes(PyObject*, const Args& a) {
  // The 32 bytes as one big-endian number, reduced modulo the group order.
  Scalar s;
  Scalar::deserialize(a.bytes32(0).data(), 32, s);
  return new_str(decimal_of(s.to_bigint()));
}

constexpr Param kCommitArg[] = {{"c", Kind::Commit}};
constexpr Param kBytesArg[] = {{"a", Kind::Bytes32}};
constexpr MethodSpec kCommitIsZero{Kind::Commit, "is_zero", nullptr, 0, commit_is_zero};
constexpr MethodSpec kCommitSum{Kind::Commit, "sum", kCommitArg, 1, commit_sum};
constexpr MethodSpec kCommitSub{Kind::Commit, "sub", kCommitArg, 1, commit_sub};
constexpr MethodSpec kCommitToBytes{Kind::Commit, "to_bytes", nullptr, 0, commit_to_bytes};
constexpr MethodSpec kCommitFromBytes{Kind::Commit, "from_bytes", kBytesArg, 1, commit_from_bytes};

PyMethodDef commit_methods[] = {
    NACREL_METHOD0(kCommitIsZero),  NACREL_METHOD(kCommitSum),       NACREL_METHOD(kCommitSub),
    NACREL_METHOD0(kCommitToBytes), NACREL_METHOD(kCommitFromBytes), {nullptr, nullptr, 0, nullptr}};
PyGetSetDef commit_getset[] = {NACREL_GETTER("get", commit_get),
                               NACREL_GETTER("to_str", commit_get),
                               NACREL_GETTER("x", commit_x),
                               NACREL_GETTER("y", commit_y),
                               {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- rand_r ----

PyObject* rand_r_get(PyObject* self) { return new_str(parse_scep256k1scalar_to_string(self_value<Scalar>(self))); }
PyObject* rand_r_sum(PyObject* self, const Args& a) { return new_rand_r(self_value<Scalar>(self) + a.rand_r(0)); }
PyObject* rand_r_sub(PyObject* self, const Args& a) { return new_rand_r(self_value<Scalar>(self) - a.rand_r(0)); }
PyObject* rand_r_neg(PyObject* self, const Args&) { return new_rand_r(Scalar::zero() - self_value<Scalar>(self)); }
PyObject* rand_r_is_zero(PyObject* self, const Args&) { return new_bool(self_value<Scalar>(self).is_zero()); }

constexpr Param kRandRArg[] = {{"r", Kind::RandR}};
constexpr MethodSpec kRandRSum{Kind::RandR, "sum", kRandRArg, 1, rand_r_sum};
constexpr MethodSpec kRandRSub{Kind::RandR, "sub", kRandRArg, 1, rand_r_sub};
constexpr MethodSpec kRandRNeg{Kind::RandR, "neg", nullptr, 0, rand_r_neg};
constexpr MethodSpec kRandRIsZero{Kind::RandR, "is_zero", nullptr, 0, rand_r_is_zero};

PyMethodDef rand_r_methods[] = {NACREL_METHOD(kRandRSum), NACREL_METHOD(kRandRSub), NACREL_METHOD0(kRandRNeg),
                                NACREL_METHOD0(kRandRIsZero), {nullptr, nullptr, 0, nullptr}};
PyGetSetDef rand_r_getset[] = {NACREL_GETTER("get", rand_r_get),
                               NACREL_GETTER("to_string", rand_r_get),
                               {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- GH ----

PyObject* gh_h(PyObject* self) { return new_str(parse_scep256k1point_to_string(self_value<GHValue>(self).h)); }
PyObject* gh_g(PyObject* self) { return new_str(parse_scep256k1point_to_string(self_value<GHValue>(self).g)); }

PyMethodDef gh_methods[] = {{nullptr, nullptr, 0, nullptr}};
PyGetSetDef gh_getset[] = {
    NACREL_GETTER("h", gh_h), NACREL_GETTER("g", gh_g), {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- Token ----

PyMethodDef token_methods[] = {{nullptr, nullptr, 0, nullptr}};
PyGetSetDef token_getset[] = {NACREL_GETTER("get", commit_get),
                              NACREL_GETTER("to_str", commit_get),
                              {nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- PbSk ----

PyObject* pbsk_to_token(PyObject* self, const Args& a) {
  // The blinding scalar is secret: constant-time product, some 50 us, with
  // the interpreter lock released.
  return new_token(unlocked([&] { return self_value<PbSkValue>(self).pk * a.rand_r(0); }));
}
PyObject* pbsk_get_sk(PyObject* self, const Args&) {
  return new_str(parse_scep256k1scalar_to_string(self_value<PbSkValue>(self).sk));
}
PyObject* pbsk_get_pk(PyObject* self, const Args&) {
  return new_str(parse_scep256k1point_to_string(self_value<PbSkValue>(self).pk));
}

constexpr MethodSpec kPbSkToToken{Kind::PbSk, "to_token", kRandRArg, 1, pbsk_to_token};
constexpr MethodSpec kPbSkGetSk{Kind::PbSk, "get_sk", nullptr, 0, pbsk_get_sk};
constexpr MethodSpec kPbSkGetPk{Kind::PbSk, "get_pk", nullptr, 0, pbsk_get_pk};

PyMethodDef pbsk_methods[] = {NACREL_METHOD(kPbSkToToken), NACREL_METHOD0(kPbSkGetSk), NACREL_METHOD0(kPbSkGetPk),
                              {nullptr, nullptr, 0, nullptr}};
PyGetSetDef pbsk_getset[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- hx: holds a point and exposes nothing ----

PyMethodDef hx_methods[] = {{nullptr, nullptr, 0, nullptr}};
PyGetSetDef hx_getset[] = {{nullptr, nullptr, nullptr, nullptr, nullptr}};

// ---- type specs ----

struct ClassDef {
  const char* name;       // Python name
  const char* full_name;  // type name with module; static storage (not copied before 3.11)
  int basicsize;
  destructor dealloc;
  PyMethodDef* methods;
  PyGetSetDef* getset;
};

// Indexed by Kind - Kind::Commit.
const ClassDef kClassDefs[] = {
    {"Commit", "builtins.Commit", sizeof(Instance<Point>), &dealloc<Point>, commit_methods, commit_getset},
    {"rand_r", "builtins.rand_r", sizeof(Instance<Scalar>), &dealloc<Scalar>, rand_r_methods, rand_r_getset},
    {"GH", "builtins.GH", sizeof(Instance<GHValue>), &dealloc<GHValue>, gh_methods, gh_getset},
    {"PbSk", "builtins.PbSk", sizeof(Instance<PbSkValue>), &dealloc<PbSkValue>, pbsk_methods, pbsk_getset},
    {"hx", "builtins.hx", sizeof(Instance<Point>), &dealloc<Point>, hx_methods, hx_getset},
    {"Token", "builtins.Token", sizeof(Instance<Point>), &dealloc<Point>, token_methods, token_getset},
};

size_t class_index(Kind k) { return static_cast<size_t>(k) - static_cast<size_t>(Kind::Commit); }

// Created on first use; never destroyed. The interpreter lock serialises
// creation.
PyTypeObject* g_types[6] = {};

PyTypeObject* create_type(const ClassDef& def) {
  // Slots and type specs live in static storage: before 3.11 the interpreter keeps
  // pointers into the PyType_Spec (the name in particular).
  static PyType_Slot slots[6][5];
  static PyType_Spec specs[6];
  size_t i = static_cast<size_t>(&def - kClassDefs);
  slots[i][0] = {Py_tp_new, reinterpret_cast<void*>(&no_constructor)};
  slots[i][1] = {Py_tp_dealloc, reinterpret_cast<void*>(def.dealloc)};
  slots[i][2] = {Py_tp_methods, def.methods};
  slots[i][3] = {Py_tp_getset, def.getset};
  slots[i][4] = {0, nullptr};
  // Default flags only: no Py_TPFLAGS_BASETYPE, so the class is final.
  specs[i] = {def.full_name, def.basicsize, 0, Py_TPFLAGS_DEFAULT, slots[i]};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&specs[i]));
}

}  // namespace

const char* class_name(Kind k) { return kClassDefs[class_index(k)].name; }

PyTypeObject* class_type(Kind k) {
  size_t i = class_index(k);
  if (!g_types[i]) g_types[i] = create_type(kClassDefs[i]);
  return g_types[i];
}

PyObject* new_commit(const Point& p) { return new_instance(Kind::Commit, p); }
PyObject* new_rand_r(const Scalar& s) { return new_instance(Kind::RandR, s); }
PyObject* new_gh(const Point& g, const Point& h) { return new_instance(Kind::GH, GHValue{h, g}); }
PyObject* new_pbsk(const Scalar& sk, const Point& pk) { return new_instance(Kind::PbSk, PbSkValue{sk, pk}); }
PyObject* new_hx(const Point& p) { return new_instance(Kind::Hx, p); }
PyObject* new_token(const Point& p) { return new_instance(Kind::Token, p); }

}  // namespace nacrel::py
