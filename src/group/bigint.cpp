// Sign-magnitude integers over 64-bit words: schoolbook product, Knuth's
// algorithm D for division, square-and-multiply powers.
#include "group/bigint.hpp"

#include <algorithm>

#include "group/error.hpp"

namespace nacrel {

namespace {

using Mag = std::vector<uint64_t>;
using u128 = unsigned __int128;

void trim(Mag& m) {
  while (!m.empty() && m.back() == 0) m.pop_back();
}

int cmp_mag(const Mag& a, const Mag& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = a.size(); i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

Mag add_mag(const Mag& a, const Mag& b) {
  const Mag& lo = a.size() < b.size() ? a : b;
  const Mag& hi = a.size() < b.size() ? b : a;
  Mag out(hi.size() + 1);
  uint64_t carry = 0;
  for (size_t i = 0; i < hi.size(); ++i) {
    u128 s = u128(hi[i]) + (i < lo.size() ? lo[i] : 0) + carry;
    out[i] = uint64_t(s);
    carry = uint64_t(s >> 64);
  }
  out[hi.size()] = carry;
  trim(out);
  return out;
}

// a - b for a >= b.
Mag sub_mag(const Mag& a, const Mag& b) {
  Mag out(a.size());
  uint64_t borrow = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t bi = i < b.size() ? b[i] : 0;
    uint64_t d = a[i] - bi;
    uint64_t b1 = a[i] < bi;
    out[i] = d - borrow;
    borrow = b1 | (d < borrow);
  }
  trim(out);
  return out;
}

Mag mul_mag(const Mag& a, const Mag& b) {
  if (a.empty() || b.empty()) return {};
  Mag out(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      u128 t = u128(a[i]) * b[j] + out[i + j] + carry;
      out[i + j] = uint64_t(t);
      carry = uint64_t(t >> 64);
    }
    out[i + b.size()] = carry;
  }
  trim(out);
  return out;
}

Mag shl_mag(const Mag& a, size_t n) {
  if (a.empty()) return {};
  size_t words = n / 64, bits = n % 64;
  Mag out(a.size() + words + 1, 0);
  for (size_t i = 0; i < a.size(); ++i) {
    out[i + words] |= a[i] << bits;
    if (bits != 0) out[i + words + 1] |= a[i] >> (64 - bits);
  }
  trim(out);
  return out;
}

// Floor of a / 2^n; `lost` tells whether any one-bit was shifted out.
Mag shr_mag(const Mag& a, size_t n, bool* lost) {
  size_t words = n / 64, bits = n % 64;
  if (lost != nullptr) {
    bool any = false;
    for (size_t i = 0; i < std::min(words, a.size()); ++i) any |= a[i] != 0;
    if (!any && bits != 0 && words < a.size()) any = (a[words] & ((uint64_t(1) << bits) - 1)) != 0;
    *lost = any;
  }
  if (words >= a.size()) return {};
  Mag out(a.size() - words);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = a[i + words] >> bits;
    if (bits != 0 && i + words + 1 < a.size()) out[i] |= a[i + words + 1] << (64 - bits);
  }
  trim(out);
  return out;
}

