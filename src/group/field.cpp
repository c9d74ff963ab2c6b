#include "group/field.hpp"

#include <sys/random.h>

#include <algorithm>
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

namespace {

// Inversion by Bernstein and Yang's divsteps ("Fast constant-time gcd
// computation and modular inversion", 2019), in batches of 62 on the low
// words, variable time: runs of zero bits are skipped at once and up to six
// low bits of g are cleared per addition, and it stops as soon as g is 0.
//
// Integers are five signed limbs of 62 bits (limbs 0..3 in [0, 2^62), the
// top one signed), so a batch's division by 2^62 drops a limb.
constexpr uint64_t kM62 = (uint64_t(1) << 62) - 1;

struct S62 {
  int64_t v[5];
};

inline S62 s62_of(const U256& a) {
  return S62{{int64_t(a.w[0] & kM62), int64_t(((a.w[0] >> 62) | (a.w[1] << 2)) & kM62),
              int64_t(((a.w[1] >> 60) | (a.w[2] << 4)) & kM62), int64_t(((a.w[2] >> 58) | (a.w[3] << 6)) & kM62),
              int64_t(a.w[3] >> 56)}};
}

// For a value in [0, 2^256).
inline U256 u256_of(const S62& a) {
  const uint64_t* v = reinterpret_cast<const uint64_t*>(a.v);
  return U256{{v[0] | (v[1] << 62), (v[1] >> 2) | (v[2] << 60), (v[2] >> 4) | (v[3] << 58), (v[3] >> 6) | (v[4] << 56)}};
}

// Transition matrix of 62 divsteps, scaled by 2^62:
// 2^62 (f', g') = (u f + v g, q f + r g).
struct Trans {
  int64_t u, v, q, r;
};

// 62 divsteps from delta on the low 64 bits of f (odd) and g; returns the
// new delta. A divstep is: g odd and delta > 0: (delta, f, g) ->
// (1 - delta, g, (g - f) / 2); g odd otherwise: (1 + delta, f, (g + f) / 2);
// g even: (1 + delta, f, g / 2). The first case is a swap (f, g) -> (g, -f),
// delta -> -delta followed by the second. While delta stays <= 0, k steps
// with g odd at the first add w*f to g for the w < 2^k that clears k low bits
// (w = -g/f mod 2^k), then halve k times; k <= 1 - delta keeps delta <= 0 at
// every step that adds.
inline int64_t divsteps_62(int64_t delta, uint64_t f, uint64_t g, Trans& t) {
  int64_t u = 1, v = 0, q = 0, r = 1;
  int left = 62;
  for (;;) {
    const int zeros = __builtin_ctzll(g | (uint64_t(1) << left));
    g >>= zeros;
    u *= int64_t(1) << zeros;
    v *= int64_t(1) << zeros;
    delta += zeros;
    left -= zeros;
    if (left == 0) break;
    if (delta > 0) {
      delta = -delta;
      const uint64_t tf = f;
      f = g;
      g = uint64_t(0) - tf;
      const int64_t tu = u, tv = v;
      u = q;
      v = r;
      q = -tu;
      r = -tv;
    }
    // g odd, delta <= 0.
    const int64_t k = std::min<int64_t>(std::min<int64_t>(1 - delta, left), 6);
    const uint64_t mask = (uint64_t(1) << k) - 1;
    // f (2 - f^2) is 1/f mod 64 for odd f (f^2 = 1 mod 8, one Newton step).
    const uint64_t w = (g * f * (f * f - 2)) & mask;  // -g/f mod 2^k
    g += f * w;
    q += u * int64_t(w);
    r += v * int64_t(w);
  }
  t = Trans{u, v, q, r};
  return delta;
}

// The same divsteps in constant time: 62 per batch with masks instead of
// branches, and a fixed 12 batches. For inputs below 2^254, 735 divsteps
// (from delta = 1) always reach g = 0 (Bernstein and Yang's bound
// floor((49 d + 57) / 17) for d = 254 bits); further steps keep g = 0 and
// change nothing but delta and a factor 2 in d that the batches' division
// removes again.
inline int64_t divsteps_62_ct(int64_t delta, uint64_t f, uint64_t g, Trans& t) {
  int64_t u = 1, v = 0, q = 0, r = 1;
  for (int i = 0; i < 62; ++i) {
    // swap: g odd and delta > 0.
    const uint64_t odd = uint64_t(0) - (g & 1);
    const uint64_t swap = odd & uint64_t((-delta) >> 63);
    // (f, g, u, v, q, r, delta) -> (g, -f, q, r, -u, -v, -delta) under swap.
    const uint64_t xf = (f ^ g) & swap;
    f ^= xf;
    g = ((g ^ xf) ^ swap) - swap;
    const int64_t xu = (u ^ q) & int64_t(swap), xv = (v ^ r) & int64_t(swap);
    u ^= xu;
    v ^= xv;
    q = ((q ^ xu) ^ int64_t(swap)) - int64_t(swap);
    r = ((r ^ xv) ^ int64_t(swap)) - int64_t(swap);
    delta = ((delta ^ int64_t(swap)) - int64_t(swap)) + 1;
    // g odd: g += f (and the matrix rows likewise), then halve.
    g += f & odd;
    q += u & int64_t(odd);
    r += v & int64_t(odd);
    g >>= 1;
    u *= 2;
    v *= 2;
  }
  t = Trans{u, v, q, r};
  return delta;
}

// (f, g) <- (u f + v g, q f + r g) / 2^62, exact.
inline void update_fg(S62& f, S62& g, const Trans& t) {
  using i128 = __int128;
  i128 cf = i128(t.u) * f.v[0] + i128(t.v) * g.v[0];
  i128 cg = i128(t.q) * f.v[0] + i128(t.r) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (int k = 1; k < 5; ++k) {
    cf += i128(t.u) * f.v[k] + i128(t.v) * g.v[k];
    cg += i128(t.q) * f.v[k] + i128(t.r) * g.v[k];
    f.v[k - 1] = int64_t(uint64_t(cf) & kM62);
    g.v[k - 1] = int64_t(uint64_t(cg) & kM62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[4] = int64_t(cf);
  g.v[4] = int64_t(cg);
}

inline void s62_add(S62& a, const S62& b) {
  int64_t c = 0;
  for (int k = 0; k < 4; ++k) {
    c += a.v[k] + b.v[k];
    a.v[k] = int64_t(uint64_t(c) & kM62);
    c >>= 62;
  }
  a.v[4] += b.v[4] + c;
}

// a - b, returning whether it is negative.
inline bool s62_sub(S62& out, const S62& a, const S62& b) {
  int64_t c = 0;
  for (int k = 0; k < 4; ++k) {
    c += a.v[k] - b.v[k];
    out.v[k] = int64_t(uint64_t(c) & kM62);
    c >>= 62;
  }
  out.v[4] = a.v[4] - b.v[4] + c;
  return out.v[4] < 0;
}

// (d, e) <- (u d + v e, q d + r e) / 2^62 mod m, for d, e in [0, m): the
// multiples t m added (t < 2^62, t = (u d + v e) * (-1/m) mod 2^62) clear the
// low limb, leaving values in (-m, 2m), which one correction brings back
// (by branches, or by masks for the constant-time inverse).
template <class P, bool kConstTime>
inline void update_de(S62& d, S62& e, const Trans& t, const S62& m) {
  using i128 = __int128;
  i128 cd = i128(t.u) * d.v[0] + i128(t.v) * e.v[0];
  i128 ce = i128(t.q) * d.v[0] + i128(t.r) * e.v[0];
  const int64_t td = int64_t((uint64_t(cd) * P::INV) & kM62);
  const int64_t te = int64_t((uint64_t(ce) * P::INV) & kM62);
  cd += i128(td) * m.v[0];
  ce += i128(te) * m.v[0];
  cd >>= 62;
  ce >>= 62;
  for (int k = 1; k < 5; ++k) {
    cd += i128(t.u) * d.v[k] + i128(t.v) * e.v[k] + i128(td) * m.v[k];
    ce += i128(t.q) * d.v[k] + i128(t.r) * e.v[k] + i128(te) * m.v[k];
    d.v[k - 1] = int64_t(uint64_t(cd) & kM62);
    e.v[k - 1] = int64_t(uint64_t(ce) & kM62);
    cd >>= 62;
    ce >>= 62;
  }
  d.v[4] = int64_t(cd);
  e.v[4] = int64_t(ce);
  for (S62* x : {&d, &e}) {
    if constexpr (kConstTime) {
      // + m when negative, then - m when not below m.
      const int64_t neg = x->v[4] >> 63;
      S62 mm;
      for (int k = 0; k < 5; ++k) mm.v[k] = m.v[k] & neg;
      s62_add(*x, mm);
      S62 y;
      s62_sub(y, *x, m);
      const int64_t keep = y.v[4] >> 63;  // all-ones: x < m, keep x
      for (int k = 0; k < 5; ++k) x->v[k] = (x->v[k] & keep) | (y.v[k] & ~keep);
    } else if (x->v[4] < 0) {
      s62_add(*x, m);
    } else {
      S62 y;
      if (!s62_sub(y, *x, m)) *x = y;
    }
  }
}

// c / a mod m for 0 < a < m and c < m (raw integers). f = m, g = a,
// d = 0, e = c keep f = d a / c and g = e a / c (mod m); the divsteps end
// with g = 0 and f = +-gcd = +-1, so c / a = f d. The constant-time form
// runs its fixed 12 batches; for a = 0 it leaves f = m and d = 0, so 0 maps
// to 0.
template <class P, bool kConstTime>
U256 divstep_inverse(const U256& a, const U256& c) {
  const S62 m = s62_of(P::M);
  S62 f = m, g = s62_of(a), d{{0, 0, 0, 0, 0}}, e = s62_of(c);
  int64_t delta = 1;
  auto low64 = [](const S62& x) { return uint64_t(x.v[0]) | (uint64_t(x.v[1]) << 62); };
  for (int batch = 0;; ++batch) {
    Trans t;
    if constexpr (kConstTime) {
      if (batch == 12) break;
      delta = divsteps_62_ct(delta, low64(f), low64(g), t);
    } else {
      delta = divsteps_62(delta, low64(f), low64(g), t);
    }
    update_fg(f, g, t);
    update_de<P, kConstTime>(d, e, t, m);
    if constexpr (!kConstTime) {
      if ((g.v[0] | g.v[1] | g.v[2] | g.v[3] | g.v[4]) == 0) break;
    }
  }
  // d or, for f = -1, -d mod m.
  S62 z{{0, 0, 0, 0, 0}}, y;
  s62_sub(y, z, d);  // -d in (-m, 0]
  const int64_t below = y.v[4] >> 63;
  S62 mm;
  for (int k = 0; k < 5; ++k) mm.v[k] = m.v[k] & below;
  s62_add(y, mm);
  const int64_t flip = f.v[4] >> 63;
  for (int k = 0; k < 5; ++k) d.v[k] = (y.v[k] & flip) | (d.v[k] & ~flip);
  return u256_of(d);
}

}  // namespace

template <class P>
Field<P> Field<P>::inverse_vartime() const {
  if (is_zero()) return zero();
  // For the representative a = xR mod m (Montgomery form) the result is
  // x^-1 R = R^2 / a: the divsteps give c / a directly for c = R^2 mod m.
  U256 raw;
  for (int i = 0; i < 4; ++i) raw.w[i] = v[i];
  const U256 inv = divstep_inverse<P, false>(raw, P::R2);
  Field out;
  for (int i = 0; i < 4; ++i) out.v[i] = inv.w[i];
  return out;
}

// Divsteps in constant time: a fixed number of steps, masks for every
// choice, no table index; 0 maps to 0.
template <class P>
Field<P> Field<P>::inverse_ct() const {
  U256 raw;
  for (int i = 0; i < 4; ++i) raw.w[i] = v[i];
  const U256 inv = divstep_inverse<P, true>(raw, P::R2);
  Field out;
  for (int i = 0; i < 4; ++i) out.v[i] = inv.w[i];
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

namespace {

// The element of a draw of four words (least significant first), top two
// bits cleared, when it is below r; false (drop it) otherwise. Whether a
// draw was kept tells nothing about the draws that are.
bool fr_of_draw(U256& x, Fr& out) {
  x.w[3] &= ~uint64_t(0) >> 2;
  bool below = u256_lt(x, FrParams::M);
  ct::publish(below);
  if (below) fieldimpl::mont_mul<FrParams>(out.v, x.w, FrParams::R2.w);
  return below;
}

}  // namespace

Fr fr_random() {
  Wiped<U256> x;
  Fr out;
  do {
    os_random_bytes(x->w, sizeof x->w);
  } while (!fr_of_draw(*x, out));
  return out;
}

void fr_random_nonzero(Fr* out, size_t n) {
  constexpr size_t kBatch = 64;
  Wiped<U256[kBatch]> words;
  Wiped<Fr> f;
  size_t done = 0;
  while (done < n) {
    const size_t take = std::min(kBatch, n - done);
    os_random_bytes(*words, take * sizeof(U256));
    for (size_t k = 0; k < take && done < n; ++k) {
      if (!fr_of_draw((*words)[k], *f)) continue;
      bool zero = f->is_zero();
      ct::publish(zero);
      if (!zero) out[done++] = *f;
    }
  }
}

}  // namespace nacrel
