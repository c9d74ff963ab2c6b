// Timing helper shared by the C++ benchmarks.
#pragma once

#include <chrono>
#include <cstddef>

namespace nacrel::bench {

// Time per call in microseconds: the minimum over `batches` batches of about
// min_ms / batches each, so that other load on the machine (which only ever
// adds time) is mostly filtered out.
template <class F>
double time_us(F&& f, double min_ms, int batches = 20) {
  using clock = std::chrono::steady_clock;
  const double batch_ms = min_ms / batches;
  size_t iters = 1;
  for (;;) {
    auto t0 = clock::now();
    for (size_t i = 0; i < iters; ++i) f();
    double ms = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
    if (ms >= batch_ms) break;
    iters *= ms < batch_ms / 10 ? 10 : 2;
  }
  double best = 1e300;
  for (int rep = 0; rep < batches; ++rep) {
    auto t0 = clock::now();
    for (size_t i = 0; i < iters; ++i) f();
    double us = std::chrono::duration<double, std::micro>(clock::now() - t0).count() / double(iters);
    if (us < best) best = us;
  }
  return best;
}

}  // namespace nacrel::bench