// Quotient and remainder of magnitudes; v must be non-zero.
void divmod_mag(const Mag& u, const Mag& v, Mag& q, Mag& r) {
  if (cmp_mag(u, v) < 0) {
    q.clear();
    r = u;
    return;
  }
  const size_t n = v.size();
  if (n == 1) {
    q.assign(u.size(), 0);
    uint64_t rem = 0;
    for (size_t i = u.size(); i-- > 0;) {
      u128 cur = (u128(rem) << 64) | u[i];
      q[i] = uint64_t(cur / v[0]);
      rem = uint64_t(cur % v[0]);
    }
    trim(q);
    r.clear();
    if (rem != 0) r.push_back(rem);
    return;
  }
  // Normalise so that the divisor's top word has its high bit set.
  const int s = __builtin_clzll(v.back());
  Mag vn(n), un(u.size() + 1);
  for (size_t i = n; i-- > 0;) {
    vn[i] = (v[i] << s) | (s != 0 && i > 0 ? v[i - 1] >> (64 - s) : 0);
  }
  un[u.size()] = s != 0 ? u.back() >> (64 - s) : 0;
  for (size_t i = u.size(); i-- > 0;) {
    un[i] = (u[i] << s) | (s != 0 && i > 0 ? u[i - 1] >> (64 - s) : 0);
  }
  const size_t m = u.size() - n;
  q.assign(m + 1, 0);
  const u128 base = u128(1) << 64;
  for (size_t j = m + 1; j-- > 0;) {
    u128 num = (u128(un[j + n]) << 64) | un[j + n - 1];
    u128 qhat = num / vn[n - 1];
    u128 rhat = num % vn[n - 1];
    while (qhat >= base || qhat * vn[n - 2] > ((rhat << 64) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= base) break;
    }
    // un[j .. j+n] -= qhat * vn.
    uint64_t carry = 0, borrow = 0;
    for (size_t i = 0; i < n; ++i) {
      u128 p = qhat * vn[i] + carry;
      carry = uint64_t(p >> 64);
      uint64_t plo = uint64_t(p);
      uint64_t ui = un[i + j];
      uint64_t d = ui - plo;
      uint64_t b1 = ui < plo;
      un[i + j] = d - borrow;
      borrow = b1 | (d < borrow);
    }
    u128 owed = u128(carry) + borrow;
    bool negative = un[j + n] < owed;
    un[j + n] = uint64_t(un[j + n] - owed);
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
  for (size_t i = 0; i < n; ++i) {
    r[i] = (un[i] >> s) | (s != 0 ? un[i + 1] << (64 - s) : 0);
  }
  trim(r);
}

[[noreturn]] void divide_by_zero() { fail("attempt to divide by zero"); }

// Floored remainder: sign of m (in [0, m) for m > 0).
BigInt floor_mod(const BigInt& a, const BigInt& m) {
  BigInt q, r;
  BigInt::divmod_trunc(a, m, q, r);
  if (!r.is_zero() && r.is_negative() != m.is_negative()) r = r + m;
  return r;
}

// Two's complement of a signed value over `words` words (wide enough to
// hold the value with its sign bit).
Mag to_twos(const Mag& mag, bool neg, size_t words) {
  Mag out(words, 0);
  std::copy(mag.begin(), mag.end(), out.begin());
  if (neg) {
    uint64_t carry = 1;
    for (uint64_t& w : out) {
      w = ~w;
      u128 t = u128(w) + carry;
      w = uint64_t(t);
      carry = uint64_t(t >> 64);
    }
  }
  return out;
}

}  // namespace

BigInt BigInt::from_u64(uint64_t v) {
  BigInt out;
  if (v != 0) out.mag_.push_back(v);
  return out;
}

BigInt BigInt::from_i64(int64_t v) {
  if (v >= 0) return from_u64(uint64_t(v));
  BigInt out = from_u64(uint64_t(0) - uint64_t(v));
  out.neg_ = true;
  return out;
}

BigInt BigInt::from_bytes(const uint8_t* data, size_t len) {
  BigInt out;
  out.mag_.assign((len + 7) / 8, 0);
  for (size_t i = 0; i < len; ++i) {
    size_t pos = len - 1 - i;  // byte index from the least significant end
    out.mag_[pos / 8] |= uint64_t(data[i]) << (8 * (pos % 8));
  }
  trim(out.mag_);
  return out;
}

std::vector<uint8_t> BigInt::to_bytes() const {
  if (mag_.empty()) return {0x00};
  size_t nbytes = (bit_length() + 7) / 8;
  std::vector<uint8_t> out(nbytes);
  for (size_t i = 0; i < nbytes; ++i) {
    out[nbytes - 1 - i] = uint8_t(mag_[i / 8] >> (8 * (i % 8)));
  }
  return out;
}

std::string BigInt::to_hex() const {
  if (mag_.empty()) return "0";
  static const char* digits = "0123456789abcdef";
  std::string out;
  if (neg_) out += '-';
  size_t nibbles = (bit_length() + 3) / 4;
  for (size_t i = nibbles; i-- > 0;) out += digits[(mag_[i / 16] >> (4 * (i % 16))) & 15];
  return out;
}

std::string BigInt::to_dec() const {
  if (mag_.empty()) return "0";
  // Peel off 19 decimal digits at a time.
  constexpr uint64_t kChunk = 10000000000000000000ull;
  std::vector<uint64_t> chunks;
  Mag cur = mag_;
  while (!cur.empty()) {
    uint64_t rem = 0;
    for (size_t i = cur.size(); i-- > 0;) {
      u128 t = (u128(rem) << 64) | cur[i];
      cur[i] = uint64_t(t / kChunk);
      rem = uint64_t(t % kChunk);
    }
    trim(cur);
    chunks.push_back(rem);
  }
  std::string out = neg_ ? "-" : "";
  out += std::to_string(chunks.back());
  for (size_t i = chunks.size() - 1; i-- > 0;) {
    std::string part = std::to_string(chunks[i]);
    out += std::string(19 - part.size(), '0') + part;
  }
  return out;
}

size_t BigInt::bit_length() const {
  if (mag_.empty()) return 0;
  return 64 * (mag_.size() - 1) + (64 - size_t(__builtin_clzll(mag_.back())));
}

