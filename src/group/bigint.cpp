#include "group/bigint.hpp"

#include <algorithm>
#include <bit>

#include "group/error.hpp"

namespace nacrel {

namespace {

using u128 = unsigned __int128;
using Mag = std::vector<uint64_t>;

void trim(Mag& m) {
  while (!m.empty() && m.back() == 0) m.pop_back();
}

int cmp_mag(const Mag& a, const Mag& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

Mag add_mag(const Mag& a, const Mag& b) {
  const Mag& big = a.size() >= b.size() ? a : b;
  const Mag& small = a.size() >= b.size() ? b : a;
  Mag r(big.size() + 1);
  uint64_t carry = 0;
  for (size_t i = 0; i < big.size(); ++i) {
    u128 s = u128(big[i]) + (i < small.size() ? small[i] : 0) + carry;
    r[i] = uint64_t(s);
    carry = uint64_t(s >> 64);
  }
  r[big.size()] = carry;
  trim(r);
  return r;
}

// a - b for a >= b.
Mag sub_mag(const Mag& a, const Mag& b) {
  Mag r(a.size());
  uint64_t borrow = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t bi = i < b.size() ? b[i] : 0;
    uint64_t t = a[i] - bi;
    uint64_t b1 = a[i] < bi;
    r[i] = t - borrow;
    borrow = b1 | (t < borrow);
  }
  trim(r);
  return r;
}

Mag mul_mag(const Mag& a, const Mag& b) {
  if (a.empty() || b.empty()) return {};
  Mag r(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      u128 p = u128(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = uint64_t(p);
      carry = uint64_t(p >> 64);
    }
    r[i + b.size()] = carry;
  }
  trim(r);
  return r;
}

Mag shl_mag(const Mag& a, size_t n) {
  if (a.empty()) return {};
  const size_t words = n / 64, bits = n % 64;
  Mag r(a.size() + words + 1, 0);
  for (size_t i = 0; i < a.size(); ++i) {
    r[i + words] |= a[i] << bits;
    if (bits) r[i + words + 1] |= a[i] >> (64 - bits);
  }
  trim(r);
  return r;
}

Mag shr_mag(const Mag& a, size_t n) {
  const size_t words = n / 64, bits = n % 64;
  if (words >= a.size()) return {};
  Mag r(a.size() - words, 0);
  for (size_t i = 0; i < r.size(); ++i) {
    r[i] = a[i + words] >> bits;
    if (bits && i + words + 1 < a.size()) r[i] |= a[i + words + 1] << (64 - bits);
  }
  trim(r);
  return r;
}

// True when any of the low n bits of a is set.
bool low_bits_set(const Mag& a, size_t n) {
  const size_t words = n / 64, bits = n % 64;
  for (size_t i = 0; i < words && i < a.size(); ++i)
    if (a[i]) return true;
  return bits && words < a.size() && (a[words] & ((uint64_t(1) << bits) - 1));
}

// Quotient and remainder of magnitudes, v non-empty (Knuth, TAOCP 4.3.1 D).
void divmod_mag(const Mag& u, const Mag& v, Mag& q, Mag& r) {
  if (cmp_mag(u, v) < 0) {
    q.clear();
    r = u;
    return;
  }
  if (v.size() == 1) {
    q.assign(u.size(), 0);
    uint64_t rem = 0;
    for (size_t i = u.size(); i-- > 0;) {
      u128 cur = (u128(rem) << 64) | u[i];
      q[i] = uint64_t(cur / v[0]);
      rem = uint64_t(cur % v[0]);
    }
    trim(q);
    r.clear();
    if (rem) r.push_back(rem);
    return;
  }
  const size_t n = v.size(), m = u.size();
  const int s = std::countl_zero(v.back());
  // Normalise so that the top word of the divisor has its high bit set.
  Mag vn(n), un(m + 1);
  for (size_t i = n; i-- > 0;) vn[i] = (v[i] << s) | (s && i ? v[i - 1] >> (64 - s) : 0);
  un[m] = s ? u[m - 1] >> (64 - s) : 0;
  for (size_t i = m; i-- > 0;) un[i] = (u[i] << s) | (s && i ? u[i - 1] >> (64 - s) : 0);

  q.assign(m - n + 1, 0);
  const u128 base = u128(1) << 64;
  for (size_t j = m - n + 1; j-- > 0;) {
    const u128 num = (u128(un[j + n]) << 64) | un[j + n - 1];
    u128 qhat = num / vn[n - 1];
    u128 rhat = num % vn[n - 1];
    while (qhat >= base || qhat * vn[n - 2] > ((rhat << 64) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= base) break;
    }
    // un[j .. j+n] -= qhat * vn.
    uint64_t borrow = 0, carry = 0;
    for (size_t i = 0; i < n; ++i) {
      u128 p = qhat * vn[i] + carry;
      carry = uint64_t(p >> 64);
      const uint64_t plo = uint64_t(p), ui = un[i + j];
      const uint64_t t = ui - plo;
      const uint64_t b1 = ui < plo;
      un[i + j] = t - borrow;
      borrow = b1 | (t < borrow);
    }
    const u128 sub = u128(carry) + borrow;
    const bool negative = u128(un[j + n]) < sub;
    un[j + n] = uint64_t(un[j + n] - uint64_t(sub));
    if (negative) {
      // qhat was one too large: add the divisor back.
      --qhat;
      uint64_t c = 0;
      for (size_t i = 0; i < n; ++i) {
        u128 t = u128(un[i + j]) + vn[i] + c;
        un[i + j] = uint64_t(t);
        c = uint64_t(t >> 64);
      }
      un[j + n] += c;
    }
    q[j] = uint64_t(qhat);
  }
  trim(q);
  r.assign(n, 0);
  for (size_t i = 0; i < n; ++i) r[i] = (un[i] >> s) | (s ? un[i + 1] << (64 - s) : 0);
  trim(r);
}

// Floored remainder: sign of m (or zero).
BigInt floor_mod(const BigInt& a, const BigInt& m) {
  BigInt q, r;
  BigInt::divmod_trunc(a, m, q, r);
  if (!r.is_zero() && r.is_negative() != m.is_negative()) r = r + m;
  return r;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

BigInt BigInt::from_u64(uint64_t v) {
  BigInt r;
  if (v) r.mag_.push_back(v);
  return r;
}

BigInt BigInt::from_i64(int64_t v) {
  // Negate in unsigned arithmetic so that INT64_MIN is exact.
  BigInt r = from_u64(v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v));
  r.neg_ = v < 0;
  return r;
}

BigInt BigInt::from_bytes(const uint8_t* data, size_t len) {
  BigInt r;
  r.mag_.assign((len + 7) / 8, 0);
  for (size_t i = 0; i < len; ++i) {
    const size_t bit = (len - 1 - i) * 8;
    r.mag_[bit / 64] |= uint64_t(data[i]) << (bit % 64);
  }
  trim(r.mag_);
  return r;
}

std::vector<uint8_t> BigInt::to_bytes() const {
  if (mag_.empty()) return {0};
  const size_t nbytes = (bit_length() + 7) / 8;
  std::vector<uint8_t> out(nbytes);
  for (size_t i = 0; i < nbytes; ++i) {
    const size_t bit = (nbytes - 1 - i) * 8;
    out[i] = uint8_t(mag_[bit / 64] >> (bit % 64));
  }
  return out;
}

std::string BigInt::to_hex() const {
  if (mag_.empty()) return "0";
  static const char digits[] = "0123456789abcdef";
  std::string out = neg_ ? "-" : "";
  for (size_t nib = (bit_length() + 3) / 4; nib-- > 0;) out += digits[(mag_[nib / 16] >> (nib % 16 * 4)) & 15];
  return out;
}

std::string BigInt::to_dec() const {
  if (mag_.empty()) return "0";
  // Peel off 19 decimal digits per division.
  constexpr uint64_t kChunk = 10000000000000000000ull;
  std::vector<uint64_t> chunks;
  Mag cur = mag_, q, r;
  const Mag div{kChunk};
  while (!cur.empty()) {
    divmod_mag(cur, div, q, r);
    chunks.push_back(r.empty() ? 0 : r[0]);
    cur.swap(q);
  }
  std::string out = neg_ ? "-" : "";
  out += std::to_string(chunks.back());
  for (size_t i = chunks.size() - 1; i-- > 0;) {
    std::string part = std::to_string(chunks[i]);
    out.append(19 - part.size(), '0');
    out += part;
  }
  return out;
}

size_t BigInt::bit_length() const {
  if (mag_.empty()) return 0;
  return mag_.size() * 64 - size_t(std::countl_zero(mag_.back()));
}

bool BigInt::bit(size_t i) const { return i / 64 < mag_.size() && ((mag_[i / 64] >> (i % 64)) & 1); }

BigInt operator+(const BigInt& a, const BigInt& b) {
  BigInt r;
  if (a.neg_ == b.neg_) {
    r.mag_ = add_mag(a.mag_, b.mag_);
    r.neg_ = a.neg_;
  } else {
    const int c = cmp_mag(a.mag_, b.mag_);
    if (c == 0) return r;
    r.mag_ = c > 0 ? sub_mag(a.mag_, b.mag_) : sub_mag(b.mag_, a.mag_);
    r.neg_ = c > 0 ? a.neg_ : b.neg_;
  }
  if (r.mag_.empty()) r.neg_ = false;
  return r;
}

BigInt BigInt::operator-() const {
  BigInt r = *this;
  if (!r.mag_.empty()) r.neg_ = !r.neg_;
  return r;
}

BigInt operator-(const BigInt& a, const BigInt& b) { return a + (-b); }

BigInt operator*(const BigInt& a, const BigInt& b) {
  BigInt r;
  r.mag_ = mul_mag(a.mag_, b.mag_);
  r.neg_ = !r.mag_.empty() && a.neg_ != b.neg_;
  return r;
}

void BigInt::divmod_trunc(const BigInt& a, const BigInt& b, BigInt& q, BigInt& rem) {
  if (b.is_zero()) fail("attempt to divide by zero");
  Mag qm, rm;
  divmod_mag(a.mag_, b.mag_, qm, rm);
  q = BigInt();
  q.mag_ = std::move(qm);
  q.neg_ = !q.mag_.empty() && a.neg_ != b.neg_;
  rem = BigInt();
  rem.mag_ = std::move(rm);
  rem.neg_ = !rem.mag_.empty() && a.neg_;
}

BigInt BigInt::pow(uint32_t e) const {
  BigInt result = one(), base = *this;
  for (; e; e >>= 1) {
    if (e & 1) result = result * base;
    if (e > 1) base = base * base;
  }
  return result;
}

BigInt BigInt::mod_pow(const BigInt& a, const BigInt& e, const BigInt& m) {
  if (e.is_negative()) fail("mod_pow: negative exponent");
  if (m.is_zero()) fail("attempt to divide by zero");
  BigInt base = floor_mod(a, m);
  BigInt result = floor_mod(one(), m);
  for (size_t i = e.bit_length(); i-- > 0;) {
    result = floor_mod(result * result, m);
    if (e.bit(i)) result = floor_mod(result * base, m);
  }
  return result;
}

BigInt BigInt::mod_add(const BigInt& a, const BigInt& b, const BigInt& m) {
  return floor_mod(floor_mod(a, m) + floor_mod(b, m), m);
}

BigInt BigInt::mod_sub(const BigInt& a, const BigInt& b, const BigInt& m) {
  return floor_mod(floor_mod(a, m) - floor_mod(b, m) + m, m);
}

BigInt BigInt::mod_mul(const BigInt& a, const BigInt& b, const BigInt& m) {
  return floor_mod(floor_mod(a, m) * floor_mod(b, m), m);
}

BigInt BigInt::modulus(const BigInt& a, const BigInt& m) {
  BigInt q, r;
  divmod_trunc(a, m, q, r);
  if (r.is_negative()) r = r + m;
  return r;
}

BigInt operator&(const BigInt& a, const BigInt& b) {
  // Two's complement over one word more than either operand; every higher
  // word is all zeros or all ones and follows from the sign.
  const size_t w = std::max(a.mag_.size(), b.mag_.size()) + 1;
  auto twos = [w](const BigInt& x) {
    Mag t(w, 0);
    std::copy(x.mag_.begin(), x.mag_.end(), t.begin());
    if (x.neg_) {
      for (auto& word : t) word = ~word;
      for (auto& word : t)
        if (++word != 0) break;
    }
    return t;
  };
  Mag ta = twos(a), tb = twos(b);
  for (size_t i = 0; i < w; ++i) ta[i] &= tb[i];
  BigInt r;
  r.neg_ = a.neg_ && b.neg_;
  if (r.neg_) {
    for (auto& word : ta) word = ~word;
    for (auto& word : ta)
      if (++word != 0) break;
  }
  trim(ta);
  r.mag_ = std::move(ta);
  if (r.mag_.empty()) r.neg_ = false;
  return r;
}

BigInt BigInt::operator<<(size_t n) const {
  BigInt r;
  r.mag_ = shl_mag(mag_, n);
  r.neg_ = neg_ && !r.mag_.empty();
  return r;
}

BigInt BigInt::operator>>(size_t n) const {
  BigInt r;
  r.mag_ = shr_mag(mag_, n);
  // Negative values round towards minus infinity.
  if (neg_ && low_bits_set(mag_, n)) r.mag_ = add_mag(r.mag_, Mag{1});
  r.neg_ = neg_ && !r.mag_.empty();
  return r;
}

std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) {
  if (a.neg_ != b.neg_) return a.neg_ ? std::strong_ordering::less : std::strong_ordering::greater;
  int c = cmp_mag(a.mag_, b.mag_);
  if (a.neg_) c = -c;
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::string BigInt::to_json_hex() const {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : to_bytes()) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool BigInt::from_json_hex(std::string_view s, BigInt& out) {
  if (s.size() % 2) return false;
  std::vector<uint8_t> bytes(s.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int hi = hex_digit(s[2 * i]), lo = hex_digit(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = uint8_t(hi << 4 | lo);
  }
  out = from_bytes(bytes);
  return true;
}

}  // namespace nacrel
