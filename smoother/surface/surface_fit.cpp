#include "smoother/surface/surface_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/storage.h"
#include "numeric/pseudo_solve.h"
#include "smoother/fits/parallel.h"
#include "smoother/model.h"
#include "smoother/r_rules/loess.h"

namespace {

double cube(double v) { return v * v * v; }

// A window all at q: the weighted mean of every point at q (the window
// may hold only some of them), their tricube weights being 1; each such
// point's share is its weight over their total.
double at_query(const surface_data& d, const double* q, std::int32_t self, fit_influence* f) {
  double sum = 0.0;
  double total = 0.0;
  double own = 0.0;
  for (std::int32_t i = 0; i < d.n; ++i) {
    if (kd_distance2(*d.tree, i, q) != 0.0) continue;
    const double weight = d.weights != nullptr ? d.weights[i] : 1.0;
    sum += weight * d.y[i];
    total += weight;
    if (i == self) own = weight;
  }
  if (!(total > 0.0)) return FIT_FAILED;
  if (f != nullptr) {
    f->leverage = own / total;
    f->variance = 1.0 / total;
    for (std::int32_t i = 0; i < d.n; ++i) {
      if (kd_distance2(*d.tree, i, q) != 0.0) continue;
      const double share = (d.weights != nullptr ? d.weights[i] : 1.0) / total;
      f->spread += share * share;
    }
  }
  return sum / total;
}

struct surface_job {
  const surface_data* data;
  const double* q;
  std::int64_t m;
  double* out;
  const surface_work* work;
  const surface_band_fits* band;
};

void fit_items(void* context, int worker, std::int64_t begin, std::int64_t end) {
  const surface_job& job = *static_cast<const surface_job*>(context);
  double q[SURFACE_MAX_DIMS] = {};
  for (std::int64_t i = begin; i < end; ++i) {
    for (std::int32_t j = 0; j < job.data->dims; ++j) q[j] = job.q[j * job.m + i];
    if (job.band == nullptr) {
      job.out[i] = surface_fit(*job.data, q, job.work[worker]);
      continue;
    }
    fit_influence f;
    const std::int32_t self = job.band->at_points ? static_cast<std::int32_t>(i) : -1;
    job.out[i] = surface_fit(*job.data, q, job.work[worker], self, &f);
    if (job.band->leverage != nullptr) job.band->leverage[i] = f.leverage;
    if (job.band->spread != nullptr) job.band->spread[i] = f.spread;
    job.band->variance[i] = f.variance;
  }
}

}  // namespace

std::int32_t surface_window(std::int32_t n, double f, std::int32_t window_points) {
  if (window_points > 0) return window_points < n ? window_points : n;
  return loess_window(n, f);
}

std::int32_t surface_terms(std::int32_t dims, std::int32_t degree) {
  if (degree <= 0) return 1;
  return degree == 1 ? 1 + dims : 1 + dims + dims * (dims + 1) / 2;
}

surface_work new_surface_work(const surface_data& d) {
  surface_work w;
  w.space = new_kd_space(d.n);
  // Room for windows padded to the terms (surface_fit), which pruned
  // windows may need.
  const std::int32_t terms = surface_terms(d.dims, d.degree);
  const std::int64_t rows = d.window > terms ? d.window : terms;
  w.columns = host_alloc_array<double>(rows * (terms + 3));
  return w;
}

void free_surface_work(surface_work& w) {
  free_kd_space(w.space);
  host_free(w.columns);
  w = surface_work{};
}

void trimmed_scales(const double* x, std::int32_t n, std::int32_t dims, double* scale,
                    double* work) {
  const std::int32_t trim = static_cast<std::int32_t>(std::ceil(0.1 * n));
  for (std::int32_t j = 0; j < dims; ++j) {
    std::copy(x + static_cast<std::int64_t>(j) * n, x + static_cast<std::int64_t>(j + 1) * n, work);
    std::sort(work, work + n);
    const double* kept = work + trim;
    const std::int32_t m = n - 2 * trim;
    double mean = 0.0;
    for (std::int32_t i = 0; i < m; ++i) mean += kept[i];
    mean /= m;
    double ss = 0.0;
    for (std::int32_t i = 0; i < m; ++i) ss += (kept[i] - mean) * (kept[i] - mean);
    const double sd = m > 1 ? std::sqrt(ss / (m - 1)) : 0.0;
    scale[j] = sd > 0.0 && std::isfinite(sd) ? sd : 1.0;
  }
}

