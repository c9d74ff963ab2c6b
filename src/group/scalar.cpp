#include "group/scalar.hpp"

#include "group/error.hpp"
#include "group/secret.hpp"

namespace nacrel {

Scalar Scalar::random() {
  // A zero draw has probability 1/r; draw again rather than return it.
  // Whether a draw was zero says nothing about the draw that is kept.
  for (;;) {
    Wiped<Fr> f(fr_random());
    bool zero = f->is_zero();
    ct::publish(zero);
    if (!zero) return Scalar("random scalar", *f);
  }
}

const BigInt& Scalar::group_order() {
  static const BigInt order = [] {
    uint8_t be[32];
    u256_to_be(Fr::modulus(), be);
    return BigInt::from_bytes(be, 32);
  }();
  return order;
}

Scalar Scalar::from_bigint(const BigInt& n) {
  std::vector<uint8_t> bytes = BigInt::modulus(n, group_order()).to_bytes();
  return Scalar("from_bigint", Fr::from_be_bytes_reduce(bytes.data(), bytes.size()));
}

Scalar Scalar::from_i64(int64_t n) {
  // Same value as from_bigint, without the detour through BigInt. The value
  // may be secret (a committed amount), so the sign selects without a branch.
  const uint64_t neg_mask = uint64_t(0) - (uint64_t(n) >> 63);
  const uint64_t mag = (uint64_t(n) ^ neg_mask) - neg_mask;
  Fr f = Fr::from_u64(mag);
  Fr::cmov(f, -f, neg_mask);
  return Scalar("from_bigint", f);
}

bool Scalar::deserialize(const uint8_t* data, size_t len, Scalar& out) {
  if (len != 32) return false;
  out = Scalar("deserialized Scalar", Fr::from_be_bytes_reduce(data, len));
  return true;
}

BigInt Scalar::to_bigint() const {
  std::array<uint8_t, 32> be = serialize();
  return BigInt::from_bytes(be.data(), be.size());
}

std::array<uint8_t, 32> Scalar::serialize() const {
  std::array<uint8_t, 32> out;
  v.fe.to_be_bytes(out.data());
  return out;
}

bool Scalar::invert(Scalar& out) const {
  if (is_zero()) return false;
  out = Scalar("invert", v.fe.inverse_ct());
  return true;
}

}  // namespace nacrel
