// Range-proof prover and verifier through the core: single proofs at 8, 32
// and 64 bits and aggregated 64-bit proofs of m = 2, 4, 8 values, each as a
// time and as a multiple of one public scalar multiplication measured in the
// same run. The first derivation of the generators is timed separately
// (later calls read the process-wide cache). Build with -DNACREL_BUILD_BENCH=ON
// and run ./bench_rangeproof [quick].
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_util.hpp"
#include "group/curve.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/range_proof.hpp"

using namespace nacrel;
using namespace nacrel::rangeproof;

namespace {

volatile bool g_sink;

template <class F>
double time_us(F&& f, double min_ms) {
  return bench::time_us(f, min_ms, 10);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
  const double min_ms = quick ? 100 : 600;

  // First call: derives (and caches) every generator the runs below use.
  const uint64_t kLongest = 64 * 8;
  auto t0 = std::chrono::steady_clock::now();
  derive_generator_vectors(kLongest);
  double first_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  const double cached_us = time_us([&] { g_sink = derive_generator_vectors(kLongest).g_vec.size() != 0; }, min_ms);
  std::printf("generators for n*m = %llu: first call %.2f ms, cached %.1f us\n", (unsigned long long)kLongest,
              first_ms, cached_us);
  // The multiplication tables of those generators, built on the first proof.
  {
    const GeneratorVectors gv = derive_generator_vectors(kLongest);
    t0 = std::chrono::steady_clock::now();
    g_sink = generator_tables_for(gv.g_vec, gv.h_vec).empty();
    const double tables_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const double lookup_us = time_us([&] { g_sink = generator_tables_for(gv.g_vec, gv.h_vec).empty(); }, min_ms);
    std::printf("their tables: first call %.2f ms, cached lookup %.1f us\n", tables_ms, lookup_us);
  }

  const Point G = Point::generator();
  const Point H = range_test_h();
  const Scalar k = Scalar::random();
  auto mul = [&] { g_sink = G.mul_public(k).is_identity(); };
  // Load from other jobs on the machine only ever adds time: each figure is
  // the minimum over 60 short batches, taken in turn for the three.
  std::printf("each row times one public scalar multiplication (mul) side by side with the proof and its check\n\n");

  struct Shape {
    uint64_t n, m;
  };
  const Shape shapes[] = {{8, 1}, {32, 1}, {64, 1}, {64, 2}, {64, 4}, {64, 8}};
  std::printf("%5s %3s %8s %11s %8s %11s %8s\n", "n", "m", "mul us", "prove ms", "x mul", "verify ms", "x mul");
  for (const Shape& s : shapes) {
    GeneratorVectors gv = derive_generator_vectors(s.n * s.m);
    std::vector<Scalar> values, blindings;
    std::vector<Point> commitments;
    for (uint64_t j = 0; j < s.m; ++j) {
      values.push_back(Scalar::from_i64(int64_t(200 + j)));
      blindings.push_back(Scalar::random());
      commitments.push_back(G * values.back() + H * blindings.back());
    }
    RangeProof proof = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, values, blindings, s.n);
    if (!proof.verify(gv.g_vec, gv.h_vec, G, H, commitments, s.n)) {
      std::printf("proof did not verify\n");
      return 1;
    }
    const std::vector<double> us = bench::time_side_by_side_us(
        {mul, [&] { g_sink = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, values, blindings, s.n).tx.fe().is_zero(); },
         [&] { g_sink = proof.verify(gv.g_vec, gv.h_vec, G, H, commitments, s.n); }},
        3 * min_ms, 60);
    const double mul_us = us[0], prove_us = us[1], verify_us = us[2];
    std::printf("%5llu %3llu %8.1f %11.3f %8.1f %11.3f %8.1f\n", (unsigned long long)s.n, (unsigned long long)s.m,
                mul_us, prove_us / 1e3, prove_us / mul_us, verify_us / 1e3, verify_us / mul_us);
  }

  // The affine bucket sums on both paths, side by side, at n = 64.
  if (set_ifma_affine_sums(true)) {
    GeneratorVectors gv = derive_generator_vectors(64);
    const std::vector<Scalar> values = {Scalar::from_i64(200)}, blindings = {Scalar::random()};
    const std::vector<Point> commitments = {G * values[0] + H * blindings[0]};
    const RangeProof proof = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, values, blindings, 64);
    double t[2][2];
    for (int on = 1; on >= 0; --on) {
      set_ifma_affine_sums(on != 0);
      t[on][0] = time_us(
          [&] { g_sink = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, values, blindings, 64).tx.fe().is_zero(); },
          min_ms);
      t[on][1] = time_us([&] { g_sink = proof.verify(gv.g_vec, gv.h_vec, G, H, commitments, 64); }, min_ms);
    }
    set_ifma_affine_sums(true);
    std::printf("\nn = 64 bucket sums, portable / AVX-512 IFMA: prove %.3f / %.3f ms (%.2fx), verify %.3f / %.3f ms "
                "(%.2fx)\n",
                t[0][0] / 1e3, t[1][0] / 1e3, t[0][0] / t[1][0], t[0][1] / 1e3, t[1][1] / 1e3, t[0][1] / t[1][1]);
  } else {
    std::printf("\n(no AVX-512 IFMA here: the bucket sums run on the portable path)\n");
  }
  return 0;
}
