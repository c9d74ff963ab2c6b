// Generator vectors of the range proof: every generator is the SHA-512 digest
// of a counter label mapped to the curve, so prover and verifier derive the
// same vectors from the bit length alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "group/bigint.hpp"
#include "group/point.hpp"

namespace nacrel::rangeproof {

// The four ASCII bytes "Qelt" read as a big-endian integer.
inline constexpr uint32_t kGeneratorLabel = 0x51656c74;

// Largest bit length accepted anywhere in the range-proof layer. It keeps the
// labels (label + 2n - 1) below 2^32 with a wide margin and bounds the work of
// a single call; bit lengths beyond a few hundred have no use for values
// below the group order.
inline constexpr uint64_t kMaxRangeBits = 1u << 16;

// Throws LimitError naming the bound when n exceeds kMaxRangeBits.
void check_range_bits(uint64_t n);
// The same for the proof functions, whose power-of-two stop comes first: a
// bit length above the bound that is not a power of two stops with
// "assertion failed: n.is_power_of_two()".
void check_proof_bits(uint64_t n);

// generate_random_point(to_bytes(from_bytes(SHA-512(to_bytes(k))))).
Point derive_generator(const BigInt& k);

struct GeneratorVectors {
  std::vector<Point> g_vec;  // labels label + i
  std::vector<Point> h_vec;  // labels label + n + i
};

// Both vectors of length n. Generators are kept in a process-wide cache
// indexed by label offset (bounded, built once per offset, thread-safe), so
// repeated calls cost only the copies.
GeneratorVectors derive_generator_vectors(uint64_t n);

// Multiplication tables of g then h (2n entries) when g and h are the
// cached generator vectors of length n (labels label + i and label + n + i),
// else empty. The tables are built once per offset in the same cache and
// live until the process exits; vectors whose first point is not the first
// generator are refused before anything is built.
std::vector<const FixedTable*> generator_tables_for(const std::vector<Point>& g, const std::vector<Point>& h);

// The public part of the range prover's A for the cached generator vectors
// of a power-of-two length n: gh[i] = g[i] + h[i] and minus_h = -(sum of
// h[i]), affine, built once per length; null for other vectors.
struct GeneratorSums {
  std::vector<G1Affine> gh;
  G1Affine minus_h;
};
const GeneratorSums* generator_sums_for(const std::vector<Point>& g, const std::vector<Point>& h);
// The same sums for any n points g and h (two additions per point, one
// shared inversion).
GeneratorSums generator_sums(const Point* g, const Point* h, size_t n);

// Constant-time multiplication tables (CtTable, 4 KB each) of g then h under
// the same conditions, built once per offset in the same cache.
std::vector<const CtTable*> generator_ct_tables_for(const std::vector<Point>& g, const std::vector<Point>& h);

// The blinding base of the self-test: the generator derived from the integer 1.
const Point& range_test_h();

// The constant-time comb table (148 KB) of p when p is the standard
// generator or range_test_h(), built once on first use; else null.
const CtCombTable* ct_comb_for(const Point& p);
// The variable-time FixedTable of p for the same two points (about 1.5
// multiplications to build, once); else null.
const FixedTable* fixed_table_for(const Point& p);
// The variable-time CombTable (88 KB) of the same two points (the
// generator's is generator_comb()); else null.
const CombTable* comb_for(const Point& p);

}  // namespace nacrel::rangeproof
