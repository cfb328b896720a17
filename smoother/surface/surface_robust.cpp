#include "smoother/surface/surface_robust.h"

#include <cmath>

#include "host/storage.h"
#include "smoother/r_rules/loess.h"

namespace {

// The passes' view of a surface: the base points and the working set.
struct surface_passes {
  const surface_data* base;
  reweighted_surface* set;
  fit_settings* settings;
  std::int32_t window_points;
};

std::int32_t surface_residuals(void* context, bool first, double* r) {
  surface_passes& s = *static_cast<surface_passes*>(context);
  const surface_data& base = *s.base;
  // The first pass is the plain smooth: every base point, prior weights.
  surface_fits(first ? base : s.set->d, base.x, base.n, s.settings, r);
  std::int32_t failed = 0;
  for (std::int32_t j = 0; j < base.n; ++j) {
    if (r[j] == FIT_FAILED) {
      ++failed;
    } else {
      r[j] = std::fabs(r[j] - base.y[j]);
    }
  }
  return failed;
}

bool surface_rebuild(void* context, const double* c, double sum, double* reported) {
  surface_passes& s = *static_cast<surface_passes*>(context);
  const surface_data& base = *s.base;
  reweighted_surface& set = *s.set;
  const std::int32_t n = base.n;
  bool changed = false;
  std::int32_t m = 0;
  for (std::int32_t j = 0; j < n; ++j) {
    const double b = pass_weight(n, c[j], sum, base.weights, j);
    if (reported != nullptr) reported[j] = b == 0.0 ? 0.0 : c[j];
    if (b == 0.0) continue;
    if (m >= set.count || set.index[m] != j || weight_moved(set.weights[m], b)) changed = true;
    set.index[m] = j;
    set.weights[m] = b;
    set.prior[m] = base.weights != nullptr ? base.weights[j] : 1.0;
    ++m;
  }
  if (m != set.count) changed = true;
  set.count = m;
  for (std::int32_t dim = 0; dim < base.dims; ++dim)
    for (std::int32_t i = 0; i < m; ++i)
      set.x[static_cast<std::int64_t>(dim) * m + i] =
          base.x[static_cast<std::int64_t>(dim) * n + set.index[i]];
  for (std::int32_t i = 0; i < m; ++i) set.y[i] = base.y[set.index[i]];
  free_kd_tree(set.tree);
  set.tree = build_kd_tree(set.x, m, base.dims);
  set.d.n = m;
  set.d.window = surface_window(m, base.f, s.window_points);
  return changed;
}

// This module's passes, pruning points of weight 0.
void native_passes(const smooth_request& r, const surface_data& base, fit_settings* settings,
                   double* robust, reweighted_surface& s) {
  const std::int32_t n = base.n;
  s.x = host_alloc_array<double>(static_cast<std::int64_t>(n) * base.dims);
  s.y = host_alloc_array<double>(n);
  s.weights = host_alloc_array<double>(n);
  s.prior = host_alloc_array<double>(n);
  s.index = host_alloc_array<std::int32_t>(n);
  s.count = n;
  for (std::int32_t j = 0; j < n; ++j) {
    s.index[j] = j;
    s.weights[j] = base.weights != nullptr ? base.weights[j] : 1.0;
    s.prior[j] = s.weights[j];
  }
  s.d.x = s.x;
  s.d.y = s.y;
  s.d.weights = s.weights;
  s.d.prior = s.prior;
  s.d.tree = &s.tree;
  surface_passes passes{&base, &s, settings, r.window_points};
  double* residual = host_alloc_array<double>(n);
  s.report.weights = robust;
  robust_passes(robust_subject{&passes, n, base.y, surface_residuals, surface_rebuild},
                r.max_passes, residual, s.report);
  host_free(residual);
  if (!model_stands(s.report)) return;
  s.d = base;
  for (std::int32_t j = 0; j < n; ++j) robust[j] = 1.0;
}

// R's family "symmetric": r.reweightings reweightings, every point kept.
void loess_passes(const smooth_request& r, const surface_data& base, fit_settings* settings,
                  double* robust, reweighted_surface& s) {
  const std::int32_t n = base.n;
  s.weights = host_alloc_array<double>(n);
  s.prior = host_alloc_array<double>(n);
  for (std::int32_t k = 0; k < n; ++k) s.prior[k] = base.weights != nullptr ? base.weights[k] : 1.0;
  double* fitted = host_alloc_array<double>(n);
  double* work = host_alloc_array<double>(n);
  for (std::int32_t pass = 0; pass < r.reweightings; ++pass) {
    surface_fits(s.d, base.x, n, settings, fitted);
    // As in one predictor: a failed fit counts as R's 0.
    for (std::int32_t k = 0; k < n; ++k)
      s.weights[k] = base.y[k] - (fitted[k] == FIT_FAILED ? 0.0 : fitted[k]);
    loess_robustness(s.weights, n, robust, work);
    for (std::int32_t k = 0; k < n; ++k)
      s.weights[k] = base.weights != nullptr ? base.weights[k] * robust[k] : robust[k];
    s.d.weights = s.weights;
    s.d.prior = s.prior;
  }
  s.report.passes = r.reweightings;
  s.report.outcome = robust_outcome::converged;
  s.report.scale = std::nan("");
  host_free(work);
  host_free(fitted);
}

}  // namespace

reweighted_surface reweigh_surface(const smooth_request& r, const surface_data& base,
                                   fit_settings* settings, double* robust) {
  reweighted_surface s;
  s.d = base;
  for (std::int32_t j = 0; j < base.n; ++j) robust[j] = 1.0;
  if (!r.robust || base.n == 0 || base.window == 0) return s;
  if (r.rules == convention::loess) {
    loess_passes(r, base, settings, robust, s);
  } else {
    native_passes(r, base, settings, robust, s);
  }
  return s;
}

void free_reweighted(reweighted_surface& s) {
  free_kd_tree(s.tree);
  host_free(s.x);
  host_free(s.y);
  host_free(s.weights);
  host_free(s.prior);
  host_free(s.index);
  s = reweighted_surface{};
}
