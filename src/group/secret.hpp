// Secret data in memory: wiping it before its storage is released, and the
// hooks through which the constant-time check (tests/ct) learns which bytes
// are secret and which the protocol publishes.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace nacrel {

// Sets n bytes at p to zero, followed by a compiler barrier, so the stores
// survive even right before the memory is freed.
void secure_wipe(void* p, size_t n);

// A value wiped when it goes out of scope; T must be trivially copyable.
// Not copyable, so no unwiped copy is made by accident.
template <class T>
class Wiped {
 public:
  template <class... A>
  explicit Wiped(A&&... args) : value_(std::forward<A>(args)...) {}
  ~Wiped() { secure_wipe(&value_, sizeof value_); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;

  T& operator*() { return value_; }
  const T& operator*() const { return value_; }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }

 private:
  T value_;
};

// A vector whose whole buffer (its capacity) is wiped on destruction; T must
// be trivially copyable. Growing it past its capacity would free the old
// buffer unwiped, so it is made with its final size.
template <class T, class Alloc = std::allocator<T>>
class SecretVector : public std::vector<T, Alloc> {
 public:
  using std::vector<T, Alloc>::vector;
  SecretVector(SecretVector&&) = default;
  SecretVector(const SecretVector&) = delete;
  SecretVector& operator=(const SecretVector&) = delete;
  ~SecretVector() { secure_wipe(this->data(), this->capacity() * sizeof(T)); }
};

namespace ct {

// Hooks of the constant-time check, null in normal use. That check alone
// sets them (nothing in the Python module does): secret_drawn marks the
// bytes just drawn from the random source as secret, published marks a
// secret-derived value as public at the point where the protocol reveals it.
using Hook = void (*)(const void*, size_t);
extern Hook g_secret_drawn;
extern Hook g_published;
void set_hooks(Hook secret_drawn, Hook published);

inline void secret_drawn(const void* p, size_t n) {
  if (g_secret_drawn) g_secret_drawn(p, n);
}
inline void published(const void* p, size_t n) {
  if (g_published) g_published(p, n);
}
// The object v (its own bytes; not the storage it points to). Calls must
// name a non-const object that is read after the call, so that the compiler
// reloads it from memory.
template <class T>
inline void publish(T& v) {
  published(&v, sizeof v);
}

}  // namespace ct

}  // namespace nacrel
