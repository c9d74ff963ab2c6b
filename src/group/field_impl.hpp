// Montgomery arithmetic for Fq and Fr: the parameter structs and the bodies of
// the Field template. Included by field.cpp (which instantiates both fields)
// and by the curve code, so that the hot operations can be inlined there.
#pragma once

#include <atomic>
#include <cstdint>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "group/field.hpp"

// The hot field helpers are forced inline. GCC does not always honour the
// attribute on the out-of-class Field members, so the curve code also marks
// its formulas flatten.
#define NACREL_INLINE inline __attribute__((always_inline))

namespace nacrel {

namespace fieldimpl {

using u128 = unsigned __int128;

#if defined(__x86_64__)
// a + b + carry -> low word, carry out (0 or 1); compiles to adc.
NACREL_INLINE uint64_t adc(uint64_t a, uint64_t b, uint64_t& carry) {
  unsigned long long out;
  carry = _addcarry_u64((unsigned char)carry, a, b, &out);
  return out;
}

// a - b - borrow -> low word, borrow out (0 or 1); compiles to sbb.
NACREL_INLINE uint64_t sbb(uint64_t a, uint64_t b, uint64_t& borrow) {
  unsigned long long out;
  borrow = _subborrow_u64((unsigned char)borrow, a, b, &out);
  return out;
}
#else
// a + b + carry -> low word, carry out.
NACREL_INLINE uint64_t adc(uint64_t a, uint64_t b, uint64_t& carry) {
  u128 t = u128(a) + b + carry;
  carry = uint64_t(t >> 64);
  return uint64_t(t);
}

// a - b - borrow -> low word, borrow out (0 or 1).
NACREL_INLINE uint64_t sbb(uint64_t a, uint64_t b, uint64_t& borrow) {
  u128 t = u128(a) - b - borrow;
  borrow = uint64_t(t >> 64) & 1;
  return uint64_t(t);
}
#endif

// acc + a * b + carry -> low word, high word into carry.
NACREL_INLINE uint64_t mac(uint64_t acc, uint64_t a, uint64_t b, uint64_t& carry) {
  u128 t = u128(a) * b + acc + carry;
  carry = uint64_t(t >> 64);
  return uint64_t(t);
}

// ---- compile-time helpers for the derived constants ----

constexpr bool ge_c(const U256& a, const U256& b) {
  for (int i = 3; i >= 0; --i) {
    if (a.w[i] != b.w[i]) return a.w[i] > b.w[i];
  }
  return true;
}

constexpr U256 sub_c(const U256& a, const U256& b) {
  U256 r{};
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) {
    u128 t = u128(a.w[i]) - b.w[i] - borrow;
    r.w[i] = uint64_t(t);
    borrow = uint64_t(t >> 64) & 1;
  }
  return r;
}

constexpr U256 add_small_c(const U256& a, uint64_t s) {
  U256 r{};
  u128 carry = s;
  for (int i = 0; i < 4; ++i) {
    u128 t = u128(a.w[i]) + carry;
    r.w[i] = uint64_t(t);
    carry = t >> 64;
  }
  return r;
}

constexpr U256 shr_c(const U256& a, int s) {
  U256 r{};
  for (int i = 0; i < 4; ++i) {
    r.w[i] = a.w[i] >> s;
    if (i < 3 && s > 0) r.w[i] |= a.w[i + 1] << (64 - s);
  }
  return r;
}

// 2^bits mod m for m < 2^255, by repeated doubling.
constexpr U256 pow2_mod_c(const U256& m, int bits) {
  U256 x{{1, 0, 0, 0}};
  for (int i = 0; i < bits; ++i) {
    U256 d{};
    uint64_t carry = 0;
    for (int j = 0; j < 4; ++j) {
      d.w[j] = (x.w[j] << 1) | carry;
      carry = x.w[j] >> 63;
    }
    if (ge_c(d, m)) d = sub_c(d, m);
    x = d;
  }
  return x;
}

// -m^-1 mod 2^64 by Newton iteration (m odd).
constexpr uint64_t neg_inv64_c(uint64_t m0) {
  uint64_t inv = 1;
  for (int i = 0; i < 7; ++i) inv *= 2 - m0 * inv;
  return uint64_t(0) - inv;
}

}  // namespace fieldimpl