bool BigInt::bit(size_t i) const {
  if (i / 64 >= mag_.size()) return false;
  return (mag_[i / 64] >> (i % 64)) & 1;
}

BigInt operator+(const BigInt& a, const BigInt& b) {
  BigInt out;
  if (a.neg_ == b.neg_) {
    out.mag_ = add_mag(a.mag_, b.mag_);
    out.neg_ = a.neg_;
  } else {
    int c = cmp_mag(a.mag_, b.mag_);
    if (c == 0) return out;
    if (c > 0) {
      out.mag_ = sub_mag(a.mag_, b.mag_);
      out.neg_ = a.neg_;
    } else {
      out.mag_ = sub_mag(b.mag_, a.mag_);
      out.neg_ = b.neg_;
    }
  }
  if (out.mag_.empty()) out.neg_ = false;
  return out;
}

BigInt BigInt::operator-() const {
  BigInt out = *this;
  if (!out.mag_.empty()) out.neg_ = !out.neg_;
  return out;
}

BigInt operator-(const BigInt& a, const BigInt& b) { return a + (-b); }

BigInt operator*(const BigInt& a, const BigInt& b) {
  BigInt out;
  out.mag_ = mul_mag(a.mag_, b.mag_);
  out.neg_ = !out.mag_.empty() && (a.neg_ != b.neg_);
  return out;
}

void BigInt::divmod_trunc(const BigInt& a, const BigInt& b, BigInt& q, BigInt& rem) {
  if (b.is_zero()) divide_by_zero();
  BigInt qq, rr;
  divmod_mag(a.mag_, b.mag_, qq.mag_, rr.mag_);
  qq.neg_ = !qq.mag_.empty() && (a.neg_ != b.neg_);
  rr.neg_ = !rr.mag_.empty() && a.neg_;
  q = std::move(qq);
  rem = std::move(rr);
}

BigInt BigInt::pow(uint32_t e) const {
  BigInt result = one(), base = *this;
  while (e != 0) {
    if (e & 1) result = result * base;
    e >>= 1;
    if (e != 0) base = base * base;
  }
  return result;
}

BigInt BigInt::mod_pow(const BigInt& a, const BigInt& e, const BigInt& m) {
  if (m.is_zero()) divide_by_zero();
  if (e.is_negative()) fail("negative exponent in modular exponentiation");
  BigInt am = m;
  am.neg_ = false;
  BigInt base = floor_mod(a, am);
  BigInt result = floor_mod(one(), am);
  for (size_t i = e.bit_length(); i-- > 0;) {
    result = floor_mod(result * result, am);
    if (e.bit(i)) result = floor_mod(result * base, am);
  }
  // Floored remainder carries the sign of m.
  if (m.neg_ && !result.is_zero()) result = result + m;
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
  size_t words = std::max(a.mag_.size(), b.mag_.size()) + 1;
  Mag ta = to_twos(a.mag_, a.neg_, words);
  Mag tb = to_twos(b.mag_, b.neg_, words);
  for (size_t i = 0; i < words; ++i) ta[i] &= tb[i];
  // The result is negative only when both operands are.
  bool neg = a.neg_ && b.neg_;
  BigInt out;
  out.mag_ = neg ? to_twos(ta, true, words) : ta;
  trim(out.mag_);
  out.neg_ = neg && !out.mag_.empty();
  return out;
}

BigInt BigInt::operator<<(size_t n) const {
  BigInt out;
  out.mag_ = shl_mag(mag_, n);
  out.neg_ = neg_ && !out.mag_.empty();
  return out;
}

BigInt BigInt::operator>>(size_t n) const {
  BigInt out;
  bool lost = false;
  out.mag_ = shr_mag(mag_, n, neg_ ? &lost : nullptr);
  // A negative value that loses one-bits rounds towards minus infinity.
  if (neg_ && lost) out.mag_ = add_mag(out.mag_, Mag{1});
  out.neg_ = neg_ && !out.mag_.empty();
  return out;
}

std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) {
  if (a.neg_ != b.neg_) return a.neg_ ? std::strong_ordering::less : std::strong_ordering::greater;
  int c = cmp_mag(a.mag_, b.mag_);
  if (a.neg_) c = -c;
  return c < 0 ? std::strong_ordering::less : c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal;
}

std::string BigInt::to_json_hex() const {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : to_bytes()) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool BigInt::from_json_hex(std::string_view s, BigInt& out) {
  if (s.size() % 2 != 0) return false;
  auto nib = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes(s.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    int hi = nib(s[2 * i]), lo = nib(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = uint8_t(hi << 4 | lo);
  }
  out = from_bytes(bytes);
  return true;
}

}  // namespace nacrel
