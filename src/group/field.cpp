#include "group/field.hpp"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "group/error.hpp"
#include "group/field_impl.hpp"
#include "group/secret.hpp"

#ifdef NACREL_HAVE_ADX_PATH
#include <cpuid.h>
#endif

namespace nacrel {

#ifdef NACREL_HAVE_ADX_PATH
namespace {
// BMI2 (mulx) and ADX (adcx/adox) from cpuid leaf 7, EBX bits 8 and 19. Read
// directly rather than through __builtin_cpu_supports, which not every
// compiler knows the "adx" feature name for.
bool cpu_has_adx() {
  static const bool has = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ((b >> 8) & 1) != 0 && ((b >> 19) & 1) != 0;
  }();
  return has;
}
}  // namespace

namespace fieldimpl {
std::atomic<bool> g_use_adx{cpu_has_adx()};
}  // namespace fieldimpl
#endif

bool set_fast_field_mul(bool on) {
#ifdef NACREL_HAVE_ADX_PATH
  const bool active = on && cpu_has_adx();
  fieldimpl::g_use_adx.store(active, std::memory_order_relaxed);
  return active;
#else
  (void)on;
  return false;
#endif
}

bool force_fast_field_mul(bool on) {
#ifdef NACREL_HAVE_ADX_PATH
  fieldimpl::g_use_adx = on;
  return on;
#else
  (void)on;
  return false;
#endif
}

bool fast_field_mul_active() {
#ifdef NACREL_HAVE_ADX_PATH
  return fieldimpl::g_use_adx.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

U256 u256_from_be(const uint8_t in[32]) {
  U256 out;
  for (int i = 0; i < 4; ++i) {
    uint64_t w = 0;
    for (int j = 0; j < 8; ++j) w = (w << 8) | in[(3 - i) * 8 + j];
    out.w[i] = w;
  }
  return out;
}

void u256_to_be(const U256& v, uint8_t out[32]) {
  for (int i = 0; i < 4; ++i) {
    uint64_t w = v.w[i];
    for (int j = 7; j >= 0; --j) {
      out[(3 - i) * 8 + j] = uint8_t(w);
      w >>= 8;
    }
  }
}

// Branch-free: the borrow of a - b.
bool u256_lt(const U256& a, const U256& b) {
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) fieldimpl::sbb(a.w[i], b.w[i], borrow);
  return borrow != 0;
}

template <class P>
Field<P> Field<P>::from_be_bytes_reduce(const uint8_t* data, size_t len) {
  // Horner's rule over 32-byte chunks, most significant first:
  // acc = acc * 2^256 + chunk. Each chunk is below 2^256 < 6m, so five
  // conditional subtractions reduce it. No branch depends on the bytes.
  Field acc = zero();
  size_t head = len % 32;
  size_t pos = 0;
  const Field r_elem = [] {
    Field f;
    for (int i = 0; i < 4; ++i) f.v[i] = P::R2.w[i];  // 2^256 in Montgomery form
    return f;
  }();
  while (pos < len) {
    size_t take = (pos == 0 && head != 0) ? head : 32;
    uint8_t buf[32] = {0};
    std::memcpy(buf + (32 - take), data + pos, take);
    pos += take;
    U256 c = u256_from_be(buf);
    for (int k = 0; k < 5; ++k) fieldimpl::reduce_once(c.w, c.w, 0, P::M);
    Field cm;
    fieldimpl::mont_mul<P>(cm.v, c.w, P::R2.w);
    acc = acc * r_elem + cm;
  }
  return acc;
}

