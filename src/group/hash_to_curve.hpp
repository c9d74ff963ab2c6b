// Maps byte strings to points of G1 with the Shallue-van de Woestijne map
// (straight-line form, Z = 1), so that nobody knows their discrete logarithms.
#pragma once

#include <cstddef>
#include <cstdint>

#include "group/curve.hpp"
#include "group/point.hpp"

namespace nacrel {

// SvdW map of u to an affine point of y^2 = x^3 + 3, with sgn0(y) = sgn0(u).
// Stops with "should not fail" for u = +-1/2, the two inputs without an image.
G1Affine map_to_curve_g1_unchecked(const Fq& u);

// The bytes as one big-endian integer mod p, mapped to the curve and validated
// ("deserialized point"); never the identity.
Point generate_random_point(const uint8_t* data, size_t len);

}  // namespace nacrel
