#include "smoother/surface/surface_call.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/r_rules/loess.h"
#include "smoother/stages/band.h"
#include "smoother/stages/intervals.h"
#include "smoother/stages/span.h"
#include "smoother/surface/surface_fit.h"
#include "smoother/surface/surface_robust.h"

namespace {

// The points taking part, their coordinates scaled, in input order.
struct surface_points {
  double* x = nullptr;  // kept * dims, a column per predictor
  double* y = nullptr;
  double* prior = nullptr;        // null: all 1
  std::int32_t* index = nullptr;  // each kept point's row in the data
  std::int32_t kept = 0;
  double scale[SURFACE_MAX_DIMS] = {};
};

bool finite_row(const double* x, std::int64_t rows, std::int32_t dims, std::int64_t i) {
  for (std::int32_t j = 0; j < dims; ++j)
    if (!std::isfinite(x[j * rows + i])) return false;
  return true;
}

// Column y of r's ordinates.
bool surface_takes_part(const smooth_request& r, const double* y, std::int32_t i) {
  if (r.choice.omit_missing && std::isnan(y[i])) return false;
  return finite_row(r.x, r.count, r.dims, i);
}

surface_points take_points(const smooth_request& r) {
  surface_points p;
  p.index = host_alloc_array<std::int32_t>(r.count);
  for (std::int32_t i = 0; i < r.count; ++i)
    if (surface_takes_part(r, r.y, i)) p.index[p.kept++] = i;
  const std::int64_t n = p.kept;
  p.x = host_alloc_array<double>(n * r.dims);
  p.y = host_alloc_array<double>(n);
  if (r.choice.weights != nullptr) p.prior = host_alloc_array<double>(n);
  for (std::int32_t k = 0; k < p.kept; ++k) {
    const std::int32_t i = p.index[k];
    for (std::int32_t j = 0; j < r.dims; ++j)
      p.x[j * n + k] = r.x[static_cast<std::int64_t>(j) * r.count + i];
    p.y[k] = r.y[i];
    if (p.prior != nullptr) p.prior[k] = r.choice.weights[i];
  }
  for (std::int32_t j = 0; j < r.dims; ++j) p.scale[j] = 1.0;
  if (r.normalize && p.kept > 0) {
    double* work = host_alloc_array<double>(n);
    trimmed_scales(p.x, p.kept, r.dims, p.scale, work);
    host_free(work);
    for (std::int32_t j = 0; j < r.dims; ++j)
      for (std::int64_t k = 0; k < n; ++k) p.x[j * n + k] /= p.scale[j];
  }
  return p;
}

void free_points(surface_points& p) {
  host_free(p.x);
  host_free(p.y);
  host_free(p.prior);
  host_free(p.index);
}

// The queries, scaled as the points were: a column per predictor.
double* scaled_queries(const smooth_request& r, const surface_points& p) {
  const std::int64_t m = r.n;
  double* q = host_alloc_array<double>(m * r.dims);
  for (std::int32_t j = 0; j < r.dims; ++j)
    for (std::int64_t i = 0; i < m; ++i) q[j * m + i] = r.xq[j * m + i] / p.scale[j];
  return q;
}

// The smooth judged at its points as R's loess judges it: rss weighted by
// the prior weights, enp the trace of L, and the residual degrees of
// freedom n - 2 tr(L) + sum_ij L_ij^2, the squares unweighted (R's
// one.delta); sigma = sqrt(rss / dof), R's residual standard error.
smoother_summary surface_summary(const surface_points& p, const double* value,
                                 const surface_band_fits& f) {
  smoother_summary s;
  for (std::int32_t i = 0; i < p.kept; ++i) {
    if (value[i] == FIT_FAILED) continue;
    const double w = p.prior != nullptr ? p.prior[i] : 1.0;
    const double r = p.y[i] - value[i];
    s.points += 1;
    s.rss += w * (r * r);
    s.enp += f.leverage[i];
    s.spread += f.spread[i];
  }
  s.dof = (static_cast<double>(s.points) - 2.0 * s.enp) + s.spread;
  s.sigma = s.dof > 0.0 ? std::sqrt(s.rss / s.dof) : std::nan("");
  return s;
}

// After this module's passes, as summarise_robust judges a curve: L the
// final weighted fits over the points the passes kept, sigma the robust
// scale of the residuals standardised through it; enp and dof as R sums
// them (surface_summary).
smoother_summary kept_summary(const reweighted_surface& s, const fit_settings* settings) {
  const std::int32_t m = s.count;
  double* room = host_alloc_array<double>(5 * static_cast<std::int64_t>(m));
  double* value = room;
  const surface_band_fits own{room + m, room + 2 * static_cast<std::int64_t>(m),
                              room + 3 * static_cast<std::int64_t>(m), true};
  double* z = room + 4 * static_cast<std::int64_t>(m);
  surface_fits(s.d, s.x, m, settings, value, &own);
  smoother_summary sum;
  for (std::int32_t i = 0; i < m; ++i) {
    if (value[i] == FIT_FAILED) continue;
    const double r = s.y[i] - value[i];
    z[sum.points++] = standardised_residual(r, s.prior[i], own.leverage[i], own.variance[i]);
    sum.rss += s.prior[i] * (r * r);
    sum.enp += own.leverage[i];
    sum.spread += own.spread[i];
  }
  sum.dof = (static_cast<double>(sum.points) - 2.0 * sum.enp) + sum.spread;
  sum.sigma = robust_sigma(z, sum.points);
  sum.enp = sum.spread;
  host_free(room);
  return sum;
}

// After R's family "symmetric", as R judges it: enp and dof those of the
// plain fits (the prior weights alone), sigma from R's pseudovalues
// smoothed by the same plain fits, sqrt(sum_i w_i (pv_i - (L pv)_i)^2 /
// dof). `fitted` holds the final fits at the points.
smoother_summary symmetric_summary(const surface_points& p, const surface_data& plain,
                                   const double* fitted, const double* robust,
                                   const fit_settings* settings) {
  const std::int32_t n = p.kept;
  double* room = host_alloc_array<double>(6 * static_cast<std::int64_t>(n));
  double* value = room;
  const surface_band_fits own{room + n, room + 2 * static_cast<std::int64_t>(n),
                              room + 3 * static_cast<std::int64_t>(n), true};
  surface_fits(plain, p.x, n, settings, value, &own);
  smoother_summary sum = surface_summary(p, value, own);
  sum.enp = sum.spread;
  double* pseudo = room + 4 * static_cast<std::int64_t>(n);
  loess_pseudovalues(p.y, fitted, p.prior, robust, n, pseudo,
                     room + 5 * static_cast<std::int64_t>(n));
  surface_data smoothed = plain;
  smoothed.y = pseudo;
  surface_fits(smoothed, p.x, n, settings, value);
  double ss = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    if (value[i] == FIT_FAILED) continue;
    const double r = pseudo[i] - value[i];
    ss += (p.prior != nullptr ? p.prior[i] : 1.0) * (r * r);
  }
  sum.rss = ss;
  sum.sigma = sum.dof > 0.0 ? std::sqrt(ss / sum.dof) : std::nan("");
  host_free(room);
  return sum;
}

