// How sure a smooth is. Every local value is a linear combination of the
// ordinates, so the smooth at the data points is y_hat = L y for a smoother
// matrix L that is never formed: its diagonal and the squared norms of its
// rows come from each local fit (fit_outputs, smoother/fits/queries.h), at a
// cost linear in the points times the window and storage linear in n.
//
// The ordinates are taken as independent with variance sigma^2 / w_j, w_j
// the model's weight of point j (its prior weight); with every w_j = 1 all
// of the below is the unweighted textbook form. After robust passes the
// robustness weights are no precisions: see summarise_robust.
#ifndef QUIBRA_SMOOTHER_INTERVALS_H
#define QUIBRA_SMOOTHER_INTERVALS_H

#include <cstdint>

#include "smoother/fits/queries.h"
#include "smoother/model.h"
#include "smoother/settings.h"

// The smooth judged at its own points. Sums run over the model's points in
// ascending order from +0.0, leaving out those whose fit failed.
struct smoother_summary {
  std::int32_t points = 0;  // points whose fit did not fail
  double rss = 0.0;         // sum w_i (y_i - y_hat_i)^2
  double enp = 0.0;         // trace of L: sum of the leverages
  double spread = 0.0;      // sum w_i sum_j L_ij^2 / w_j: tr(L'L) when every w is 1
  double dof = 0.0;         // points - 2 enp + spread
  double sigma = 0.0;       // sqrt(rss / dof); NaN unless dof > 0
};

// From the values, leverages and (when not null) variance factors of the
// fits at the model's own points, in model order.
smoother_summary summarise(const smooth_model* model, const double* value, const double* leverage,
                           const double* variance);

// The same after robust passes that reweighted the points, `prior` being
// each model point's prior weight p_j and `variance` each fit's
// sum_k l_k^2 / p_k. The noise scale is a robust scale of the standardised
// residuals through the same L: sigma = 1.4826 median |z_j|, z_j =
// r_j sqrt(p_j) / sqrt(1 - 2 L_jj + p_j variance_j), which the outliers
// the passes left out do not enter and the robustness weights do not
// shrink; spread = sum p_j variance_j, dof as above.
// A point's residual standardised through L, as summarise_robust takes
// it: |r| sqrt(p) / sqrt(1 - 2 L_jj + p variance), 0 where the residual
// has no variance (the denominator is not positive).
double standardised_residual(double r, double prior, double leverage, double variance);

// The noise scale of `m` standardised residuals z (reordered): 1.4826
// times their median, the mean of the two middle ones for an even count;
// NaN for none.
double robust_sigma(double* z, std::int32_t m);

smoother_summary summarise_robust(const smooth_model* model, const double* prior,
                                  const double* value, const double* leverage,
                                  const double* variance);

#endif
