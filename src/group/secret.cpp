#include "group/secret.hpp"

#include <cstring>

namespace nacrel {

void secure_wipe(void* p, size_t n) {
  if (n == 0) return;
  std::memset(p, 0, n);
  // The asm takes p and clobbers memory: to the compiler it may read the
  // zeroed bytes, so the memset cannot be dropped as a dead store.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

namespace ct {

Hook g_secret_drawn = nullptr;
Hook g_published = nullptr;

void set_hooks(Hook secret_drawn, Hook published) {
  g_secret_drawn = secret_drawn;
  g_published = published;
}

}  // namespace ct

}  // namespace nacrel