// Fixed 4-bit windows over the exponent's bits from its top set bit: the
// sequence of squarings and table products depends only on e (public).
template <class P>
Field<P> Field<P>::pow_vartime(const U256& e) const {
  int top = 255;
  while (top >= 0 && ((e.w[top / 64] >> (top % 64)) & 1) == 0) --top;
  if (top < 0) return one();
  Field table[16];
  table[0] = one();
  table[1] = *this;
  for (int i = 2; i < 16; ++i) table[i] = table[i - 1] * *this;
  const int windows = top / 4 + 1;
  Field result = one();
  for (int w = windows - 1; w >= 0; --w) {
    if (w != windows - 1) result = result.sqr().sqr().sqr().sqr();
    unsigned nib = unsigned(e.w[w / 16] >> ((w % 16) * 4)) & 15;
    if (w == windows - 1) result = table[nib];
    else if (nib) result = result * table[nib];
  }
  return result;
}

// The exponent m - 2 is public, so the square-and-multiply sequence is fixed
// and nothing depends on the value being inverted.
template <class P>
Field<P> Field<P>::inverse_ct() const {
  return pow_vartime(P::M_MINUS_2);
}

namespace {

// Binary extended Euclid on the raw representative a (0 < a < m), with
// u = x1*a and v = x2*a (mod m) throughout. Runs of trailing zeros are
// removed at once: dividing x by 2^k modulo m adds the multiple t*m (t below
// 2^k) that makes x divisible by 2^k, as in Montgomery reduction.
template <class P>
U256 binary_inverse(const U256& a) {
  using namespace fieldimpl;
  const U256& m = P::M;
  U256 u = a, v = m;
  U256 x1{{1, 0, 0, 0}}, x2{{0, 0, 0, 0}};
  auto is_one = [](const U256& t) { return t.w[0] == 1 && (t.w[1] | t.w[2] | t.w[3]) == 0; };
  auto shr = [](U256& t, int k) {  // 0 < k < 64
    t.w[0] = (t.w[0] >> k) | (t.w[1] << (64 - k));
    t.w[1] = (t.w[1] >> k) | (t.w[2] << (64 - k));
    t.w[2] = (t.w[2] >> k) | (t.w[3] << (64 - k));
    t.w[3] >>= k;
  };
  auto div2k = [&](U256& x, int k) {  // x / 2^k mod m, 0 < k < 64, x < m
    const uint64_t t = (x.w[0] * P::INV) & ((uint64_t(1) << k) - 1);
    uint64_t r[5], c = 0;
    for (int i = 0; i < 4; ++i) r[i] = mac(x.w[i], t, m.w[i], c);
    r[4] = c;
    for (int i = 0; i < 4; ++i) x.w[i] = (r[i] >> k) | (r[i + 1] << (64 - k));
    // (x + t m) / 2^k < m / 2^k + m < 2m: one subtraction at most.
    reduce_once(x.w, x.w, 0, m);
  };
  // Removes all factors 2 from w, dividing x by the same power of 2.
  auto strip = [&](U256& w, U256& x) {
    while ((w.w[0] & 1) == 0) {
      int k = w.w[0] ? __builtin_ctzll(w.w[0]) : 63;
      shr(w, k);
      div2k(x, k);
    }
  };
  auto submod = [&](U256& x, const U256& y) {
    uint64_t b = 0;
    for (int i = 0; i < 4; ++i) x.w[i] = sbb(x.w[i], y.w[i], b);
    if (b) {
      uint64_t c = 0;
      for (int i = 0; i < 4; ++i) x.w[i] = adc(x.w[i], m.w[i], c);
    }
  };
  auto sub_in_place = [](U256& x, const U256& y) {
    uint64_t b = 0;
    for (int i = 0; i < 4; ++i) x.w[i] = sbb(x.w[i], y.w[i], b);
  };
  strip(u, x1);
  // u and v are odd here and after every step below.
  while (!is_one(u) && !is_one(v)) {
    if (!u256_lt(u, v)) {
      sub_in_place(u, v);
      submod(x1, x2);
      strip(u, x1);
    } else {
      sub_in_place(v, u);
      submod(x2, x1);
      strip(v, x2);
    }
  }
  return is_one(u) ? x1 : x2;
}

}  // namespace

