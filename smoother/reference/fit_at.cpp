#include "smoother/reference/fit_at.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "host/storage.h"
#include "numeric/matrix.h"
#include "numeric/reference/polyfit.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"

namespace {

// The warning of a fit whose value rounding may have moved by more than
// the trusted share of max|y|, from the fit's normal system made again
// (its inverse by the quiet kernel, which gives the same bits).
void judge_rounding(const smooth_model* model, std::int32_t start, std::int32_t q, const double* c,
                    const double* w, bool inside, double cq) {
  const std::int32_t n = model->degree + 1;
  double** sys = normal_equations(n, q, c, model->y + start, w, 0.0, 0.0, 0.0);
  double** work = alloc_rows(n, n);
  double** inv = alloc_rows(n, n);
  fit_trouble t = gauss_jordan(sys, work, inv, n);
  double* sums = host_alloc_array<double>(2 * n - 1);
  for (std::int32_t k = 0; k < 2 * n - 1; ++k) sums[k] = k < n ? sys[0][k] : sys[k - n + 1][n - 1];
  const error_limit limit = make_error_limit(model->y_scale, q);
  judge_value_error(t, value_error(inv, sums, sys[n], n, inside, cq, limit.root_m), limit);
  if (t.inaccurate) write_trouble(t);
  host_free(sums);
  free_rows(sys, n + 1);
  free_rows(work, n);
  free_rows(inv, n);
}

}  // namespace

double fit_at(const smooth_model* model, double xq) {
  if (!std::isfinite(xq) || model->count == 0) return std::numeric_limits<double>::quiet_NaN();
  const std::int32_t q = model->window;
  const double* xs = model->x;
  std::int32_t start = 0;
  double lo = xs[0];
  double hi = xs[model->count - 1];
  if (model->f < 1.0) {
    start = find_window_start(xq, q, model->count, xs);
    lo = xs[start];
    hi = xs[start + q - 1];
  }
  const double h = (xq - lo) > (hi - xq) ? (xq - lo) : (hi - xq);
  // Tricube weights of the distances d, which turn to x - xq at the first
  // point at or above the query; times the model's weights.
  double* w = host_alloc_array<double>(q);
  bool above = false;
  for (std::int32_t i = 0; i < q; ++i) {
    const double x = xs[start + i];
    above = above || x >= xq;
    const double d = above ? x - xq : xq - x;
    w[i] = 0.0;
    if (h > d) {
      const double t = d / h;
      const double u = 1.0 - t * t * t;
      w[i] = u * u * u;
    }
    if (model->weights != nullptr) w[i] = w[i] * model->weights[start + i];
  }
  // Fewer distinct abscissae of nonzero weight than coefficients: singular.
  std::int32_t distinct = 0;
  double last = std::numeric_limits<double>::quiet_NaN();
  for (std::int32_t i = 0; i < q; ++i) {
    if (w[i] == 0.0) continue;
    if (xs[start + i] != last) ++distinct;
    last = xs[start + i];
  }
  double value = FIT_FAILED;
  if (distinct < model->degree + 1) {
    std::fputs("Error: Singular matrix inversion attempted.\n", stderr);
  } else {
    // The query's own coordinate, or beyond the window's span the span's
    // middle's; the value at the query.
    const bool inside = !(xq < lo || xq > hi);
    const double z = inside ? xq : lo + (hi - lo) * 0.5;
    const double scale = (z - lo) > (hi - z) ? (z - lo) : (hi - z);
    double* c = host_alloc_array<double>(q);
    for (std::int32_t i = 0; i < q; ++i) c[i] = (xs[start + i] - z) / scale;
    poly_fit* fit =
        fit_polynomial(model->degree + 1, q, c, model->y + start, w, 0.0, c[0], c[q - 1]);
    if (fit != nullptr) {
      const double cq = (xq - z) / scale;
      value = inside ? fit->coef[0] : eval_polynomial(fit, cq);
      free_polynomial(fit);
      judge_rounding(model, start, q, c, w, inside, cq);
    }
    host_free(c);
  }
  host_free(w);
  return value;
}
