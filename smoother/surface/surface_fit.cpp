#include "smoother/surface/surface_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/storage.h"
#include "numeric/gram_solve.h"
#include "numeric/lanes.h"
#include "numeric/pseudo_solve.h"
#include "smoother/fits/parallel.h"
#include "smoother/model.h"
#include "smoother/r_rules/loess.h"

namespace {

double cube(double v) { return v * v * v; }

// Points per block of a window's sums: a block's columns stay in the
// nearest cache (a multiple of 16, as gram_add asks).
constexpr std::int32_t BLOCK = 128;

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
    // Where the weights are the priors, sum_i (w_i / total)^2 / w_i.
    f->variance = d.prior == nullptr ? 1.0 / total : 0.0;
    for (std::int32_t i = 0; i < d.n; ++i) {
      if (kd_distance2(*d.tree, i, q) != 0.0) continue;
      const double share = (d.weights != nullptr ? d.weights[i] : 1.0) / total;
      f->spread += share * share;
      if (d.prior != nullptr && d.prior[i] > 0.0) f->variance += (share * share) / d.prior[i];
    }
  }
  return sum / total;
}

// A query's place on a Z-order curve over the queries' box: queries close
// on the curve are close in space, so that each search starts from a
// bound the last one gives (kd_space). A coordinate that is not finite
// goes last.
struct curve_key {
  std::uint64_t code;
  std::int64_t i;
};

void spatial_order(const double* q, std::int64_t m, std::int32_t dims, std::int64_t* order) {
  curve_key* keys = host_alloc_array<curve_key>(m);
  double low[SURFACE_MAX_DIMS];
  double high[SURFACE_MAX_DIMS];
  for (std::int32_t j = 0; j < dims; ++j) {
    low[j] = std::numeric_limits<double>::infinity();
    high[j] = -low[j];
    for (std::int64_t i = 0; i < m; ++i) {
      const double v = q[j * m + i];
      if (!std::isfinite(v)) continue;
      low[j] = v < low[j] ? v : low[j];
      high[j] = v > high[j] ? v : high[j];
    }
  }
  const int bits = 64 / dims;
  const double cells = std::ldexp(1.0, bits) - 1.0;
  for (std::int64_t i = 0; i < m; ++i) {
    std::uint64_t code = 0;
    bool finite = true;
    for (std::int32_t j = 0; j < dims; ++j) {
      const double v = q[j * m + i];
      finite = finite && std::isfinite(v);
      const double width = high[j] - low[j];
      const double at = finite && width > 0.0 && std::isfinite(width) ? (v - low[j]) / width : 0.0;
      const auto cell = static_cast<std::uint64_t>(at * cells);
      for (int b = 0; b < bits; ++b) code |= ((cell >> b) & 1U) << (b * dims + j);
    }
    keys[i] = curve_key{finite ? code : UINT64_MAX, i};
  }
  std::sort(keys, keys + m, [](const curve_key& a, const curve_key& b) {
    return a.code < b.code || (a.code == b.code && a.i < b.i);
  });
  for (std::int64_t i = 0; i < m; ++i) order[i] = keys[i].i;
  host_free(keys);
}

struct surface_job {
  const surface_data* data;
  const double* q;
  std::int64_t m;
  const std::int64_t* order;
  double* out;
  surface_work* work;
  const surface_band_fits* band;
  int lanes;
};

