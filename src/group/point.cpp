#include "group/point.hpp"

#include "group/error.hpp"

namespace nacrel {

namespace {

Fq fq_from_bigint(const BigInt& n) {
  static const BigInt p = [] {
    uint8_t be[32];
    u256_to_be(Fq::modulus(), be);
    return BigInt::from_bytes(be, 32);
  }();
  std::vector<uint8_t> bytes = BigInt::modulus(n, p).to_bytes();
  return Fq::from_be_bytes_reduce(bytes.data(), bytes.size());
}

BigInt fq_to_bigint(const Fq& f) {
  uint8_t be[32];
  f.to_be_bytes(be);
  return BigInt::from_bytes(be, 32);
}

std::string coordinate_text(const G1Affine& ge) {
  if (ge.infinity) return "infinity";
  return "(" + fq_to_bigint(ge.x).to_dec() + ", " + fq_to_bigint(ge.y).to_dec() + ")";
}

}  // namespace

const Point& Point::generator() {
  static const Point g("base_point", G1Affine::generator());
  return g;
}

Point Point::from_coords(const BigInt& x, const BigInt& y) {
  G1Affine ge{fq_from_bigint(x), fq_from_bigint(y), false};
  ensure(ge.is_on_curve(), "point.is_on_curve()");
  return Point("point_from_coords", ge);
}

bool Point::deserialize(const uint8_t* data, size_t len, Point& out) {
  G1Affine ge;
  if (!decode_point(data, len, ge)) return false;
  out = Point("deserialized point", ge);
  return true;
}

BigInt Point::x_coord() const { return fq_to_bigint(v.ge.x); }
BigInt Point::y_coord() const { return fq_to_bigint(v.ge.y); }

std::array<uint8_t, 32> Point::serialize_compressed() const {
  std::array<uint8_t, 32> out;
  encode_compressed(v.ge, out.data());
  return out;
}

std::array<uint8_t, 64> Point::serialize_uncompressed() const {
  std::array<uint8_t, 64> out;
  encode_uncompressed(v.ge, out.data());
  return out;
}

namespace {

// Sums are computed and normalised in constant time: their operands may
// derive from secrets (the self-test adds G*v and H*r; c*sk - t recovers a
// value). The complete addition costs little beside the inversion.
G1Affine sum_ct(const G1Affine& a, const G1Affine& b) {
  return to_affine(add_ct(to_jacobian_ct(a), to_jacobian_ct(b)));
}

}  // namespace

Point Point::operator+(const Point& b) const { return Point("add_point", sum_ct(v.ge, b.v.ge)); }

Point Point::operator-(const Point& b) const { return Point("sub_point", sum_ct(v.ge, neg(b.v.ge))); }

Point Point::operator-() const { return Point(v.purpose, neg(v.ge)); }

Point Point::operator*(const Scalar& k) const {
  return Point("scalar_mul", to_affine(mul_ct(v.ge, k.fe())));
}

Point Point::mul_public(const Scalar& k) const {
  return Point("scalar_mul", to_affine_vartime(mul_vartime(v.ge, k.fe())));
}

Point& Point::operator+=(const Point& b) {
  v.ge = sum_ct(v.ge, b.v.ge);
  return *this;
}

Point& Point::operator-=(const Point& b) {
  v.ge = sum_ct(v.ge, neg(b.v.ge));
  return *this;
}

Point& Point::operator*=(const Scalar& k) {
  v.ge = to_affine(mul_ct(v.ge, k.fe()));
  return *this;
}

std::string Point::debug_text() const {
  return std::string("Bn254Point {\n    purpose: \"") + v.purpose + "\",\n    ge: " + coordinate_text(v.ge) + ",\n}";
}

std::string Point::debug_text_compact() const {
  return std::string("Bn254Point { purpose: \"") + v.purpose + "\", ge: " + coordinate_text(v.ge) + " }";
}

// One shared doubling chain for both products (msm_ct), so the sum costs
// little more than a single constant-time product.
Point lincomb_ct(const Point& a, const Scalar& x, const Point& b, const Scalar& y) {
  const G1Affine points[2] = {a.v.ge, b.v.ge};
  const Fr scalars[2] = {x.fe(), y.fe()};
  return Point("scalar_mul", to_affine(msm_ct(points, scalars, 2)));
}

Point msm_public(const Point* points, const Scalar* scalars, size_t n) {
  std::vector<G1Affine> ps(n);
  std::vector<Fr> ks(n);
  for (size_t i = 0; i < n; ++i) {
    ps[i] = points[i].v.ge;
    ks[i] = scalars[i].v.fe;
  }
  return Point("scalar_mul", to_affine_vartime(msm_vartime(ps.data(), ks.data(), n)));
}

}  // namespace nacrel