// Both moduli are below 2^254, which the carry handling below relies on
// (a sum of two reduced elements never exceeds 2^256).
struct FqParams {
  static constexpr U256 M{{0x3c208c16d87cfd47ULL, 0x97816a916871ca8dULL, 0xb85045b68181585dULL, 0x30644e72e131a029ULL}};
  static constexpr uint64_t INV = fieldimpl::neg_inv64_c(M.w[0]);
  static constexpr U256 R = fieldimpl::pow2_mod_c(M, 256);   // 1 in Montgomery form
  static constexpr U256 R2 = fieldimpl::pow2_mod_c(M, 512);  // converts into Montgomery form
  static constexpr U256 M_MINUS_2 = fieldimpl::sub_c(M, U256{{2, 0, 0, 0}});
};

struct FrParams {
  static constexpr U256 M{{0x43e1f593f0000001ULL, 0x2833e84879b97091ULL, 0xb85045b68181585dULL, 0x30644e72e131a029ULL}};
  static constexpr uint64_t INV = fieldimpl::neg_inv64_c(M.w[0]);
  static constexpr U256 R = fieldimpl::pow2_mod_c(M, 256);
  static constexpr U256 R2 = fieldimpl::pow2_mod_c(M, 512);
  static constexpr U256 M_MINUS_2 = fieldimpl::sub_c(M, U256{{2, 0, 0, 0}});
};

static_assert(FqParams::M.w[3] < (uint64_t(1) << 62) && FrParams::M.w[3] < (uint64_t(1) << 62));
static_assert(FqParams::M.w[0] * (uint64_t(0) - FqParams::INV) == 1);
static_assert(FrParams::M.w[0] * (uint64_t(0) - FrParams::INV) == 1);

namespace fieldimpl {

// r = t - m if t >= m (t given as 4 words plus a top carry word), else t.
// Branch-free: the choice is a mask (conditional moves on x86-64).
NACREL_INLINE void reduce_once(uint64_t r[4], const uint64_t t[4], uint64_t top, const U256& m) {
#if defined(__x86_64__)
  uint64_t t0 = t[0], t1 = t[1], t2 = t[2], t3 = t[3];
  uint64_t s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  __asm__(
      "subq %[m0], %[s0]\n\t"
      "sbbq %[m1], %[s1]\n\t"
      "sbbq %[m2], %[s2]\n\t"
      "sbbq %[m3], %[s3]\n\t"
      "sbbq $0, %[top]\n\t"
      "cmovncq %[s0], %[t0]\n\t"
      "cmovncq %[s1], %[t1]\n\t"
      "cmovncq %[s2], %[t2]\n\t"
      "cmovncq %[s3], %[t3]\n\t"
      : [t0] "+r"(t0), [t1] "+r"(t1), [t2] "+r"(t2), [t3] "+r"(t3), [s0] "+&r"(s0), [s1] "+&r"(s1),
        [s2] "+&r"(s2), [s3] "+&r"(s3), [top] "+&r"(top)
      : [m0] "m"(m.w[0]), [m1] "m"(m.w[1]), [m2] "m"(m.w[2]), [m3] "m"(m.w[3])
      : "cc");
  r[0] = t0;
  r[1] = t1;
  r[2] = t2;
  r[3] = t3;
#else
  uint64_t s[4];
  uint64_t borrow = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) s[i] = sbb(t[i], m.w[i], borrow);
  // Keep t only when t < m, i.e. the subtraction borrowed past the top word.
  uint64_t b2 = borrow;
  sbb(top, 0, b2);
  uint64_t keep_t = uint64_t(0) - b2;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) r[i] = (t[i] & keep_t) | (s[i] & ~keep_t);
