// Prime fields of BN254: Fq (base field, modulus p) and Fr (scalar field,
// modulus r), both in Montgomery form on four 64-bit little-endian limbs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nacrel {

// 256-bit unsigned integer, little-endian 64-bit words.
struct U256 {
  uint64_t w[4];
  friend bool operator==(const U256& a, const U256& b) {
    return a.w[0] == b.w[0] && a.w[1] == b.w[1] && a.w[2] == b.w[2] && a.w[3] == b.w[3];
  }
};

// Reads 32 big-endian bytes.
U256 u256_from_be(const uint8_t in[32]);
// Writes 32 big-endian bytes.
void u256_to_be(const U256& v, uint8_t out[32]);
// a < b.
bool u256_lt(const U256& a, const U256& b);

struct FqParams;
struct FrParams;

// Element of Z/mZ held as a*2^256 mod m, always fully reduced.
template <class P>
class Field {
 public:
  uint64_t v[4];  // Montgomery form, reduced

  // The canonical integer 0.
  static Field zero();
  // The canonical integer 1.
  static Field one();
  // Small integer.
  static Field from_u64(uint64_t x);
  // Fails (returns false) when x is not below the modulus.
  static bool from_canonical(const U256& x, Field& out);
  // Any number of big-endian bytes, read as one integer and reduced (empty = 0).
  static Field from_be_bytes_reduce(const uint8_t* data, size_t len);
  // The modulus as an integer.
  static const U256& modulus();

  // Canonical integer in [0, m).
  U256 to_canonical() const;
  // 32 big-endian bytes of the canonical integer.
  void to_be_bytes(uint8_t out[32]) const;

  bool is_zero() const;
  // Parity of the canonical integer.
  bool is_odd() const;
  friend bool operator==(const Field& a, const Field& b) {
    return ((a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3])) == 0;
  }
  friend bool operator!=(const Field& a, const Field& b) { return !(a == b); }

  Field operator+(const Field& b) const;
  Field operator-(const Field& b) const;
  Field operator*(const Field& b) const;
  Field operator-() const;
  Field& operator+=(const Field& b) { return *this = *this + b; }
  Field& operator-=(const Field& b) { return *this = *this - b; }
  Field& operator*=(const Field& b) { return *this = *this * b; }
  Field sqr() const;
  Field dbl() const { return *this + *this; }

  // self^e, variable time in e (e is public).
  Field pow_vartime(const U256& e) const;
  // Multiplicative inverse in constant time (divsteps); 0 maps to 0.
  Field inverse_ct() const;
  // Multiplicative inverse, variable time (public values only); 0 maps to 0.
  Field inverse_vartime() const;

  // r = mask ? a : r, with mask all-ones or zero; no branch on mask.
  static void cmov(Field& r, const Field& a, uint64_t mask);
};

using Fq = Field<FqParams>;
using Fr = Field<FrParams>;

// Square root in Fq: a^((p+1)/4) when it squares back to a; false for non-squares.
bool fq_sqrt(const Fq& a, Fq& root);
// Euler's criterion: a^((p-1)/2) == 1 (false for 0).
bool fq_is_square(const Fq& a);
// The same answer as fq_is_square from the Jacobi symbol, several times
// faster; variable time, for public values only.
bool fq_is_square_vartime(const Fq& a);

// Uniform element of [0, r) from the operating system's random source:
// four 64-bit words (least significant first), top two bits cleared,
// redrawn until below r. May be zero. Throws InternalFailure if the source fails.
Fr fr_random();
// out[0 .. n) uniform non-zero elements of Fr, each drawn as by fr_random
// (a draw not below r, or zero, is dropped), with the words of up to 64 of
// them read from the source at once.
void fr_random_nonzero(Fr* out, size_t n);

// Fills buf from getrandom(2), retrying on EINTR and short reads.
// Throws InternalFailure if the source fails; there is no fallback.
void os_random_bytes(void* buf, size_t len);

// Whether field products use the x86-64 mulx/adx code (chosen at start-up by
// cpuid; never with NACREL_PORTABLE_ONLY). Both paths give identical results.
bool fast_field_mul_active();
// Switches the mulx/adx code off (or back on where available), for tests and
// benchmarks; returns whether it is active afterwards. Safe to call while
// other threads compute: each product then takes one path or the other, and
// both give the same results.
bool set_fast_field_mul(bool on);
// The same without asking the processor, for the constant-time check under
// valgrind: its virtual processor runs mulx/adcx/adox but does not announce
// them. Elsewhere the code may then stop on an illegal instruction.
bool force_fast_field_mul(bool on);

}  // namespace nacrel
