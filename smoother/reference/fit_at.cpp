#include "smoother/reference/fit_at.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "host/storage.h"
#include "numeric/reference/polyfit.h"

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
      value = inside ? fit->coef[0] : eval_polynomial(fit, (xq - z) / scale);
      free_polynomial(fit);
    }
    host_free(c);
  }
  host_free(w);
  return value;
}
