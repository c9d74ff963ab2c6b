// Prove and verify times of the sigma proofs through the core functions behind
// the Python entry points (proof text out, proof text in), measured in one run
// beside one constant-time and one public scalar multiplication. Provers are
// printed as multiples of the constant-time product, verifiers as multiples of
// the public one, each next to its target: a verifier costs at most the number
// of products in its equations, a prover at most its secret products plus one.
//
// Build with -DNACREL_BUILD_BENCH=ON and run ./bench_sigma [quick].
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.hpp"
#include "group/encoding.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "sigma/api.hpp"

using namespace nacrel;

namespace {

volatile uint64_t g_sink;

void sink(const Point& p) { g_sink = g_sink + p.ge().x.v[0]; }
void sink(const std::string& s) { g_sink = g_sink + s.size(); }
void sink(bool b) { g_sink = g_sink + b; }

// Times f and feeds each result to the sink so that nothing is optimised away.
template <class F>
double time_us(F&& f, double min_ms) {
  return bench::time_us([&] { sink(f()); }, min_ms);
}

struct Row {
  const char* name;
  double us;
  double unit;    // the product it is measured against
  double target;  // in those units
};

void print_row(const Row& r) {
  const double ratio = r.us / r.unit;
  std::printf("%-34s %10.1f us %8.2fx   target <= %2.0f   %s\n", r.name, r.us, ratio, r.target,
              ratio <= r.target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
  const double ms = quick ? 40 : 300;

  const Point& g = Point::generator();
  const Point h = g * Scalar::random();
  const Point h_sumR = g * Scalar::random();
  const Point g2 = g * Scalar::random();
  const Scalar sk = Scalar::random();
  const Point pk = h * sk;
  const Point sum_tokens = h_sumR * sk;
  const std::string pk_text = parse_scep256k1point_to_string(pk);
  const int32_t val = 1234, v = 77;
  const Scalar r = Scalar::random();
  const Point cm = lincomb_ct(g, Scalar::from_i64(val), h, r);
  const Point token = pk * r;

  const std::string e512 = sigma::dlog_explicit_prove(true, sk, h_sumR);
  const std::string e256 = sigma::dlog_explicit_prove(false, sk, h_sumR);
  const std::string q512 = sigma::dlog_eq_key_prove(true, sum_tokens, sk, h, h_sumR);
  const std::string q256 = sigma::dlog_eq_key_prove(false, sum_tokens, sk, h, h_sumR);
  const std::string same = sigma::dlog_eq_same_secret_prove(v, g, g2);
  const std::string ped = sigma::dlog_eq_ped_prove(v, g, h, pk_text);
  const std::string cons = sigma::consistency_prove(val, r, g, h, cm, token, pk_text);
  // Each verifier is timed on a valid proof, so it runs all its checks.
  if (!sigma::dlog_explicit_verify(true, e512, h_sumR, sum_tokens) ||
      !sigma::dlog_explicit_verify(false, e256, h_sumR, sum_tokens) ||
      !sigma::dlog_eq_key_verify(true, q512, h, h_sumR, sum_tokens) ||
      !sigma::dlog_eq_key_verify(false, q256, h, h_sumR, sum_tokens) ||
      !sigma::dlog_eq_same_secret_verify(same, g, g2) || !sigma::dlog_eq_ped_verify(ped, g, h) ||
      !sigma::consistency_verify(cons, g, h, cm, token, pk_text)) {
    std::fprintf(stderr, "bench_sigma: a fresh proof does not verify\n");
    return 1;
  }

  // The units: one product of a random point by a random scalar each.
  const Point base = g * Scalar::random();
  const Scalar k = Scalar::random();
  const double ct = time_us([&] { return base * k; }, ms);
  const double pub = time_us([&] { return base.mul_public(k); }, ms);
  std::printf("%-34s %10.1f us\n", "scalar mul, constant time", ct);
  std::printf("%-34s %10.1f us %8.2fx of constant time\n\n", "scalar mul, public", pub, pub / ct);

  // Targets: provers count their secret products (+1), verifiers the
  // products of their equations.
  std::vector<Row> rows = {
      {"DLogProofExplicit sha512 prove", time_us([&] { return sigma::dlog_explicit_prove(true, sk, h_sumR); }, ms),
       ct, 3},
      {"DLogProofExplicit sha512 verify",
       time_us([&] { return sigma::dlog_explicit_verify(true, e512, h_sumR, sum_tokens); }, ms), pub, 2},
      {"DLogProofExplicit sha256 prove",
       time_us([&] { return sigma::dlog_explicit_prove(false, sk, h_sumR); }, ms), ct, 3},
      {"DLogProofExplicit sha256 verify",
       time_us([&] { return sigma::dlog_explicit_verify(false, e256, h_sumR, sum_tokens); }, ms), pub, 2},
      {"DLogEqProof sha512 prove",
       time_us([&] { return sigma::dlog_eq_key_prove(true, sum_tokens, sk, h, h_sumR); }, ms), ct, 5},
      {"DLogEqProof sha512 verify",
       time_us([&] { return sigma::dlog_eq_key_verify(true, q512, h, h_sumR, sum_tokens); }, ms), pub, 4},
      {"DLogEqProof sha256 prove",
       time_us([&] { return sigma::dlog_eq_key_prove(false, sum_tokens, sk, h, h_sumR); }, ms), ct, 5},
      {"DLogEqProof sha256 verify",
       time_us([&] { return sigma::dlog_eq_key_verify(false, q256, h, h_sumR, sum_tokens); }, ms), pub, 4},
      {"DLogEqProof same secret prove", time_us([&] { return sigma::dlog_eq_same_secret_prove(v, g, g2); }, ms),
       ct, 5},
      {"DLogEqProof same secret verify", time_us([&] { return sigma::dlog_eq_same_secret_verify(same, g, g2); }, ms),
       pub, 4},
      // cm1, cm2, cm3, A1, A2: two products each; token: one.
      {"DLogEqProofPed prove", time_us([&] { return sigma::dlog_eq_ped_prove(v, g, h, pk_text); }, ms), ct, 12},
      {"DLogEqProofPed verify", time_us([&] { return sigma::dlog_eq_ped_verify(ped, g, h); }, ms), pub, 6},
      // The check of cm and t1: two products each; t2: one.
      {"ConsistencyProof prove",
       time_us([&] { return sigma::consistency_prove(val, r, g, h, cm, token, pk_text); }, ms), ct, 6},
      {"ConsistencyProof verify",
       time_us([&] { return sigma::consistency_verify(cons, g, h, cm, token, pk_text); }, ms), pub, 5},
  };
  std::printf("%-34s %13s %9s   (provers in constant-time products, verifiers in public ones)\n", "operation",
              "time", "ratio");
  int missed = 0;
  for (const Row& row : rows) {
    print_row(row);
    missed += row.us / row.unit > row.target;
  }
  std::printf("\n%d of %zu targets missed\n", missed, rows.size());
  return 0;
}