void fit_some(const surface_job& job, int worker, std::int64_t begin, std::int64_t end) {
  double q[SURFACE_MAX_DIMS] = {};
  for (std::int64_t at = begin; at < end; ++at) {
    const std::int64_t i = job.order[at];
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

// The fits in the widest lanes' code the run may use: the same
// arithmetic, so the same bits, only more of it at once.
void fit_items(void* context, int worker, std::int64_t begin, std::int64_t end) {
  const surface_job& job = *static_cast<const surface_job*>(context);
  const auto some = [&] { fit_some(job, worker, begin, end); };
  switch (job.lanes) {
    case 8: lane_code<8>::run(some); break;
    case 4: lane_code<4>::run(some); break;
    default: some(); break;
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
  w.columns = host_alloc_array<double>(rows * (2 * terms + 2));
  w.block = host_alloc_array<double>(static_cast<std::int64_t>(BLOCK) * (2 * terms + 2));
  w.sums = host_alloc_array<gram_sums>(1);
  return w;
}

void free_surface_work(surface_work& w) {
  free_kd_space(w.space);
  host_free(w.columns);
  host_free(w.block);
  host_free(w.sums);
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

namespace {

// The window's points from the first'th on.
kd_window from(const kd_window& w, std::int32_t first) {
  return kd_window{w.d2 + first, w.index + first, w.at + first};
}

// A window's (or a block's) columns, each `stride` long, one after
// another: 2k + 2 of them.
struct point_columns {
  double* weight;    // the tricube times the prior weight (or its root)
  double* y;         // the ordinates
  double* terms;     // the k - 1 terms but the constant, unweighted
  double* weighted;  // the k terms times the weight (or its root)
  double* share;     // each point's share of the value
};

point_columns lay_out(double* base, std::int64_t stride, std::int32_t k) {
  const auto column = [&](std::int32_t c) { return base + c * stride; };
  return {column(0), column(1), column(2), column(k + 1), column(2 * k + 1)};
}

// The window's points near[0, m): each one's weight (the tricube times
// its prior weight), ordinate, terms but the constant (each predictor
// about q, then the products of two of them, j <= l; unweighted) and the
// k weighted terms, column c of each at + c * stride. Loop by loop, so
// that each step runs in vector lanes.
void form_points(const surface_data& d, const double* q, const kd_window& near, std::int32_t m,
                 double rho, std::int32_t k, std::int64_t stride, double* weight, double* y,
                 double* terms, double* weighted) {
  for (std::int32_t p = 0; p < m; ++p) weight[p] = near.d2[p];
  for (std::int32_t p = 0; p < m; ++p) weight[p] = cube(1.0 - cube(std::sqrt(weight[p] / rho)));
  if (d.weights != nullptr)
    for (std::int32_t p = 0; p < m; ++p) weight[p] = d.weights[near.index[p]] * weight[p];
  for (std::int32_t p = 0; p < m; ++p) y[p] = d.y[near.index[p]];
  for (std::int32_t j = 0; j < d.dims && d.degree > 0; ++j) {
    double* x = terms + j * stride;
    const double* xs = d.tree->xs + static_cast<std::int64_t>(j) * d.n;
    for (std::int32_t p = 0; p < m; ++p) x[p] = xs[near.at[p]] - q[j];
  }
  std::int32_t c = d.dims;
  for (std::int32_t j = 0; j < d.dims && d.degree > 1; ++j) {
    for (std::int32_t l = j; l < d.dims; ++l) {
      double* product = terms + c++ * stride;
      const double* a = terms + j * stride;
      const double* b = terms + l * stride;
      for (std::int32_t p = 0; p < m; ++p) product[p] = a[p] * b[p];
    }
  }
  std::copy(weight, weight + m, weighted);
  for (std::int32_t a = 1; a < k; ++a) {
    double* u = weighted + a * stride;
    const double* x = terms + (a - 1) * stride;
    for (std::int32_t p = 0; p < m; ++p) u[p] = weight[p] * x[p];
  }
}

// Points near[0, m)'s shares L_p of the value: the leverage (q being
// point `self`), the variance factor sum L_p^2 / prior_p and sum L_p^2.
void add_influence(const surface_data& d, const kd_window& near, std::int32_t m,
                   const double* share, std::int32_t self, fit_influence* influence) {
  const double* priors = d.prior != nullptr ? d.prior : d.weights;
  for (std::int32_t p = 0; p < m; ++p) {
    const std::int32_t i = near.index[p];
    const double prior = priors != nullptr ? priors[i] : 1.0;
    if (i == self) influence->leverage = share[p];
    if (prior > 0.0) influence->variance += (share[p] * share[p]) / prior;
    influence->spread += share[p] * share[p];
  }
}

// The fit through the singular values, as R solves it: the columns and
// ordinates times the root of the weight. Robust passes may leave fewer
// points than terms: zero rows pad the system, which keeps its
// least-squares (minimum-norm) solution.
double by_singular_values(const surface_data& d, const double* q, const kd_window& near,
                          std::int32_t nf, double rho, std::int32_t k, surface_work& work,
                          std::int32_t self, fit_influence* influence) {
  const std::int32_t rows = nf < k ? k : nf;
  const point_columns c = lay_out(work.columns, rows, k);
  double* root = c.weight;
  double* y = c.y;
  const double* terms = c.terms;
  double* b = c.weighted;
  double* row = c.share;
  for (std::int64_t at = 0; at < static_cast<std::int64_t>(2 * k + 1) * rows; at += rows)
    for (std::int32_t p = nf; p < rows; ++p) work.columns[at + p] = 0.0;
  form_points(d, q, near, nf, rho, k, rows, root, y, c.terms, b);
  for (std::int32_t p = 0; p < nf; ++p) root[p] = std::sqrt(root[p]);
  std::copy(root, root + nf, b);
  for (std::int32_t a = 1; a < k; ++a) {
    double* col = b + static_cast<std::int64_t>(a) * rows;
    const double* x = terms + static_cast<std::int64_t>(a - 1) * rows;
    for (std::int32_t p = 0; p < nf; ++p) col[p] = root[p] * x[p];
  }
  for (std::int32_t p = 0; p < nf; ++p) y[p] = root[p] * y[p];
  double coef[PSEUDO_MAX_COLUMNS];
  double* shares = influence != nullptr ? row : nullptr;
  if (!pseudo_solve(b, rows, k, y, coef, shares, sum_order::striped)) return FIT_FAILED;
  if (influence != nullptr) {
    // The value is sum_p root_p row_p y_p.
    for (std::int32_t p = 0; p < nf; ++p) row[p] = root[p] * row[p];
    add_influence(d, near, nf, row, self, influence);
  }
  return coef[0];
}

}  // namespace

double surface_fit(const surface_data& d, const double* q, surface_work& work, std::int32_t self,
                   fit_influence* influence) {
  if (influence != nullptr) *influence = fit_influence{};
  for (std::int32_t j = 0; j < d.dims; ++j)
    if (!std::isfinite(q[j])) return std::numeric_limits<double>::quiet_NaN();
  const std::int32_t nf = d.window;
  // Robust passes may prune every point of weight.
  if (nf <= 0) return FIT_FAILED;
  const std::int32_t k = surface_terms(d.dims, d.degree);
  double rho = kd_nearest(*d.tree, q, nf, work.space);
  const kd_window& near = work.space.near;
  rho *= d.f > 1.0 ? d.f : 1.0;
  if (rho == 0.0) return at_query(d, q, self, influence);
  gram_sums& sums = *work.sums;
  gram_start(sums, k);
  const point_columns c = lay_out(work.block, BLOCK, k);
  double* weight = c.weight;
  double* y = c.y;
  double* terms = c.terms;
  double* weighted = c.weighted;
  for (std::int32_t first = 0; first < nf; first += BLOCK) {
    const std::int32_t m = nf - first < BLOCK ? nf - first : BLOCK;
    form_points(d, q, from(near, first), m, rho, k, BLOCK, weight, y, terms, weighted);
    gram_add(sums, weighted, terms, BLOCK, m, y);
  }
  double value = 0.0;
  double h[PSEUDO_MAX_COLUMNS] = {};  // zeroed for the analyzer, which cannot follow k
  double* share = c.share;
  if (gram_first(sums, &value, h)) {
    // Point p's share of the value, sum_a h_a u_a[p], block by block.
    for (std::int32_t first = 0; influence != nullptr && first < nf; first += BLOCK) {
      const std::int32_t m = nf - first < BLOCK ? nf - first : BLOCK;
      form_points(d, q, from(near, first), m, rho, k, BLOCK, weight, y, terms, weighted);
      for (std::int32_t p = 0; p < m; ++p) share[p] = 0.0;
      for (std::int32_t a = 0; a < k; ++a) {
        const double* u = weighted + static_cast<std::int64_t>(a) * BLOCK;
        for (std::int32_t p = 0; p < m; ++p) share[p] += h[a] * u[p];
      }
      add_influence(d, from(near, first), m, share, self, influence);
    }
    return value;
  }
  return by_singular_values(d, q, near, nf, rho, k, work, self, influence);
}

void surface_fits(const surface_data& d, const double* q, std::int64_t m,
                  const fit_settings* settings, double* out, const surface_band_fits* band) {
  if (m <= 0) return;
  const run_plan plan = plan_run(settings, m, d.window, d.degree);
  surface_work* work = host_alloc_array<surface_work>(plan.threads);
  for (int t = 0; t < plan.threads; ++t) work[t] = new_surface_work(d);
  std::int64_t* order = host_alloc_array<std::int64_t>(m);
  spatial_order(q, m, d.dims, order);
  surface_job job{&d, q, m, order, out, work, band, plan.lanes};
  run_parallel(parallel_task{&job, fit_items, nullptr}, m, plan);
  host_free(order);
  for (int t = 0; t < plan.threads; ++t) free_surface_work(work[t]);
  host_free(work);
}