template <class P>
Field<P> Field<P>::inverse_vartime() const {
  if (is_zero()) return zero();
  // For a = aR mod m (Montgomery form) the binary method gives (aR)^-1;
  // two Montgomery multiplications by R^2 turn that into a^-1 R.
  U256 raw;
  for (int i = 0; i < 4; ++i) raw.w[i] = v[i];
  U256 inv = binary_inverse<P>(raw);
  Field t;
  fieldimpl::mont_mul<P>(t.v, inv.w, P::R2.w);
  Field out;
  fieldimpl::mont_mul<P>(out.v, t.v, P::R2.w);
  return out;
}

template class Field<FqParams>;
template class Field<FrParams>;

namespace {
constexpr U256 kSqrtExp = fieldimpl::shr_c(fieldimpl::add_small_c(FqParams::M, 1), 2);   // (p+1)/4
constexpr U256 kEulerExp = fieldimpl::shr_c(fieldimpl::sub_c(FqParams::M, U256{{1, 0, 0, 0}}), 1);  // (p-1)/2
}  // namespace

bool fq_sqrt(const Fq& a, Fq& root) {
  Fq c = a.pow_vartime(kSqrtExp);
  if (c.sqr() != a) return false;
  root = c;
  return true;
}

bool fq_is_square(const Fq& a) { return a.pow_vartime(kEulerExp) == Fq::one(); }

// Binary Jacobi symbol (a/p): strip factors 2 (each flips the sign when
// p = 3, 5 mod 8), swap by quadratic reciprocity when a < p (flip when both
// are 3 mod 4), subtract. For the prime p it is the Legendre symbol.
bool fq_is_square_vartime(const Fq& x) {
  U256 a = x.to_canonical();
  U256 n = Fq::modulus();
  auto is_zero = [](const U256& t) { return (t.w[0] | t.w[1] | t.w[2] | t.w[3]) == 0; };
  auto is_one = [](const U256& t) { return t.w[0] == 1 && (t.w[1] | t.w[2] | t.w[3]) == 0; };
  if (is_zero(a)) return false;
  bool negative = false;
  for (;;) {
    // a != 0 here; n odd.
    while ((a.w[0] & 1) == 0) {
      int k = a.w[0] ? __builtin_ctzll(a.w[0]) : 63;
      a.w[0] = (a.w[0] >> k) | (a.w[1] << (64 - k));
      a.w[1] = (a.w[1] >> k) | (a.w[2] << (64 - k));
      a.w[2] = (a.w[2] >> k) | (a.w[3] << (64 - k));
      a.w[3] >>= k;
      uint64_t n8 = n.w[0] & 7;
      if ((k & 1) && (n8 == 3 || n8 == 5)) negative = !negative;
    }
    if (is_one(a)) return !negative;
    if (u256_lt(a, n)) {
      std::swap(a, n);
      if ((a.w[0] & 3) == 3 && (n.w[0] & 3) == 3) negative = !negative;
    }
    uint64_t b = 0;
    for (int i = 0; i < 4; ++i) a.w[i] = fieldimpl::sbb(a.w[i], n.w[i], b);
    if (is_zero(a)) return false;  // common factor; cannot happen for a prime modulus
  }
}

void os_random_bytes(void* buf, size_t len) {
  uint8_t* p = static_cast<uint8_t*>(buf);
  const size_t total = len;
  while (len > 0) {
    ssize_t n = getrandom(p, len, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(std::string("the operating system's random source failed: ") + std::strerror(errno));
    }
    p += n;
    len -= size_t(n);
  }
  ct::secret_drawn(buf, total);
}

Fr fr_random() {
  Wiped<U256> x;
  for (;;) {
    os_random_bytes(x->w, sizeof x->w);  // least significant word first
    x->w[3] &= ~uint64_t(0) >> 2;
    // A draw not below r is discarded, so whether it was below r tells
    // nothing about the value kept.
    bool below = u256_lt(*x, FrParams::M);
    ct::publish(below);
    if (below) {
      Fr out;
      fieldimpl::mont_mul<FrParams>(out.v, x->w, FrParams::R2.w);
      return out;
    }
  }
}

}  // namespace nacrel
