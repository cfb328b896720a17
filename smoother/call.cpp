#include "smoother/call.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/fits/queries.h"
#include "smoother/r_rules/conventions.h"
#include "smoother/stages/evaluate.h"

namespace {

// 'Window' k: the model's f becomes the span that gives it windows of k
// points (all of them when fewer take part), so that the call is, bit for
// bit, the call with that span; robust passes that leave points out then
// shrink the windows as that span's would.
void use_window(smooth_model* model, std::int32_t k) {
  model->f = span_for_window(model, k < model->count ? k : model->count);
  model->window = window_size(model->count, model->f, model->degree);
}

// A spaced evaluation takes the queries in ascending order, and a plain
// one runs faster in it. When the queries are the data and every point of
// a number abscissa takes part, that is the model's own sorted order, so
// they need not be sorted a second time.
bool reuses_order(const smooth_request& r) {
  return r.at_data && r.choice.weights == nullptr && !r.choice.omit_missing;
}

// What stands when no pass can run, with no data point taking part.
void no_passes(smooth_outputs* o) {
  o->robust.outcome = robust_outcome::abandoned;
  o->robust.scale = std::numeric_limits<double>::quiet_NaN();
}

// The whole call for one column of ordinates.
void smooth_column(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  if (r.rules != convention::native) return r_convention_column(r, settings, o);
  no_passes(o);
  double* robust_weights = r.report && r.robust ? host_alloc_array<double>(r.count) : nullptr;
  // The model's order also says where each point came from, for the
  // weights reported.
  const bool reuse = reuses_order(r);
  const double** sorted = reuse || r.report ? host_alloc_array<const double*>(r.count) : nullptr;
  smooth_model* model = build_model(r.count, r.x, r.y, r.choice, r.f, r.degree, sorted);
  if (r.window_points > 0) use_window(model, r.window_points);
  const std::int32_t points = model->count;
  // The span is chosen on the plain smooth; robust passes then use it.
  if (r.choose_span) o->search = choose_span(model, r.rule, r.span_lo, r.span_hi, settings);
  // On failure the model stays as built; with no data point there is nothing to reweight.
  if (r.robust && points > 0) o->robust = robustify(model, settings, r.max_passes, robust_weights);
  evaluate_pages(r, model, sorted, points, reuse, settings, o);
  if (r.report) data_weights(r, sorted, points, robust_weights, o->weights);
  o->window = model->window;
  o->model = model;
  host_free(sorted);
  host_free(robust_weights);
}

// Whether the columns of a call can share one model and its fits: which
// points take part and every fit's weights must not depend on the
// ordinates, so no robust passes (each leaves out its own column's
// outliers, and the windows part ways), no span chosen on them and no
// points left out by them ('Missing' 'omit' leaves out none when no
// ordinate is NaN).
bool columns_share(const smooth_request& r, const fit_settings* settings) {
  // The fast sums make each column's sums from its own moments; R's
  // lowess and loess run a column at a time.
  if (r.columns <= 1 || r.robust || r.choose_span || settings->fast ||
      r.rules != convention::native)
    return false;
  if (!r.choice.omit_missing) return true;
  const std::int64_t all = static_cast<std::int64_t>(r.count) * r.columns;
  for (std::int64_t i = 0; i < all; ++i)
    if (std::isnan(r.y[i])) return false;
  return true;
}

// All columns at once: one model of the first, the others' ordinates put
// in its order, and one run of fits that sums only the right-hand sides
// per column. Each column's outputs are those of its call alone.
void smooth_shared(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  const bool reuse = reuses_order(r);
  const double** sorted = host_alloc_array<const double*>(r.count);
  smooth_model* model = build_model(r.count, r.x, r.y, r.choice, r.f, r.degree, sorted);
  if (r.window_points > 0) use_window(model, r.window_points);
  const std::int32_t points = model->count;
  const std::int32_t more = r.columns - 1;
  shared_columns shared;
  shared.columns = r.columns;
  shared.y_more = host_alloc_array<double*>(more);
  shared.scales = host_alloc_array<double>(more);
  const std::int64_t width = (more + COLUMN_BLOCK - 1) / COLUMN_BLOCK * COLUMN_BLOCK;
  shared.blocks = host_alloc_array<double>(width * points);
  // The last block's unused lanes are summed too, and thrown away.
  for (std::int64_t i = 0; i < width * points; ++i) shared.blocks[i] = 0.0;
  for (std::int32_t c = 1; c < r.columns; ++c) {
    const double* y = r.y + static_cast<std::int64_t>(c) * r.count;
    double* y_c = shared.y_more[c - 1] = host_alloc_array<double>(points);
    const std::int32_t first = (c - 1) / COLUMN_BLOCK * COLUMN_BLOCK;
    double* block = shared.blocks + static_cast<std::int64_t>(first) * points + (c - 1 - first);
    for (std::int32_t j = 0; j < points; ++j) {
      y_c[j] = y[sorted[j] - r.x];
      block[static_cast<std::int64_t>(j) * COLUMN_BLOCK] = y_c[j];
    }
    shared.scales[c - 1] = largest_magnitude(y_c, points);
  }
  for (std::int32_t c = 0; c < r.columns; ++c) no_passes(o + c);
  evaluate_pages(r, model, sorted, points, reuse, settings, o, &shared);
  for (std::int32_t c = 0; c < r.columns; ++c) {
    if (r.report) data_weights(r, sorted, points, nullptr, o[c].weights);
    o[c].window = model->window;
  }
  // One model outlives the call, as with one column.
  o[r.columns - 1].model = model;
  for (std::int32_t c = 0; c < more; ++c) host_free(shared.y_more[c]);
  host_free(shared.y_more);
  host_free(shared.blocks);
  host_free(shared.scales);
  host_free(sorted);
}

}  // namespace

void data_weights(const smooth_request& r, const double* const* sorted, std::int32_t points,
                  const double* robust_weights, double* weights) {
  for (std::int32_t i = 0; i < r.count; ++i) weights[i] = 0.0;
  for (std::int32_t j = 0; j < points; ++j)
    weights[sorted[j] - r.x] = robust_weights != nullptr ? robust_weights[j] : 1.0;
}

void smooth_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  if (columns_share(r, settings)) return smooth_shared(r, settings, o);
  smooth_request column = r;
  column.columns = 1;
  for (std::int32_t c = 0; c < r.columns; ++c) {
    column.y = r.y + static_cast<std::int64_t>(c) * r.count;
    smooth_column(column, settings, o + c);
    // One model outlives the call, as with one column; the others go.
    if (c + 1 < r.columns) {
      free_model(o[c].model);
      o[c].model = nullptr;
    }
  }
}

void release_outputs(smooth_outputs* out) {
  host_free(out->search.spans);
  host_free(out->search.values);
  out->search.spans = out->search.values = nullptr;
}
