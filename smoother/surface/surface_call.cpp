#include "smoother/surface/surface_call.h"

#include <cmath>

#include "host/storage.h"
#include "smoother/surface/surface_fit.h"
#include "smoother/surface/surface_robust.h"

namespace {

// The points taking part, their coordinates scaled, in input order.
struct surface_points {
  double* x = nullptr;  // kept * dims, a column per predictor
  double* y = nullptr;
  double* prior = nullptr;  // null: all 1
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
    for (std::int32_t j = 0; j < r.dims; ++j) p.x[j * n + k] = r.x[static_cast<std::int64_t>(j) * r.count + i];
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
  double* robust = host_alloc_array<double>(n);
  reweighted_surface fits = reweigh_surface(r, d, settings, robust);
  if (r.at_data && n == r.count) {
    surface_fits(fits.d, p.x, n, settings, o->value);
  } else {
    double* q = scaled_queries(r, p);
    surface_fits(fits.d, q, r.n, settings, o->value);
    host_free(q);
  }
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
