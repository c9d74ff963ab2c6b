// Recovery of a small signed value v from a point v*Q.
//
// The observable result is that of the plain walk over the candidates
// 0, 1, -1, 2, -2, ..., R-1, -(R-1), first match wins, -1 when none matches or
// R < 1. It is computed by walking the first candidates with running
// additions (a small value returns at once), then by baby-step giant-step
// searches over growing windows up to (-R, R), which find the same value: every
// non-identity point has prime order r > 2^32, so at most one candidate of the
// window can match.
#pragma once

#include <cstdint>

#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel {

// The v in (-range, range) with base*v == target, in the walk's order; -1 when
// none exists or range < 1. An identity base matches only an identity target
// (at v = 0). Variable time: base and target must be public to the caller.
int32_t find_small_multiple(const Point& base, const Point& target, int32_t range);

// The committed value of c = g*v + h*rho from its token t = (h*rho)*sk:
// searches target c*sk - t over base g*sk. Both products with the secret sk are
// computed in constant time; only the resulting points enter the search.
int32_t recover_committed_value(const Point& c, const Point& t, const Point& g, const Scalar& sk, int32_t range);

}  // namespace nacrel
