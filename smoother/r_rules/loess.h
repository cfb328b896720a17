// R's loess in one predictor, surface "direct" ('Convention' 'loess'): at
// each query a polynomial of degree 0 to 2 fitted over the floor(n f)
// nearest points (all n when f >= 1), with weights sqrt(r (1 - t^3)^3),
// t the distance over the farthest one's (its square scaled by f when
// f > 1) and r the point's weight, solved through its singular values
// (numeric/pseudo_solve.h); robust fits reweight every point by the
// bisquare of its residual over six times the median absolute residual,
// a fixed number of times.
#ifndef QUIBRA_SMOOTHER_LOESS_H
#define QUIBRA_SMOOTHER_LOESS_H

#include <cstdint>

#include "smoother/settings.h"

// The points in R's loess window: floor(n f), at most n; 0 where f gives
// none (f <= 0 or below 1 / n).
std::int32_t loess_window(std::int32_t n, double f);

// The data of a run of fits: `n` points sorted by x, `weights` each one's
// weight (null: all 1), `window` points per fit (degree + 1 to n).
struct loess_data {
  const double* x = nullptr;
  const double* y = nullptr;
  const double* weights = nullptr;
  std::int32_t n = 0;
  std::int32_t window = 0;
  std::int32_t degree = 2;
  double f = 0.75;
};

// Doubles of work one fit takes.
std::int64_t loess_work(const loess_data& d);

// The fit's value at q: NaN where q is not finite, FIT_FAILED where no
// point of the window weighs anything (R gives 0). Where the window's
// farthest point lies at q itself (R warns of a zero-width neighbourhood
// and gives NaN), the weighted mean of all the points at q.
double loess_fit(const loess_data& d, double q, double* work);

// The fits at `m` queries `q` into `out`, on the threads `settings` asks
// for: the same bits on any number.
void loess_fits(const loess_data& d, const double* q, std::int64_t m, const fit_settings* settings,
                double* out);

// R's robustness weights of the `n` residuals: the bisquare against six
// times their median absolute value, all 1 where that is below the
// smallest normal double (or NaN), and 1 for a NaN residual. `work` has
// room for n.
void loess_robustness(const double* residual, std::int32_t n, double* robust, double* work);

// R's pseudovalues after family "symmetric" (Cleveland's, for the noise
// scale): yhat_i + c rw_i (y_i - yhat_i), rw_i the last fits' robustness
// weights, c = n / sum_i psi'(u_i) with the bisquare's psi'(u) = (1 - 5
// u^2) (1 - u^2), (1 - u^2) taken as sqrt(rw_i), u_i^2 = w_i (y_i -
// yhat_i)^2 / (6 m)^2, w_i the prior weights (null: all 1) and m the
// median of |y_i - yhat_i| sqrt(w_i). A failed fit counts as R's 0.
// `work` has room for n.
void loess_pseudovalues(const double* y, const double* fitted, const double* prior,
                        const double* robust, std::int32_t n, double* out, double* work);

#endif