#endif
}

// Montgomery product a*b/2^256 mod m (CIOS), portable C++ with __int128.
template <class P>
NACREL_INLINE void mont_mul_portable(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
  const U256& m = P::M;
  uint64_t t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4 = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    uint64_t c = 0;
    t0 = mac(t0, a[0], b[i], c);
    t1 = mac(t1, a[1], b[i], c);
    t2 = mac(t2, a[2], b[i], c);
    t3 = mac(t3, a[3], b[i], c);
    uint64_t c2 = 0;
    t4 = adc(t4, c, c2);
    uint64_t t5 = c2;
    uint64_t q = t0 * P::INV;
    c = 0;
    mac(t0, q, m.w[0], c);
    t0 = mac(t1, q, m.w[1], c);
    t1 = mac(t2, q, m.w[2], c);
    t2 = mac(t3, q, m.w[3], c);
    uint64_t c3 = 0;
    t3 = adc(t4, c, c3);
    t4 = t5 + c3;
  }
  uint64_t t[4] = {t0, t1, t2, t3};
  reduce_once(r, t, t4, m);
}

#if defined(__x86_64__) && !defined(NACREL_PORTABLE_ONLY)
#define NACREL_HAVE_ADX_PATH 1
// Set once at start-up when the processor has BMI2 and ADX (see field.cpp).
// Before that, and when false, the portable code runs; both give identical
// results, so the order of static initialisation does not matter. Atomic,
// because set_fast_field_mul may flip it while other threads compute; a
// relaxed load is a plain load on x86-64.
extern std::atomic<bool> g_use_adx;

