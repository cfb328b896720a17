#include "smoother/r_rules/conventions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/r_rules/loess.h"
#include "smoother/r_rules/lowess.h"
#include "smoother/stages/report.h"

namespace {

// R makes every fit it is asked for: what a second result reports.
void reweighted(smooth_outputs* o, std::int32_t reweightings, bool stopped) {
  o->robust.passes = reweightings;
  o->robust.outcome = stopped ? robust_outcome::exact : robust_outcome::converged;
  o->robust.scale = std::numeric_limits<double>::quiet_NaN();
}

// Each query that is a data point taking part: that point's slot in the
// model's order; -1 elsewhere. Null when the queries are not the data.
std::int32_t* data_slots(const smooth_request& r, const double* const* sorted, std::int32_t n) {
  if (!r.at_data) return nullptr;
  std::int32_t* slot = host_alloc_array<std::int32_t>(r.count);
  for (std::int32_t i = 0; i < r.count; ++i) slot[i] = -1;
  for (std::int32_t j = 0; j < n; ++j) slot[sorted[j] - r.x] = j;
  return slot;
}

// One column by R's lowess: its fits at the data points, each query that
// is a data point taking part gets its point's value; any other query, the
// local line there with the final robustness weights (R's value at a data
// point when delta is 0).
void lowess_column(const smooth_request& r, smooth_outputs* o) {
  const double** sorted = host_alloc_array<const double*>(r.count);
  smooth_model* model = build_model(r.count, r.x, r.y, r.choice, r.f, 1, sorted);
  const std::int32_t n = model->count;
  double* fitted = host_alloc_array<double>(n);
  double* robust = host_alloc_array<double>(n);
  double* work = host_alloc_array<double>(2 * static_cast<std::int64_t>(n));
  const double range = n > 0 ? model->x[n - 1] - model->x[0] : 0.0;
  const double delta = r.lowess_delta >= 0.0 ? r.lowess_delta : 0.01 * range;
  const std::int32_t iterations = r.robust ? r.reweightings : 0;
  const lowess_result done = lowess_smooth(model->x, model->y, model->weights, n, r.f, iterations,
                                           delta, fitted, robust, work);
  std::int32_t* slot = data_slots(r, sorted, n);
  const std::int32_t window = n > 0 ? lowess_window(n, r.f) : 0;
  const double* rw = done.reweightings > 0 ? robust : nullptr;
  for (std::int32_t i = 0; i < r.n; ++i) {
    const double q = r.xq[i];
    double v = FIT_FAILED;
    // A data point left out takes the fit of a point at its abscissa that
    // took part, as equal abscissae must give equal values.
    const double* tie = slot != nullptr ? std::lower_bound(model->x, model->x + n, q) : nullptr;
    if (slot != nullptr && slot[i] >= 0) {
      v = fitted[slot[i]];
    } else if (tie != nullptr && tie != model->x + n && *tie == q) {
      v = fitted[tie - model->x];
    } else if (!std::isfinite(q)) {
      v = std::numeric_limits<double>::quiet_NaN();
    } else if (n == 1) {
      v = model->y[0];
    } else if (n > 1) {
      const std::int32_t left = lowess_left(model->x, n, window, q);
      if (!lowess_fit(model->x, model->y, n, q, left, left + window - 1, model->weights, rw, range,
                      work, &v))
        v = FIT_FAILED;
    }
    o->value[i] = v;
  }
  reweighted(o, done.reweightings, done.reweightings < iterations);
  if (r.report) data_weights(r, sorted, n, robust, o->weights);
  o->window = window;
  o->model = model;
  host_free(slot);
  host_free(work);
  host_free(robust);
  host_free(fitted);
  host_free(sorted);
}

// One column by R's loess: its fits at the data points, reweighted
// `reweightings` times when robust; a query that is a data point taking
// part gets its point's fit, any other the fit there with the final
// weights (R's predict).
void loess_column(const smooth_request& r, const fit_settings* settings, smooth_outputs* o) {
  const double** sorted = host_alloc_array<const double*>(r.count);
  // R keeps points of weight 0: they count in every window.
  data_choice kept = r.choice;
  kept.weights = nullptr;
  smooth_model* model = build_model(r.count, r.x, r.y, kept, r.f, r.degree, sorted);
  const std::int32_t n = model->count;
  double* prior = nullptr;
  if (r.choice.weights != nullptr) {
    prior = host_alloc_array<double>(n);
    for (std::int32_t j = 0; j < n; ++j) prior[j] = r.choice.weights[sorted[j] - r.x];
  }
  loess_data d;
  d.x = model->x;
  d.y = model->y;
  d.weights = prior;
  d.n = n;
  d.window = loess_window(n, r.f);
  d.degree = r.degree;
  d.f = r.f;
  double* fitted = host_alloc_array<double>(n);
  double* robust = host_alloc_array<double>(n);
  double* weights = host_alloc_array<double>(n);
  double* work = host_alloc_array<double>(n > loess_work(d) ? n : loess_work(d));
  for (std::int32_t j = 0; j < n; ++j) robust[j] = 1.0;
  const std::int32_t iterations = r.robust ? r.reweightings : 0;
  for (std::int32_t pass = 0;; ++pass) {
    loess_fits(d, model->x, n, settings, fitted);
    if (pass == iterations) break;
    // `weights` holds the residuals until they are weighed. Where no
    // point of a window weighed anything R's fit is 0, and so is the one
    // its residual takes here, so that the other points get R's weights.
    for (std::int32_t j = 0; j < n; ++j)
      weights[j] = model->y[j] - (fitted[j] == FIT_FAILED ? 0.0 : fitted[j]);
    loess_robustness(weights, n, robust, work);
    for (std::int32_t j = 0; j < n; ++j) weights[j] = prior != nullptr ? prior[j] * robust[j] : robust[j];
    d.weights = weights;
  }
  std::int32_t* slot = data_slots(r, sorted, n);
  if (slot == nullptr) {
    loess_fits(d, r.xq, r.n, settings, o->value);
  } else {
    // Points that took no part are fitted here, on the calling thread.
    for (std::int32_t i = 0; i < r.n; ++i)
      o->value[i] = slot[i] >= 0 ? fitted[slot[i]] : loess_fit(d, r.xq[i], work);
  }
  reweighted(o, iterations, false);
  if (r.report) data_weights(r, sorted, n, robust, o->weights);
  o->window = d.window;
  o->model = model;
  host_free(slot);
  host_free(work);
  host_free(weights);
  host_free(robust);
  host_free(fitted);
  host_free(prior);
  host_free(sorted);
}

}  // namespace

void r_convention_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  column_by_column(r, settings, o, [](const smooth_request& column, fit_settings* s,
                                      smooth_outputs* out) {
    if (column.rules == convention::lowess) return lowess_column(column, out);
    loess_column(column, s, out);
  });
}
