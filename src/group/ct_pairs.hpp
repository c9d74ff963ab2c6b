// The pairwise affine additions of the constant-time sums (fixed_ct.cpp),
// shared with their AVX-512 IFMA version (batch_ifma.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "group/field.hpp"

namespace nacrel {

// Affine point with an identity mask (all-ones for the identity, whose
// coordinates are then meaningless).
struct CtPoint {
  Fq x, y;
  uint64_t inf;
};

// out[(k / row_pairs) * out_stride + k % row_pairs] = in[2k] + in[2k + 1]
// for k < m, on AVX-512 IFMA eight pairs at a time, in constant time with
// respect to the points (masks and blends only; every address depends on k
// alone), the m denominators sharing one inversion. Gives the same points
// and masks as the portable additions (and the same coordinates wherever
// the result is not the identity). false, with nothing done, when the IFMA
// path is off. out must not overlap in.
bool add_pairs_ct_wide(const CtPoint* in, CtPoint* out, size_t m, size_t row_pairs, size_t out_stride);

// out[p] = the sum over i < width of leaves[p * stride + i], for p < rows,
// on AVX-512 IFMA, in constant time with respect to the points (a binary
// tree per row, every level's additions sharing one inversion; every
// address depends on p, i and the level alone). The same points and masks
// as the portable trees. false, with nothing done, when the IFMA path is
// off.
bool sum_columns_ct_wide(const CtPoint* leaves, size_t rows, size_t width, size_t stride, CtPoint* out);

}  // namespace nacrel