// Montgomery product with mulx and the two independent carry chains of
// adcx/adox: the same CIOS steps as the portable code, unrolled, with the five
// accumulator words rotating through the registers t0..t4.
template <class P>
NACREL_INLINE void mont_mul_adx(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
  uint64_t t0 = 0, t1 = 0, t2 = 0, t3 = 0, t4, lo, hi;
  __asm__(
      "movq %[b0], %%rdx\n\t"
      "xorq %[t4], %[t4]\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[a3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "movq %[t0], %%rdx\n\t"
      "imulq %[inv], %%rdx\n\t"
      "xorq %[lo], %[lo]\n\t"
      "mulxq %[m0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq %[m1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq %[m2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[m3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "movq %[b1], %%rdx\n\t"
      "xorq %[t0], %[t0]\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[a3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "movq %[t1], %%rdx\n\t"
      "imulq %[inv], %%rdx\n\t"
      "xorq %[lo], %[lo]\n\t"
      "mulxq %[m0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "mulxq %[m1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[m2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[m3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "movq %[b2], %%rdx\n\t"
      "xorq %[t1], %[t1]\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq %[a3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "movq %[t2], %%rdx\n\t"
      "imulq %[inv], %%rdx\n\t"
      "xorq %[lo], %[lo]\n\t"
      "mulxq %[m0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "adcxq %[hi], %[t3]\n\t"
      "mulxq %[m1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[m2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq %[m3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "movq %[b3], %%rdx\n\t"
      "xorq %[t2], %[t2]\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq %[a3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t2]\n\t"
      "movq %[t3], %%rdx\n\t"
      "imulq %[inv], %%rdx\n\t"
      "xorq %[lo], %[lo]\n\t"
      "mulxq %[m0], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t3]\n\t"
      "adcxq %[hi], %[t4]\n\t"
      "mulxq %[m1], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t4]\n\t"
      "adcxq %[hi], %[t0]\n\t"
      "mulxq %[m2], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t0]\n\t"
      "adcxq %[hi], %[t1]\n\t"
      "mulxq %[m3], %[lo], %[hi]\n\t"
      "adoxq %[lo], %[t1]\n\t"
      "adcxq %[hi], %[t2]\n\t"
      "movq $0, %[lo]\n\t"
      "adoxq %[lo], %[t2]\n\t"

      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [t4] "=&r"(t4), [lo] "=&r"(lo),
        [hi] "=&r"(hi)
      : [a0] "m"(a[0]), [a1] "m"(a[1]), [a2] "m"(a[2]), [a3] "m"(a[3]), [b0] "m"(b[0]), [b1] "m"(b[1]),
        [b2] "m"(b[2]), [b3] "m"(b[3]), [m0] "m"(P::M.w[0]), [m1] "m"(P::M.w[1]), [m2] "m"(P::M.w[2]),
        [m3] "m"(P::M.w[3]), [inv] "r"(P::INV)
      : "rdx", "cc");
  // The rotation leaves the result in t4, t0, t1, t2, below 2m.
  const uint64_t t[4] = {t4, t0, t1, t2};
  reduce_once(r, t, 0, P::M);
}

// Montgomery square a^2/2^256 mod m: the eight-word square from six cross
// products (doubled) and four squares, then four reduction rows. Row i adds
// q*m at word i with q = t_i * (-1/m) mod 2^64, which clears t_i; the two
// carries out of word i+4 are kept in the cleared t_i and added into word
// i+4 of the next row. The sum t + Q*m is below 2^256 * 2m, so no carry is
// left after the last row.
template <class P>
NACREL_INLINE void mont_sqr_adx(uint64_t r[4], const uint64_t a[4]) {
  uint64_t t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
  __asm__(
      // cross products a_i a_j (i < j) into t1..t6
      "movq %[a0], %%rdx\n\t"
      "mulxq %[a1], %[t1], %[t2]\n\t"
      "mulxq %[a2], %[lo], %[t3]\n\t"
      "addq %[lo], %[t2]\n\t"
      "mulxq %[a3], %[lo], %[t4]\n\t"
      "adcq %[lo], %[t3]\n\t"
      "adcq $0, %[t4]\n\t"
      "movq %[a1], %%rdx\n\t"
      "xorq %[t6], %[t6]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t3]\n\t"
      "adoxq %[hi], %[t4]\n\t"
      "mulxq %[a3], %[lo], %[t5]\n\t"
      "adcxq %[lo], %[t4]\n\t"
      "adcxq %[t6], %[t5]\n\t"
      "adoxq %[t6], %[t5]\n\t"
      "movq %[a2], %%rdx\n\t"
      "mulxq %[a3], %[lo], %[t6]\n\t"
      "addq %[lo], %[t5]\n\t"
      "adcq $0, %[t6]\n\t"
      // doubled, then the squares a_i^2 at words 2i, 2i+1
      "movq $0, %[t7]\n\t"
      "addq %[t1], %[t1]\n\t"
      "adcq %[t2], %[t2]\n\t"
      "adcq %[t3], %[t3]\n\t"
      "adcq %[t4], %[t4]\n\t"
      "adcq %[t5], %[t5]\n\t"
      "adcq %[t6], %[t6]\n\t"
      "adcq %[t7], %[t7]\n\t"
      "movq %[a0], %%rdx\n\t"
      "mulxq %%rdx, %[t0], %[hi]\n\t"
      "addq %[hi], %[t1]\n\t"
      "movq %[a1], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t2]\n\t"
      "adcq %[hi], %[t3]\n\t"
      "movq %[a2], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t4]\n\t"
      "adcq %[hi], %[t5]\n\t"
      "movq %[a3], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t6]\n\t"
      "adcq %[hi], %[t7]\n\t"
      // reduction rows; row i clears t_i and then keeps in it the carry
      // into word i+4 for the next row (row 0 has no carry coming in)
#define NACREL_SQR_ROW(cin, ti, tj, tk, tl, tm)       \
      "movq %[" ti "], %%rdx\n\t"                     \
      "imulq %[inv], %%rdx\n\t"                       \
      "xorq %[lo], %[lo]\n\t"                         \
      "mulxq %[m0], %[lo], %[hi]\n\t"                 \
      "adoxq %[lo], %[" ti "]\n\t"                    \
      "adcxq %[hi], %[" tj "]\n\t"                    \
      "mulxq %[m1], %[lo], %[hi]\n\t"                 \
      "adoxq %[lo], %[" tj "]\n\t"                    \
      "adcxq %[hi], %[" tk "]\n\t"                    \
      "mulxq %[m2], %[lo], %[hi]\n\t"                 \
      "adoxq %[lo], %[" tk "]\n\t"                    \
      "adcxq %[hi], %[" tl "]\n\t"                    \
      "mulxq %[m3], %[lo], %[hi]\n\t"                 \
      "adoxq %[lo], %[" tl "]\n\t"                    \
      "adcxq %[hi], %[" tm "]\n\t"                    \
      "movq $0, %[lo]\n\t"                            \
      "adoxq %[" cin "], %[" tm "]\n\t"               \
      "adcxq %[" ti "], %[" ti "]\n\t"                \
      "adoxq %[lo], %[" ti "]\n\t"
      // t_i is zero before its last two steps, so it ends as CF + OF.
      NACREL_SQR_ROW("lo", "t0", "t1", "t2", "t3", "t4")
      NACREL_SQR_ROW("t0", "t1", "t2", "t3", "t4", "t5")
      NACREL_SQR_ROW("t1", "t2", "t3", "t4", "t5", "t6")
      NACREL_SQR_ROW("t2", "t3", "t4", "t5", "t6", "t7")
#undef NACREL_SQR_ROW
      : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
        [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a0] "m"(a[0]), [a1] "m"(a[1]), [a2] "m"(a[2]), [a3] "m"(a[3]), [m0] "m"(P::M.w[0]),
        [m1] "m"(P::M.w[1]), [m2] "m"(P::M.w[2]), [m3] "m"(P::M.w[3]), [inv] "m"(P::INV)
      : "rdx", "cc");
  const uint64_t t[4] = {t4, t5, t6, t7};
  reduce_once(r, t, t3, P::M);
}
#endif

// Montgomery product a*b/2^256 mod m (CIOS), fully reduced for reduced inputs.
template <class P>
NACREL_INLINE void mont_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
#ifdef NACREL_HAVE_ADX_PATH
  if (g_use_adx.load(std::memory_order_relaxed)) {
    mont_mul_adx<P>(r, a, b);
    return;
  }
#endif
  mont_mul_portable<P>(r, a, b);
}

// Montgomery square, the same value as mont_mul(r, a, a).
template <class P>
NACREL_INLINE void mont_sqr(uint64_t r[4], const uint64_t a[4]) {
#ifdef NACREL_HAVE_ADX_PATH
  if (g_use_adx.load(std::memory_order_relaxed)) {
    mont_sqr_adx<P>(r, a);
    return;
  }
#endif
  mont_mul_portable<P>(r, a, a);
}

template <class P>
NACREL_INLINE void mod_add(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
  uint64_t t[4];
  uint64_t c = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) t[i] = adc(a[i], b[i], c);
  reduce_once(r, t, c, P::M);
}

template <class P>
NACREL_INLINE void mod_sub(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
#if defined(__x86_64__)
  // a - b, then the modulus masked by the borrow added back: one unbroken
  // sub/sbb chain and one add/adc chain.
  uint64_t t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3];
  uint64_t u0 = P::M.w[0], u1 = P::M.w[1], u2 = P::M.w[2], u3 = P::M.w[3], mk;
  __asm__(
      "subq %[b0], %[t0]\n\t"
      "sbbq %[b1], %[t1]\n\t"
      "sbbq %[b2], %[t2]\n\t"
      "sbbq %[b3], %[t3]\n\t"
      "sbbq %[mk], %[mk]\n\t"
      "andq %[mk], %[u0]\n\t"
      "andq %[mk], %[u1]\n\t"
      "andq %[mk], %[u2]\n\t"
      "andq %[mk], %[u3]\n\t"
      "addq %[u0], %[t0]\n\t"
      "adcq %[u1], %[t1]\n\t"
      "adcq %[u2], %[t2]\n\t"
      "adcq %[u3], %[t3]\n\t"
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [u0] "+&r"(u0), [u1] "+&r"(u1),
        [u2] "+&r"(u2), [u3] "+&r"(u3), [mk] "=&r"(mk)
      : [b0] "m"(b[0]), [b1] "m"(b[1]), [b2] "m"(b[2]), [b3] "m"(b[3])
      : "cc");
  r[0] = t0;
  r[1] = t1;
  r[2] = t2;
  r[3] = t3;
#else
  uint64_t t[4];
  uint64_t borrow = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) t[i] = sbb(a[i], b[i], borrow);
  uint64_t mask = uint64_t(0) - borrow;
  uint64_t c = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) r[i] = adc(t[i], P::M.w[i] & mask, c);
