// Cost of hashing to the curve against one public scalar multiplication,
// measured side by side. Build with -DNACREL_BUILD_BENCH=ON and run
// ./bench_hash_to_curve.
#include <cstdio>
#include <vector>

#include "bench_util.hpp"
#include "group/curve.hpp"
#include "group/hash_to_curve.hpp"
#include "group/sha2.hpp"

using namespace nacrel;
using nacrel::bench::time_us;

int main() {
  const double ms = 300;
  // 64-byte digests, as the generator derivation feeds them.
  std::vector<std::array<uint8_t, 64>> digests;
  for (uint32_t i = 0; i < 64; ++i) digests.push_back(sha512(&i, sizeof i));
  size_t next = 0;
  volatile bool sink = false;

  const G1Affine g = G1Affine::generator();
  const Fr k = fr_random();
  const double mul_us = time_us([&] { sink = mul_vartime(g, k).is_identity(); }, ms);
  const double map_us = time_us(
      [&] {
        const auto& d = digests[next++ % digests.size()];
        sink = generate_random_point(d.data(), d.size()).is_identity();
      },
      ms);
  std::printf("%-40s %9.2f us   1.00x\n", "public scalar multiplication", mul_us);
  std::printf("%-40s %9.2f us   %5.2fx  (target <= 4x)\n", "generate_random_point, 64-byte digest", map_us,
              map_us / mul_us);
  (void)sink;
  return 0;
}
