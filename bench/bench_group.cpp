// Timings of the group layer's field and curve arithmetic, printed side by
// side with their ratios. Build with -DNACREL_BUILD_BENCH=ON and run
// ./bench_group [quick].
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_util.hpp"
#include "group/curve.hpp"
#include "group/field.hpp"
#include "group/field_impl.hpp"  // field operations inlined as in the curve code

using namespace nacrel;
using nacrel::bench::time_us;

namespace {

volatile uint64_t g_sink;

std::vector<G1Affine> points(size_t n) {
  std::vector<G1Jac> js;
  G1Jac acc = to_jacobian(G1Affine::generator());
  for (size_t i = 0; i < n; ++i) {
    acc = add_mixed(dbl(acc), G1Affine::generator());
    js.push_back(acc);
  }
  std::vector<G1Affine> out(n);
  batch_to_affine(js.data(), out.data(), n);
  return out;
}

std::vector<Fr> scalars(size_t n) {
  std::vector<Fr> out;
  for (size_t i = 0; i < n; ++i) out.push_back(fr_random());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
  const double ms = quick ? 30 : 200;

  std::vector<G1Affine> ps = points(1024);
  std::vector<Fr> ks = scalars(1024);
  size_t idx = 0;
  // The public scalar multiplication is the unit of every ratio below.
  const double t_vt = time_us([&] {
    idx++;
    g_sink = mul_vartime(ps[idx % 64], ks[idx % 64]).X.v[0];
  }, ms);
  std::printf("field code: %s\n", fast_field_mul_active() ? "mulx/adx" : "portable");
  std::printf("%-34s %12s %14s\n", "operation", "time", "/ mul_vartime");
  auto show = [&](const char* name, double us) {
    if (us < 1)
      std::printf("%-34s %9.1f ns %14.5f\n", name, us * 1000, us / t_vt);
    else
      std::printf("%-34s %9.2f us %14.3f\n", name, us, us / t_vt);
  };

  // Field operations as dependent chains (latency).
  Fq a = Fq::from_u64(123456789), b = Fq::from_u64(987654321);
  a = a.inverse_ct();
  show("Fq mul", time_us([&] { a = a * b; }, ms));
  {
    Fq c = b.sqr(), d = c + a, e = d.sqr();
    show("Fq mul, 4 independent (each)", time_us([&] {
      a = a * b;
      c = c * b;
      d = d * b;
      e = e * b;
    }, ms) / 4);
    g_sink = (a + c + d + e).v[0];
  }
  show("Fq sqr", time_us([&] { a = a.sqr(); }, ms));
  show("Fq add", time_us([&] { a = a + b; }, ms));
  show("Fq sub", time_us([&] { a = a - b; }, ms));
  {
    U256 p_minus_2 = Fq::modulus();
    p_minus_2.w[0] -= 2;
    show("Fq a^(p-2) (Fermat)", time_us([&] { a = a.pow_vartime(p_minus_2) + b; }, ms));
  }
  show("Fq inverse_ct (divsteps)", time_us([&] { a = a.inverse_ct() + b; }, ms));
  show("Fq inverse_vartime (divsteps)", time_us([&] { a = a.inverse_vartime() + b; }, ms));
  bool sq = false;
  show("Fq square test, Euler", time_us([&] {
    a = a + b;
    sq ^= fq_is_square(a);
  }, ms));
  show("Fq square test, Jacobi", time_us([&] {
    a = a + b;
    sq ^= fq_is_square_vartime(a);
  }, ms));
  g_sink = a.v[0] + sq;

  G1Jac j = to_jacobian(ps[1]);
  G1Jac j2 = dbl(to_jacobian(ps[2]));
  show("G1 dbl (Jacobian)", time_us([&] { j = dbl(j); }, ms));
  show("G1 add_mixed", time_us([&] {
    idx++;
    j = add_mixed(j, ps[idx % 64]);
  }, ms));
  show("G1 add (Jacobian)", time_us([&] { j = add(j, j2); }, ms));
  g_sink = j.X.v[0];

  const double t_ct = time_us([&] {
    idx++;
    g_sink = mul_ct(ps[idx % 64], ks[idx % 64]).X.v[0];
  }, ms);
  show("mul_vartime (public scalar)", t_vt);
  show("mul_ct (secret scalar)", t_ct);
  for (size_t n : {16, 128}) {
    char name[64];
    std::snprintf(name, sizeof name, "msm_ct n=%zu, per point", n);
    show(name, time_us([&] { g_sink = msm_ct(ps.data(), ks.data(), n).X.v[0]; }, ms) / double(n));
  }
  {
    // The range prover's S at n*m = 64: 129 secret products over cached tables.
    const size_t n = 129;
    std::vector<CtTable> tables(n);
    build_ct_tables(ps.data(), tables.data(), n);
    std::vector<const CtTable*> ptrs(n);
    for (size_t i = 0; i < n; ++i) ptrs[i] = &tables[i];
    show("msm_ct_tables n=129 (whole sum)", time_us([&] { g_sink = msm_ct_tables(ptrs.data(), ks.data(), n).X.v[0]; }, ms));
  }
  for (size_t n : {16, 128, 1024}) {
    char name[64];
    std::snprintf(name, sizeof name, "msm_vartime n=%zu, per point", n);
    show(name, time_us([&] { g_sink = msm_vartime(ps.data(), ks.data(), n).X.v[0]; }, ms) / double(n));
  }

  std::printf("msm per point (us) and ratio to mul_vartime:\n");
  std::printf("%6s %10s %10s %10s %10s\n", "n", "default", "wnaf", "buckets", "default/mul");
  // "buckets" is the affine bucket method at its default width, for every n.
  for (size_t n : {2, 4, 8, 16, 32, 64, 128, 256, 512, 1024}) {
    if (quick && n != 16 && n != 128 && n != 1024) continue;
    double t_def = time_us([&] { g_sink = msm_vartime(ps.data(), ks.data(), n).X.v[0]; }, ms) / double(n);
    double t_str = time_us([&] { g_sink = msm_vartime_with(ps.data(), ks.data(), n, 0).X.v[0]; }, ms) / double(n);
    double t_pip = time_us([&] { g_sink = msm_vartime_with(ps.data(), ks.data(), n, -1).X.v[0]; }, ms) / double(n);
    std::printf("%6zu %10.2f %10.2f %10.2f %10.2f\n", n, t_def, t_str, t_pip, t_def / t_vt);
  }
  // The same operations with the portable field code, side by side.
  if (fast_field_mul_active()) {
    std::printf("portable vs mulx/adx field code (time ratio portable/mulx):\n");
    auto run = [&](double* t) {
      t[0] = time_us([&] { a = a * b; }, ms) * 1000;
      t[1] = time_us([&] {
        idx++;
        g_sink = mul_ct(ps[idx % 64], ks[idx % 64]).X.v[0];
      }, ms);
      t[2] = time_us([&] {
        idx++;
        g_sink = mul_vartime(ps[idx % 64], ks[idx % 64]).X.v[0];
      }, ms);
      t[3] = time_us([&] { g_sink = msm_vartime(ps.data(), ks.data(), 128).X.v[0]; }, ms) / 128;
    };
    double fast[4], port[4];
    run(fast);
    set_fast_field_mul(false);
    run(port);
    set_fast_field_mul(true);
    const char* names[4] = {"Fq mul (ns)", "mul_ct (us)", "mul_vartime (us)", "msm n=128 per point (us)"};
    for (int i = 0; i < 4; ++i)
      std::printf("  %-26s mulx %9.2f  portable %9.2f  ratio %.2f\n", names[i], fast[i], port[i], port[i] / fast[i]);
  } else {
    std::printf("mulx/adx field code not in use (portable build or processor without BMI2/ADX)\n");
  }

  if (!quick) {
    for (int base : {0, 100}) {
      std::printf("%s bucket width scan (us per point):\n%6s", base ? "affine" : "Jacobian", "n");
      for (int c = 4; c <= 11; ++c) std::printf(" %6s%d", "c=", c);
      std::printf("\n");
      for (size_t n : {32, 64, 128, 256, 512, 1024}) {
        std::printf("%6zu", n);
        for (int c = 4; c <= 11; ++c) {
          double t =
              time_us([&] { g_sink = msm_vartime_with(ps.data(), ks.data(), n, base + c).X.v[0]; }, ms / 4);
          std::printf(" %7.2f", t / double(n));
        }
        std::printf("\n");
      }
    }
  }
  return 0;
}
