#include "smoother/interpolate.h"

#include <limits>

#include "host/host.h"
#include "numeric/compare.h"
#include "numeric/merge_sort.h"

namespace {

// The queries in ascending order: position k is xq[k], or *sorted[k] when
// the queries had to be sorted, moved as the model's abscissae are.
struct ascending {
  const double* xq;
  const double* const* sorted;
  double origin;

  double at(std::int32_t k) const { return (sorted != nullptr ? *sorted[k] : xq[k]) - origin; }
  std::int32_t index(std::int32_t k) const {
    return sorted != nullptr ? static_cast<std::int32_t>(sorted[k] - xq) : k;
  }
};

double interpolate(double xa, double va, double xb, double vb, double x) {
  if (va == FIT_FAILED || vb == FIT_FAILED) return FIT_FAILED;
  const double alpha = (x - xa) / (xb - xa);
  return alpha * vb + (1.0 - alpha) * va;
}

void fit_spaced(const smooth_model* model, const ascending& q, std::int32_t n, double* out,
                fit_settings* settings) {
  // Spacing, fits and lines all work where the model's abscissae are; the
  // gathered queries are moved already, so they are fitted on a view of
  // the model with no origin.
  smooth_model moved = *model;
  moved.origin = 0.0;
  // Choose the queries to fit; this depends on the abscissae alone.
  std::int32_t* fitted = host_alloc_array<std::int32_t>(n);
  std::int32_t m = 0;
  for (std::int32_t a = 0; a < n;) {
    fitted[m++] = a;
    const double xa = q.at(a);
    std::int32_t next = a + 1;
    while (next < n && q.at(next) == xa) ++next;  // ties take this fit's value
    if (next == n) break;
    const double cut = xa + settings->delta;
    while (next + 1 < n && q.at(next + 1) <= cut) ++next;
    a = next;
  }

  // Fit them all in one run, in ascending order.
  double* xs = host_alloc_array<double>(m);
  double* vs = host_alloc_array<double>(m);
  for (std::int32_t i = 0; i < m; ++i) xs[i] = q.at(fitted[i]);
  fit_many(&moved, xs, m, vs, settings);

  // Each fit, its ties, then the line to the next fit.
  for (std::int32_t i = 0; i < m; ++i) {
    const std::int32_t end = i + 1 < m ? fitted[i + 1] : n;
    std::int32_t k = fitted[i];
    out[q.index(k)] = vs[i];
    for (++k; k < end && q.at(k) == xs[i]; ++k) out[q.index(k)] = vs[i];
    for (; k < end; ++k) out[q.index(k)] = interpolate(xs[i], vs[i], xs[i + 1], vs[i + 1], q.at(k));
  }
  host_free(fitted);
  host_free(xs);
  host_free(vs);
}

}  // namespace

void fit_ascending(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                   fit_settings* settings) {
  if (settings->delta > 0.0 && n > 0) {
    fit_spaced(model, ascending{xq, nullptr, model->origin}, n, out, settings);
  } else {
    fit_many(model, xq, n, out, settings);
  }
}

void fit_queries(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                 fit_settings* settings, const double* const* sorted) {
  if (!(settings->delta > 0.0)) {
    fit_many(model, xq, n, out, settings);
    return;
  }
  // NaN has no place in the order: it gets NaN, and the rest is sorted.
  const double** order = sorted != nullptr ? nullptr : host_alloc_array<const double*>(n);
  std::int32_t m = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (xq[i] != xq[i]) {
      out[i] = std::numeric_limits<double>::quiet_NaN();
    } else {
      if (order != nullptr) order[m] = xq + i;
      ++m;
    }
  }
  if (order != nullptr && m > 0) {
    // Stable, so ties keep their input order.
    merge_sort(static_cast<void*>(order), static_cast<std::uint64_t>(m), sizeof(const double*),
               less_double_ptr);
  }
  if (m > 0)
    fit_spaced(model, ascending{xq, sorted != nullptr ? sorted : order, model->origin}, m, out,
               settings);
  if (order != nullptr) host_free(order);
}
