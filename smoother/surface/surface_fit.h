// Local regression over two to four predictors by R's loess rules: at each
// query a polynomial of degree 0 to 2 (with every cross term) fitted over
// the floor(n f) points nearest in Euclidean distance (all n when f >= 1),
// with weights sqrt(r (1 - t^3)^3), t the distance over the farthest one's
// (its square scaled by f when f > 1) and r the point's weight, solved
// through its singular values (numeric/pseudo_solve.h). The predictors
// are first scaled, each by its 10% trimmed standard deviation, unless the
// call asks otherwise.
#ifndef QUIBRA_SMOOTHER_SURFACE_FIT_H
#define QUIBRA_SMOOTHER_SURFACE_FIT_H

#include <cstdint>

#include "numeric/kd_tree.h"
#include "smoother/settings.h"

// The most predictors a surface takes.
inline constexpr std::int32_t SURFACE_MAX_DIMS = KD_MAX_DIMS;

// The data of a run of fits: `n` points of `dims` coordinates (coordinate
// j of point i at x[j * n + i], already scaled), `weights` each one's
// weight (null: all 1), `window` points per fit, 1 to n.
struct surface_data {
  const double* x = nullptr;
  const double* y = nullptr;
  const double* weights = nullptr;
  const kd_tree* tree = nullptr;
  std::int32_t n = 0;
  std::int32_t dims = 2;
  std::int32_t window = 0;
  std::int32_t degree = 2;
  double f = 0.75;
};

// The points in each window of `n` points: `window_points` when given
// (> 0, at most n), else R's loess window floor(n f) (smoother/r_rules/loess.h).
std::int32_t surface_window(std::int32_t n, double f, std::int32_t window_points);

// Coefficients of a polynomial of `degree` in `dims` predictors.
std::int32_t surface_terms(std::int32_t dims, std::int32_t degree);

// One thread's storage for its fits: the nearest points' search, and the
// window's weighted columns and ordinates.
struct surface_work {
  kd_space space;
  double* columns = nullptr;
};
surface_work new_surface_work(const surface_data& d);
void free_surface_work(surface_work& w);

// Each predictor's scale: its standard deviation once the lowest and the
// highest tenth (rounded up) of its values are set aside; 1 where that is
// 0 or no finite number, so that a predictor of one value stays as it is.
// `x` as in surface_data, `work` room for n.
void trimmed_scales(const double* x, std::int32_t n, std::int32_t dims, double* scale,
                    double* work);

// The fit's value at q (dims coordinates, scaled): NaN where q has a
// coordinate that is not finite, FIT_FAILED where no point of the window
// weighs anything. Where the window's farthest point lies at q itself,
// the weighted mean of all the points at q.
double surface_fit(const surface_data& d, const double* q, const surface_work& work);

// The fits at `m` queries into `out`, query i's coordinate j at
// q[j * m + i], on the threads `settings` asks for: the same bits on any
// number.
void surface_fits(const surface_data& d, const double* q, std::int64_t m,
                  const fit_settings* settings, double* out);

#endif