// The smallest span whose window of n points holds q.
double span_of_window(std::int32_t n, std::int32_t q) {
  if (q >= n) return 1.0;
  double f = static_cast<double>(q) / static_cast<double>(n);
  while (loess_window(n, f) < q) f = std::nextafter(f, 2.0);
  return f;
}

double surface_span(void* context, std::int32_t q) {
  return span_of_window(*static_cast<const std::int32_t*>(context), q);
}

// A candidate window judged by its smooth at the points, as a curve's is.
struct surface_search {
  const surface_data* d;
  const surface_points* p;
  span_rule rule;
  fit_settings quiet;
  double* value;
  surface_band_fits own;
};

double surface_criterion(void* context, std::int32_t q) {
  surface_search& s = *static_cast<surface_search*>(context);
  surface_data d = *s.d;
  d.window = q;
  surface_fits(d, s.p->x, d.n, &s.quiet, s.value, &s.own);
  smoother_summary sum = surface_summary(*s.p, s.value, s.own);
  if (sum.points != d.n) return std::numeric_limits<double>::infinity();
  return span_criterion(s.rule, sum.points, sum.rss, sum.enp);
}

// The window of least criterion among those of spans r.span_lo to
// r.span_hi, into d; what was tried into o->search.
void choose_surface_span(const smooth_request& r, const surface_points& p, surface_data& d,
                         const fit_settings* settings, smooth_outputs* o) {
  const std::int32_t n = d.n;
  double* room = host_alloc_array<double>(5 * static_cast<std::int64_t>(n));
  surface_search s{&d,
                   &p,
                   r.rule,
                   quiet_settings(*settings),
                   room,
                   surface_band_fits{room + n, room + 2 * static_cast<std::int64_t>(n),
                                     room + 3 * static_cast<std::int64_t>(n), true}};
  const std::int32_t terms = surface_terms(d.dims, d.degree);
  const std::int32_t least = terms + 1 < n ? terms + 1 : n;
  std::int32_t q_lo = loess_window(n, r.span_lo);
  if (q_lo < least) q_lo = least;
  std::int32_t q_hi = loess_window(n, r.span_hi);
  if (q_hi < q_lo) q_hi = q_lo;
  const window_choice w = choose_window(q_lo, q_hi, window_judge{&s, surface_criterion});
  host_free(room);
  d.window = w.window;
  d.f = span_of_window(n, w.window);
  o->search = search_report(w, d.f, surface_span, &d.n);
}

