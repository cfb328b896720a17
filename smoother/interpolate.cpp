#include "smoother/interpolate.h"

#include <limits>

#include "host/host.h"
#include "numeric/radix_sort.h"

namespace {

// The queries in ascending order: position k is xq[k], or *sorted[k] when
// the queries had to be sorted.
struct ascending {
  const double* xq;
  const double* const* sorted;

  double at(std::int32_t k) const { return sorted != nullptr ? *sorted[k] : xq[k]; }
  std::int32_t index(std::int32_t k) const {
    return sorted != nullptr ? static_cast<std::int32_t>(sorted[k] - xq) : k;
  }
};

double interpolate(double xa, double va, double xb, double vb, double x) {
  if (va == FIT_FAILED || vb == FIT_FAILED) return FIT_FAILED;
  const double alpha = (x - xa) / (xb - xa);
  return alpha * vb + (1.0 - alpha) * va;
}

// Sets out[i] and, when wanted, the influence arrays' element i.
struct spaced_out {
  double* out;
  const fit_influence* inf;

  void put(std::int32_t i, double v, double var, double lev) const {
    out[i] = v;
    if (inf == nullptr) return;
    if (inf->variance != nullptr) inf->variance[i] = var;
    if (inf->leverage != nullptr) inf->leverage[i] = lev;
  }
};

void fit_spaced(const smooth_model* model, const ascending& q, std::int32_t n, double* out,
                fit_settings* settings, const fit_influence* influence) {
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
  // The fits' influence, interpolated below like their values.
  fit_influence fi;
  double* var = nullptr;
  double* lev = nullptr;
  std::int32_t* own = nullptr;
  if (influence != nullptr) {
    var = fi.variance = host_alloc_array<double>(m);
    lev = fi.leverage = host_alloc_array<double>(m);
    if (influence->own != nullptr) {
      own = host_alloc_array<std::int32_t>(m);
      for (std::int32_t i = 0; i < m; ++i) own[i] = influence->own[q.index(fitted[i])];
      fi.own = own;
    }
  }
  fit_many_influence(model, xs, m, vs, settings, influence != nullptr ? &fi : nullptr, nullptr);

  // Each fit, its ties, then the line to the next fit.
  const spaced_out to{out, influence};
  const auto var_at = [&](std::int32_t i) { return var != nullptr ? var[i] : 0.0; };
  const auto lev_at = [&](std::int32_t i) { return lev != nullptr ? lev[i] : 0.0; };
  for (std::int32_t i = 0; i < m; ++i) {
    const std::int32_t end = i + 1 < m ? fitted[i + 1] : n;
    std::int32_t k = fitted[i];
    to.put(q.index(k), vs[i], var_at(i), lev_at(i));
    for (++k; k < end && q.at(k) == xs[i]; ++k) to.put(q.index(k), vs[i], var_at(i), lev_at(i));
    for (; k < end; ++k) {
      const double x = q.at(k);
      to.put(q.index(k), interpolate(xs[i], vs[i], xs[i + 1], vs[i + 1], x),
             interpolate(xs[i], var_at(i), xs[i + 1], var_at(i + 1), x),
             interpolate(xs[i], lev_at(i), xs[i + 1], lev_at(i + 1), x));
    }
  }
  host_free(fitted);
  host_free(xs);
  host_free(vs);
  if (var != nullptr) host_free(var);
  if (lev != nullptr) host_free(lev);
  if (own != nullptr) host_free(own);
}

}  // namespace

void fit_ascending(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                   fit_settings* settings) {
  fit_ascending_influence(model, xq, n, out, settings, nullptr);
}

void fit_ascending_influence(const smooth_model* model, const double* xq, std::int32_t n,
                             double* out, fit_settings* settings,
                             const fit_influence* influence) {
  if (settings->delta > 0.0 && n > 0) {
    fit_spaced(model, ascending{xq, nullptr}, n, out, settings, influence);
  } else {
    fit_many_influence(model, xq, n, out, settings, influence, nullptr);
  }
}

void fit_queries(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                 fit_settings* settings, const double* const* sorted,
                 const fit_influence* influence) {
  if (!(settings->delta > 0.0)) {
    fit_many_influence(model, xq, n, out, settings, influence, sorted);
    return;
  }
  // NaN has no place in the order: it gets NaN, and the rest is sorted.
  const double** order = sorted != nullptr ? nullptr : host_alloc_array<const double*>(n);
  std::int32_t m = 0;
  const spaced_out to{out, influence};
  for (std::int32_t i = 0; i < n; ++i) {
    if (xq[i] != xq[i]) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      to.put(i, nan, nan, nan);
    } else {
      if (order != nullptr) order[m] = xq + i;
      ++m;
    }
  }
  if (order != nullptr && m > 0) {
    // Stable, so ties keep their input order.
    sort_double_ptrs(order, static_cast<std::uint64_t>(m));
  }
  if (m > 0)
    fit_spaced(model, ascending{xq, sorted != nullptr ? sorted : order}, m, out,
               settings, influence);
  if (order != nullptr) host_free(order);
}