#endif
}

}  // namespace fieldimpl

// a + b without the final subtraction: below 2m (2^255), so NOT a reduced
// element. Only for an operand of a product or square, which accept inputs
// below 2m (a*b < 4m^2 < 2^256 m, so the Montgomery result is below 2m
// before its own subtraction) and return a reduced element.
template <class P>
NACREL_INLINE Field<P> add_for_product(const Field<P>& a, const Field<P>& b) {
  Field<P> out;
  uint64_t c = 0;
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) out.v[i] = fieldimpl::adc(a.v[i], b.v[i], c);
  return out;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::zero() {
  return Field{{0, 0, 0, 0}};
}

template <class P>
Field<P> Field<P>::one() {
  return Field{{P::R.w[0], P::R.w[1], P::R.w[2], P::R.w[3]}};
}

template <class P>
Field<P> Field<P>::from_u64(uint64_t x) {
  Field out;
  const uint64_t a[4] = {x, 0, 0, 0};
  fieldimpl::mont_mul<P>(out.v, a, P::R2.w);
  return out;
}

template <class P>
bool Field<P>::from_canonical(const U256& x, Field& out) {
  if (!u256_lt(x, P::M)) return false;
  fieldimpl::mont_mul<P>(out.v, x.w, P::R2.w);
  return true;
}