void surface_column(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  surface_points p = take_points(r);
  const std::int32_t n = p.kept;
  kd_tree tree = build_kd_tree(p.x, n, r.dims);
  surface_data d;
  d.x = p.x;
  d.y = p.y;
  d.weights = p.prior;
  d.tree = &tree;
  d.n = n;
  d.dims = r.dims;
  d.window = surface_window(n, r.f, r.window_points);
  d.degree = r.degree;
  d.f = r.f;
  if (r.choose_span) choose_surface_span(r, p, d, settings, o);
  double* robust = host_alloc_array<double>(n);
  reweighted_surface fits = reweigh_surface(r, d, settings, robust);
  const bool band = r.report && r.band != band_kind::none;
  const bool reweighted = fits.d.prior != nullptr;
  // With a band and the plain fits, the fits at the data points make its
  // summary; their values are those of the fits without it, to the bit.
  double* at_points =
      band && !reweighted ? host_alloc_array<double>(4 * static_cast<std::int64_t>(n)) : nullptr;
  if (at_points != nullptr) {
    const surface_band_fits own{at_points + n, at_points + 2 * static_cast<std::int64_t>(n),
                                at_points + 3 * static_cast<std::int64_t>(n), true};
    surface_fits(fits.d, p.x, n, settings, at_points, &own);
    o->summary = surface_summary(p, at_points, own);
    // R's loess reports as its enp the sum of the squared shares,
    // sum_ij L_ij^2, not the trace (its trace.hat).
    o->summary.enp = o->summary.spread;
  }
  // The variance factors at the queries wait in se until the band is made.
  const surface_band_fits queried{o->se, nullptr, nullptr, false};
  const bool own_points = r.at_data && n == r.count;
  if (own_points && at_points != nullptr) {
    std::copy(at_points, at_points + n, o->value);
    std::copy(at_points + n, at_points + 2 * static_cast<std::int64_t>(n), o->se);
  } else {
    // The data's own points are the queries scaled.
    double* q = own_points ? nullptr : scaled_queries(r, p);
    surface_fits(fits.d, own_points ? p.x : q, r.n, settings, o->value, band ? &queried : nullptr);
    host_free(q);
  }
  if (band && reweighted && r.rules == convention::loess) {
    double* fitted = own_points ? nullptr : host_alloc_array<double>(n);
    if (fitted != nullptr) surface_fits(fits.d, p.x, n, settings, fitted);
    o->summary = symmetric_summary(p, d, own_points ? o->value : fitted, robust, settings);
    host_free(fitted);
  } else if (band && reweighted) {
    o->summary = kept_summary(fits, settings);
  }
  if (band)
    fill_band(r.n, o->value, o->se, o->summary.sigma, t_quantile(r.level, o->summary.dof),
              r.band == band_kind::prediction, o->se, o->lower, o->upper);
  host_free(at_points);
  o->robust = fits.report;
  o->robust.weights = nullptr;
  if (r.report) {
    for (std::int32_t i = 0; i < r.count; ++i) o->weights[i] = 0.0;
    for (std::int32_t k = 0; k < n; ++k) o->weights[p.index[k]] = robust[k];
  }
  o->window = fits.d.window;
  free_reweighted(fits);
  host_free(robust);
  free_kd_tree(tree);
  free_points(p);
}

}  // namespace

std::int32_t surface_points_taking_part(const smooth_request& r, std::int32_t c) {
  const double* y = r.y + static_cast<std::int64_t>(c) * r.count;
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < r.count; ++i) kept += surface_takes_part(r, y, i) ? 1 : 0;
  return kept;
}

void surface_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  column_by_column(r, settings, o, surface_column);
}
