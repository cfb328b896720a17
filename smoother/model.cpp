#include "smoother/model.h"

#include <cmath>

#include "host/host.h"
#include "numeric/compare.h"
#include "numeric/merge_sort.h"
#include "numeric/polyfit.h"

std::int32_t to_int32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);  // truncates toward zero
}

std::int32_t window_size(std::int32_t count, double f, std::int32_t degree) {
  const std::int32_t w = to_int32(std::floor(static_cast<double>(count) * f));
  const std::int32_t least = degree + 1;
  const std::int32_t q = w > least ? w : least;
  return q < count ? q : count;
}

smooth_model* build_model(std::int32_t count, const double* xs, const double* ys, double f,
                          std::int32_t degree) {
  const double** order = host_alloc_array<const double*>(count);
  smooth_model* model = host_alloc_array<smooth_model>(1);
  for (std::int32_t i = 0; i < count; ++i) order[i] = xs + i;
  // Stable, so equal abscissae keep their input order.
  merge_sort(static_cast<void*>(order), static_cast<std::uint64_t>(count), sizeof(const double*),
             less_double_ptr);
  model->x = host_alloc_array<double>(count);
  model->y = host_alloc_array<double>(count);
  for (std::int32_t i = 0; i < count; ++i) {
    model->x[i] = *order[i];
    model->y[i] = ys[order[i] - xs];
  }
  model->weights = nullptr;
  model->count = count;
  model->f = f;
  model->degree = degree;
  model->window = window_size(count, f, degree);
  host_free(order);
  return model;
}

std::int32_t find_window_start(double xq, std::int32_t window, std::int32_t count,
                               const double* xs) {
  // 64-bit positions: start + step can exceed the 32-bit range for huge counts.
  const std::int64_t q = window;
  const std::int64_t n = count;
  std::int64_t step = n - q;
  std::int64_t start = 0;
  while (step > 0) {
    if (start + q < n && (xq * 2.0) - xs[start] > xs[start + q]) {
      // The window's first point is farther from xq than the point after it.
      start += step;
      if (start + q > n) start = n - q;
    } else if (start > 0 && xs[start + q - 1] > (xq * 2.0) - xs[start - 1]) {
      // Its last point is farther than the point before it.
      start -= step;
      if (start < 0) start = 0;
    } else {
      step = 0;
    }
    step = (step + 1) / 2;
  }
  return static_cast<std::int32_t>(start);
}

double fit_at(const smooth_model* model, double xq) {
  const double* xs = model->x;
  const std::int32_t q = model->window;
  double* w = host_alloc_array<double>(q);

  std::int32_t start = 0;
  double lo = xs[0];
  double hi = xs[model->count - 1];
  if (model->f < 1.0) {
    start = find_window_start(xq, q, model->count, xs);
    lo = xs[start];
    hi = xs[start + q - 1];
  }
  // Bandwidth: distance to the farther end, so that end gets weight 0.
  const double h = (xq - lo) > (hi - xq) ? (xq - lo) : (hi - xq);

  const double* wx = xs + start;
  const double* rw = model->weights != nullptr ? model->weights + start : nullptr;
  bool above = false;
  for (std::int32_t i = 0; i < q; ++i) {
    // Once a point at or above xq is met, every later point counts as above.
    if (!above && wx[i] >= xq) above = true;
    const double d = above ? wx[i] - xq : xq - wx[i];
    double weight = 0.0;
    if (h > d) {
      const double t = d / h;
      const double u = 1.0 - t * t * t;
      weight = u * u * u;
    }
    if (rw != nullptr) weight = weight * rw[i];
    w[i] = weight;
  }

  poly_fit* fit = fit_polynomial(model->degree + 1, q, wx, model->y + start, w, 0.0, wx[0],
                                 wx[q - 1]);
  double value = FIT_FAILED;
  if (fit != nullptr) {
    value = eval_polynomial(fit, xq);
    free_polynomial(fit);
  }
  host_free(w);
  return value;
}
