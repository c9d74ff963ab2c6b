// Timing helper shared by the C++ benchmarks.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

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

// Times per call in microseconds of several functions measured side by
// side: batches of each in turn, the minimum per function. Load that comes
// and goes then touches all of them alike, so their ratios hold even when
// single runs drift.
inline std::vector<double> time_side_by_side_us(const std::vector<std::function<void()>>& fs, double min_ms,
                                                int batches = 20) {
  using clock = std::chrono::steady_clock;
  const double batch_ms = min_ms / batches / double(fs.size());
  std::vector<size_t> iters(fs.size(), 1);
  for (size_t k = 0; k < fs.size(); ++k) {
    for (;;) {
      auto t0 = clock::now();
      for (size_t i = 0; i < iters[k]; ++i) fs[k]();
      double ms = std::chrono::duration<double, std::milli>(clock::now() - t0).count();
      if (ms >= batch_ms) break;
      iters[k] *= ms < batch_ms / 10 ? 10 : 2;
    }
  }
  std::vector<double> best(fs.size(), 1e300);
  for (int rep = 0; rep < batches; ++rep) {
    for (size_t k = 0; k < fs.size(); ++k) {
      auto t0 = clock::now();
      for (size_t i = 0; i < iters[k]; ++i) fs[k]();
      double us = std::chrono::duration<double, std::micro>(clock::now() - t0).count() / double(iters[k]);
      if (us < best[k]) best[k] = us;
    }
  }
  return best;
}

}  // namespace nacrel::bench
