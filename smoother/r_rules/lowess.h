// R's lowess, to its rules and rounding ('Convention' 'lowess'): local
// lines over windows of floor(f n + 1e-7) points (at least 2), tricube
// weights that are exactly 1 within 0.001 of the bandwidth and 0 beyond
// 0.999 of it, the weighted mean where the window's weighted spread is
// below 0.001 of the data's range, fits spaced by `delta` and interpolated
// between, and a fixed number of bisquare reweightings by six times the
// median absolute residual (the mean of the two middle ones for an even
// count), cut at 0.001 and 0.999 of it, with points of weight 0 kept in
// their windows, and R's stopping test. Every sum in R's order.
#ifndef QUIBRA_SMOOTHER_LOWESS_H
#define QUIBRA_SMOOTHER_LOWESS_H

#include <cstdint>

// R's window size for n points at span f: floor(f n + 1e-7), within [2, n].
std::int32_t lowess_window(std::int32_t n, double f);

// The local line at xs over the sorted points (x, y), n of them, whose
// window is [left, right] (R's nleft, nright, 0-based): the points from
// `left` on that lie within 0.999 of the bandwidth, up to the first beyond
// it above xs. `prior` (or null: all 1) and `robust` (or null: none)
// multiply the tricube weights; `w` has room for n. False where no point
// weighs anything (R then takes the ordinate).
bool lowess_fit(const double* x, const double* y, std::int32_t n, double xs, std::int32_t left,
                std::int32_t right, const double* prior, const double* robust, double range,
                double* w, double* value);

// R's window at xs among the sorted x: its first point, the window being
// `window` points from there.
std::int32_t lowess_left(const double* x, std::int32_t n, std::int32_t window, double xs);

// Six times the median of the `n` >= 1 values at `a`, which it reorders
// (NaN ranks above every number), R's way: three times the sum of the two
// middle ones for an even count. R's lowess and loess both scale their
// residuals by it.
double six_median(double* a, std::int32_t n);

// The bisquare robustness weight of an absolute residual `r` against six
// times the median, cut R's way: 1 within 0.001 of it, 0 beyond 0.999 of
// it (and for NaN).
double cut_bisquare(double r, double cmad);

struct lowess_result {
  std::int32_t reweightings = 0;  // bisquare reweightings made, R's `iter` at most
};

// R's lowess over the n >= 1 sorted points: `fitted` (n) the smooth at
// each point, `robust` (n) the robustness weights its last fits used (1
// without reweightings), with at most `iterations` reweightings and fits
// spaced by `delta`. `work` has room for 2 n.
lowess_result lowess_smooth(const double* x, const double* y, const double* prior, std::int32_t n,
                            double f, std::int32_t iterations, double delta, double* fitted,
                            double* robust, double* work);

#endif
