// The inner-product prover alone, over the cached generators (the range
// proof's case: h ratio, u a multiple of the generator) and over vectors
// without tables, as a time and as a multiple of one public scalar
// multiplication measured in the same run. `./bench_ipa [quick]`;
// `./bench_ipa loop N REPS [other]` only proves REPS times at length N, and
// `./bench_ipa mul REPS` only multiplies, `./bench_ipa range N M REPS` only
// proves a range proof of M values of N bits (for a profiler or callgrind).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_util.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/inner_product.hpp"
#include "rangeproof/range_proof.hpp"

using namespace nacrel;
using namespace nacrel::rangeproof;

namespace {

volatile bool g_sink;

// Fixed pseudo-random scalars, so that runs of two builds see the same
// digits (the variable-time parts move a little with the values).
Scalar next_scalar() {
  static Fr state = Fr::from_u64(0x9e3779b97f4a7c15ULL);
  state = state * Fr::from_u64(0xd1342543de82ef95ULL) + Fr::from_u64(0x2545f4914f6cdd1dULL);
  return Scalar("bench", state * state * state);
}

struct Input {
  std::vector<Point> g, h;
  Point u;
  std::vector<Scalar> a, b;
  Scalar ratio;
};

Input make_input(size_t n, bool cached) {
  Input in;
  GeneratorVectors gv = derive_generator_vectors(n);
  in.g = gv.g_vec;
  in.h = gv.h_vec;
  if (cached) {
    g_sink = generator_tables_for(in.g, in.h).empty();  // built once, as on a first proof
  } else {
    // Other points: the same generators times a constant.
    const Scalar c = next_scalar();
    for (Point& p : in.g) p = p.mul_public(c);
    for (Point& p : in.h) p = p.mul_public(c);
  }
  in.u = Point::generator().mul_public(next_scalar());
  for (size_t i = 0; i < n; ++i) {
    in.a.push_back(next_scalar());
    in.b.push_back(next_scalar());
  }
  in.ratio = next_scalar();
  return in;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "mul") == 0) {
    std::vector<Scalar> ks;
    for (int i = 0; i < 16; ++i) ks.push_back(next_scalar());
    for (long r = std::atol(argv[2]); r > 0; --r) g_sink = Point::generator().mul_public(ks[size_t(r) % 16]).is_identity();
    return 0;
  }
  if (argc > 4 && std::strcmp(argv[1], "range") == 0) {
    const uint64_t bits = uint64_t(std::atol(argv[2])), m = uint64_t(std::atol(argv[3]));
    const long reps = std::atol(argv[4]);
    GeneratorVectors gv = derive_generator_vectors(bits * m);
    g_sink = generator_tables_for(gv.g_vec, gv.h_vec).empty();
    std::vector<Scalar> values, blindings;
    for (uint64_t j = 0; j < m; ++j) {
      values.push_back(Scalar::from_i64(int64_t(200 + j)));
      blindings.push_back(next_scalar());
    }
    const Point G = Point::generator(), H = range_test_h();
    for (long r = 0; r < reps; ++r)
      g_sink = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, values, blindings, bits).tx.fe().is_zero();
    return 0;
  }
  if (argc > 3 && std::strcmp(argv[1], "loop") == 0) {
    const size_t n = size_t(std::atol(argv[2]));
    const long reps = std::atol(argv[3]);
    Input in = make_input(n, !(argc > 4 && std::strcmp(argv[4], "other") == 0));
    for (long r = 0; r < reps; ++r) g_sink = InnerProductArg::prove(in.g, in.h, in.u, in.a, in.b, &in.ratio).L.empty();
    return 0;
  }
  const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
  const double min_ms = quick ? 100 : 600;
  const Point G = Point::generator();
  const Scalar k = next_scalar();
  const double mul_us = bench::time_us([&] { g_sink = G.mul_public(k).is_identity(); }, min_ms);
  std::printf("one public scalar multiplication: %.1f us\n\n", mul_us);
  std::printf("%6s %14s %8s %14s %8s\n", "n", "cached ms", "x mul", "other ms", "x mul");
  for (size_t n : {8, 16, 32, 64, 128, 256, 512}) {
    double us[2];
    for (int c = 0; c < 2; ++c) {
      Input in = make_input(n, c == 0);
      us[c] = bench::time_us(
          [&] { g_sink = InnerProductArg::prove(in.g, in.h, in.u, in.a, in.b, &in.ratio).L.empty(); }, min_ms, 10);
    }
    std::printf("%6zu %14.3f %8.1f %14.3f %8.1f\n", n, us[0] / 1e3, us[0] / mul_us, us[1] / 1e3, us[1] / mul_us);
  }
  return 0;
}
