// Local regression over two to four predictors by R's loess rules: at each
// query a polynomial of degree 0 to 2 (with every cross term) fitted over
// the floor(n f) points nearest in Euclidean distance (all n when f >= 1),
// with weights sqrt(r (1 - t^3)^3), t the distance over the farthest one's
// (its square scaled by f when f > 1) and r the point's weight, solved
// through its normal equations where they are well conditioned
// (numeric/gram_solve.h), else through its singular values
// (numeric/pseudo_solve.h). The predictors
// are first scaled, each by its 10% trimmed standard deviation, unless the
// call asks otherwise.
#ifndef QUIBRA_SMOOTHER_SURFACE_FIT_H
#define QUIBRA_SMOOTHER_SURFACE_FIT_H

#include <cstdint>

#include "numeric/gram_solve.h"
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
  // The ordinates' prior weights where `weights` are not (after robust
  // passes): the variance factor divides by these. Null: `weights`.
  const double* prior = nullptr;
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
  double* columns = nullptr;  // a whole window's, for the solve by singular values
  double* block = nullptr;    // a block's, for the normal equations
  gram_sums* sums = nullptr;
};
surface_work new_surface_work(const surface_data& d);
void free_surface_work(surface_work& w);

// Each predictor's scale: its standard deviation once the lowest and the
// highest tenth (rounded up) of its values are set aside; 1 where that is
// 0 or no finite number, so that a predictor of one value stays as it is.
// `x` as in surface_data, `work` room for n.
void trimmed_scales(const double* x, std::int32_t n, std::int32_t dims, double* scale,
                    double* work);

// How the fit's value depends on the ordinates, value = sum_j L_j y_j:
// L_self (the leverage, when q is point `self`; else 0), the variance
// factor sum_j L_j^2 / p_j over the points of prior weight p_j > 0, and
// sum_j L_j^2 over all, which R's loess sums into its degrees of freedom.
struct fit_influence {
  double leverage = 0.0;
  double variance = 0.0;
  double spread = 0.0;
};

// The fit's value at q (dims coordinates, scaled): NaN where q has a
// coordinate that is not finite, FIT_FAILED where no point of the window
// weighs anything. Where the window's farthest point lies at q itself,
// the weighted mean of all the points at q. With `influence`: the fit's,
// q being point `self` (-1: none).
double surface_fit(const surface_data& d, const double* q, surface_work& work,
                   std::int32_t self = -1, fit_influence* influence = nullptr);

// A run's influence: query i's variance factor, and with `leverage` and
// `spread`, the queries being the data's points (`at_points`), its
// leverage and sum of squared shares.
struct surface_band_fits {
  double* variance = nullptr;
  double* leverage = nullptr;
  double* spread = nullptr;
  bool at_points = false;
};

// The fits at `m` queries into `out`, query i's coordinate j at
// q[j * m + i], on the threads `settings` asks for: the same bits on any
// number.
void surface_fits(const surface_data& d, const double* q, std::int64_t m,
                  const fit_settings* settings, double* out,
                  const surface_band_fits* band = nullptr);

#endif
