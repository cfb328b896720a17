#include "smoother/kernel/widths.h"

#include <chrono>
#include <cmath>
#include <cstdint>

#include "numeric/lanes.h"
#include "smoother/kernel/fit_range.h"

namespace {

using fit_ranges::sums_timer;

// Points of the stand-in window, and groups summed per timing.
constexpr std::int32_t POINTS = 256;
constexpr std::int32_t GROUPS = 64;
constexpr int ROUNDS = 3;

// Seconds per (query x point) pair of one timing at `lanes`.
double seconds_per_pair(sums_timer run, int lanes, const double* x, const double* y, double* sink) {
  const auto t0 = std::chrono::steady_clock::now();
  *sink += run(x, y, POINTS, GROUPS);
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(t1 - t0).count() /
         (static_cast<double>(POINTS) * GROUPS * lanes);
}

int calibrate() {
  const int widest = supported_lanes();
  if (widest == 2) return 2;
  // Small enough for the stack; no storage of the host's is needed.
  double x[POINTS];
  double y[POINTS];
  for (std::int32_t i = 0; i < POINTS; ++i) {
    x[i] = static_cast<double>(i) / POINTS;
    y[i] = std::sin(6.0 * x[i]);
  }
  struct width {
    int lanes;
    sums_timer run;
    double best;
  };
  width widths[3] = {{2, fit_ranges::sums_run_2, 0.0}};
  int count = 1;
#if QUIBRA_WIDE_LANES
  widths[count++] = {4, fit_ranges::sums_run_4, 0.0};
  if (widest == 8) widths[count++] = {8, fit_ranges::sums_run_8, 0.0};
#endif
  double sink = 0.0;
  // Rounds taking turns, the least of each width's times: a stray delay
  // (another process, a clock still rising) spoils one timing, not the choice.
  for (int round = 0; round < ROUNDS; ++round) {
    for (int w = 0; w < count; ++w) {
      const double t = seconds_per_pair(widths[w].run, widths[w].lanes, x, y, &sink);
      if (round == 0 || t < widths[w].best) widths[w].best = t;
    }
  }
  int chosen = 0;
  for (int w = 1; w < count; ++w)
    if (widths[w].best < widths[chosen].best) chosen = w;
  // The sums are used, so the timings cannot be optimised away.
  return std::isnan(sink) ? 2 : widths[chosen].lanes;
}

}  // namespace

int fastest_lanes() {
  static const int lanes = calibrate();
  return lanes;
}