template <class P>
const U256& Field<P>::modulus() {
  return P::M;
}

template <class P>
U256 Field<P>::to_canonical() const {
  U256 out;
  const uint64_t one_int[4] = {1, 0, 0, 0};
  fieldimpl::mont_mul<P>(out.w, v, one_int);
  return out;
}

template <class P>
void Field<P>::to_be_bytes(uint8_t out[32]) const {
  u256_to_be(to_canonical(), out);
}

template <class P>
NACREL_INLINE bool Field<P>::is_zero() const {
  return (v[0] | v[1] | v[2] | v[3]) == 0;
}

template <class P>
bool Field<P>::is_odd() const {
  return (to_canonical().w[0] & 1) != 0;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::operator+(const Field& b) const {
  Field out;
  fieldimpl::mod_add<P>(out.v, v, b.v);
  return out;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::operator-(const Field& b) const {
  Field out;
  fieldimpl::mod_sub<P>(out.v, v, b.v);
  return out;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::operator*(const Field& b) const {
  Field out;
  fieldimpl::mont_mul<P>(out.v, v, b.v);
  return out;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::operator-() const {
  return zero() - *this;
}

template <class P>
NACREL_INLINE Field<P> Field<P>::sqr() const {
  Field out;
  fieldimpl::mont_sqr<P>(out.v, v);
  return out;
}

template <class P>
NACREL_INLINE void Field<P>::cmov(Field& r, const Field& a, uint64_t mask) {
  #pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) r.v[i] ^= mask & (r.v[i] ^ a.v[i]);
}

}  // namespace nacrel