double surface_fit(const surface_data& d, const double* q, const surface_work& work,
                   std::int32_t self, fit_influence* influence) {
  if (influence != nullptr) *influence = fit_influence{};
  for (std::int32_t j = 0; j < d.dims; ++j)
    if (!std::isfinite(q[j])) return std::numeric_limits<double>::quiet_NaN();
  const std::int32_t nf = d.window;
  // Robust passes may prune every point of weight.
  if (nf <= 0) return FIT_FAILED;
  const std::int32_t k = surface_terms(d.dims, d.degree);
  double rho = kd_nearest(*d.tree, q, nf, work.space);
  const kd_near* near = work.space.found;
  rho *= d.f > 1.0 ? d.f : 1.0;
  if (rho == 0.0) return at_query(d, q, self, influence);
  double* w = work.columns;
  // Robust passes may leave fewer points than terms: zero rows pad the
  // system, which keeps its least-squares (minimum-norm) solution.
  const std::int32_t rows = nf < k ? k : nf;
  double* eta = w + static_cast<std::int64_t>(k) * rows;
  double* root = eta + rows;  // each point's sqrt weight, which the solve overwrites in w
  double* row = root + rows;
  for (std::int64_t c = 0; c < k; ++c)
    for (std::int32_t p = nf; p < rows; ++p) w[c * rows + p] = 0.0;
  for (std::int32_t p = nf; p < rows; ++p) eta[p] = 0.0;
  for (std::int32_t p = 0; p < nf; ++p) {
    const std::int32_t i = near[p].index;
    const double weight = d.weights != nullptr ? d.weights[i] : 1.0;
    w[p] = std::sqrt(weight * cube(1.0 - cube(std::sqrt(near[p].d2 / rho))));
    eta[p] = w[p] * d.y[i];
  }
  // Columns: 1, each predictor about q, then the products of two of them
  // (j <= l), all weighted.
  double centred[SURFACE_MAX_DIMS];
  for (std::int32_t p = 0; p < nf && d.degree > 0; ++p) {
    const std::int32_t i = near[p].index;
    for (std::int32_t j = 0; j < d.dims; ++j)
      centred[j] = d.x[static_cast<std::int64_t>(j) * d.n + i] - q[j];
    std::int32_t c = 1;
    for (std::int32_t j = 0; j < d.dims; ++j)
      w[static_cast<std::int64_t>(c++) * rows + p] = w[p] * centred[j];
    for (std::int32_t j = 0; j < d.dims && d.degree > 1; ++j)
      for (std::int32_t l = j; l < d.dims; ++l)
        w[static_cast<std::int64_t>(c++) * rows + p] = w[p] * (centred[j] * centred[l]);
  }
  if (influence != nullptr) std::copy(w, w + nf, root);
  double coef[PSEUDO_MAX_COLUMNS];
  if (!pseudo_solve(w, rows, k, eta, coef, influence != nullptr ? row : nullptr, sum_order::striped))
    return FIT_FAILED;
  if (influence != nullptr) {
    // The value is sum_p root_p row_p y_p: point p's share of it is
    // L_p = root_p row_p, and its variance factor sum L_p^2 / prior_p.
    for (std::int32_t p = 0; p < nf; ++p) {
      const std::int32_t i = near[p].index;
      const double share = root[p] * row[p];
      const double prior = d.weights != nullptr ? d.weights[i] : 1.0;
      if (i == self) influence->leverage = share;
      if (prior > 0.0) influence->variance += (share * share) / prior;
      influence->spread += share * share;
    }
  }
  return coef[0];
}

void surface_fits(const surface_data& d, const double* q, std::int64_t m,
                  const fit_settings* settings, double* out, const surface_band_fits* band) {
  if (m <= 0) return;
  const run_plan plan = plan_run(settings, m, d.window, d.degree);
  surface_work* work = host_alloc_array<surface_work>(plan.threads);
  for (int t = 0; t < plan.threads; ++t) work[t] = new_surface_work(d);
  surface_job job{&d, q, m, out, work, band};
  run_parallel(parallel_task{&job, fit_items, nullptr}, m, plan);
  for (int t = 0; t < plan.threads; ++t) free_surface_work(work[t]);
  host_free(work);
}
