#include "smoother/call.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/conventions.h"
#include "smoother/queries.h"

namespace {

// After robust passes the model's weights are the prior weights times the
// robustness weights, which are no precisions of the ordinates: the band
// takes each ordinate's variance as sigma^2 / p_j, p_j its prior weight,
// through the variances' weights w_j^2 / p_j. Returns the model points'
// prior weights (1 without 'Weights'), from the data points they came
// from; the model's variance weights are set, in storage of the call.
double* robust_band_weights(const smooth_request& r, smooth_model* model,
                            const double* const* sorted, std::int32_t sorted_count) {
  const std::int32_t m = model->count;
  double* prior = host_alloc_array<double>(m);
  std::int32_t* slot = host_alloc_array<std::int32_t>(r.count);
  locate_points(model, r.count, r.x, r.y, sorted, sorted_count, slot);
  for (std::int32_t i = 0; i < r.count; ++i)
    if (slot[i] >= 0) prior[slot[i]] = r.choice.weights != nullptr ? r.choice.weights[i] : 1.0;
  host_free(slot);
  model->variance_weights = host_alloc_array<double>(m);
  for (std::int32_t j = 0; j < m; ++j)
    model->variance_weights[j] = (model->weights[j] * model->weights[j]) / prior[j];
  return prior;
}

// Columns of ordinates beyond the model's own that share its fits (see
// smooth_shared): column c's ordinates in model order at y_more[c - 1],
// and all of them again in blocks (COLUMN_BLOCK).
struct shared_columns {
  std::int32_t columns = 1;
  double** y_more = nullptr;
  double* blocks = nullptr;
  double* scales = nullptr;  // column c's max |y| at c - 1
};

// `out` serves every column of `shared`, column c's values `stride` after
// column c - 1's.
void share_outputs(fit_outputs& out, const shared_columns* shared, std::int64_t stride) {
  if (shared == nullptr) return;
  out.columns = shared->columns;
  out.y_more = shared->y_more;
  out.blocks = shared->blocks;
  out.scales = shared->scales;
  out.stride = stride;
}

// Whether the fits take centred ordinates: a derivative's, and every
// page's of a call of several orders.
bool centred(const smooth_request& r) { return r.derivative > 0 || r.pages > 1; }

// Where the fits at the queries go: o's values and flags (and the shared
// columns'), of r's order.
fit_outputs query_outputs(const smooth_request& r, const smooth_outputs* o,
                          const shared_columns* shared) {
  fit_outputs out;
  out.value = o->value;
  out.derivative = r.derivative;
  out.centred = centred(r);
  out.lowered = o->lowered;
  out.unstable = o->unstable;
  share_outputs(out, shared, r.n);
  return out;
}

// The evaluation at the queries with a band, and the summary of the smooth
// at the data points that its sigma and dof come from. When the queries
// are the data, one run at them gives the fits at the data points too;
// otherwise those are made apart, silently (their trouble is not that of
// the call's result). A derivative's smooth is summed from the centred
// ordinates its fits take, made apart or beside it alike. After robust passes that reweighted the
// points, the noise scale is a robust one (summarise_robust). With `shared` columns (plain ones
// only) the influence, which depends on the points alone, is found once, and each column's band has
// its own sigma.
void evaluate_with_band(const smooth_request& r, smooth_model* model, const double* const* sorted,
                        std::int32_t sorted_count, bool reuse, fit_settings* settings,
                        smooth_outputs* o, const shared_columns* shared = nullptr) {
  const std::int32_t n = r.n;
  const std::int32_t m = model->count;
  const std::int32_t columns = shared != nullptr ? shared->columns : 1;
  double* prior =
      o->robust.replaced ? robust_band_weights(r, model, sorted, sorted_count) : nullptr;
  double* variance = host_alloc_array<double>(n);
  // The fits at the model's points, in model order, column after column;
  // FIT_FAILED where none.
  const std::int64_t all_m = static_cast<std::int64_t>(m) * columns;
  double* value_m = host_alloc_array<double>(all_m);
  double* leverage_m = host_alloc_array<double>(m);
  double* variance_m = host_alloc_array<double>(m);
  for (std::int64_t j = 0; j < all_m; ++j) value_m[j] = FIT_FAILED;
  fit_outputs out = query_outputs(r, o, shared);
  out.variance = variance;
  // The fits at the data go straight to their model points, with one
  // column and where no 'Delta' interpolates; a derivative's fits give its
  // smooth's beside it. Elsewhere they are copied, or made apart.
  const bool to_model = columns == 1 && !(settings->delta > 0.0);
  if (r.at_data && to_model) {
    std::int32_t* slot = host_alloc_array<std::int32_t>(n);
    locate_points(model, n, r.xq, r.y, sorted, sorted_count, slot);
    out.own = slot;
    out.smooth.value = value_m;
    out.smooth.variance = variance_m;
    out.smooth.leverage = leverage_m;
    fit_queries(model, query_set{r.xq, n, reuse ? sorted : nullptr}, out, settings);
    host_free(slot);
  } else if (r.at_data && r.derivative == 0) {
    std::int32_t* slot = host_alloc_array<std::int32_t>(n);
    double* leverage = host_alloc_array<double>(n);
    locate_points(model, n, r.xq, r.y, sorted, sorted_count, slot);
    out.leverage = leverage;
    out.own = slot;
    fit_queries(model, query_set{r.xq, n, reuse ? sorted : nullptr}, out, settings);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int32_t j = slot[i];
      if (j < 0) continue;
      for (std::int32_t c = 0; c < columns; ++c) value_m[j + c * m] = o[c].value[i];
      leverage_m[j] = leverage[i];
      variance_m[j] = variance[i];
    }
    host_free(slot);
    host_free(leverage);
  } else {
    fit_queries(model, query_set{r.xq, n, reuse ? sorted : nullptr}, out, settings);
    fit_settings quiet = *settings;
    quiet.report = trouble_report::off;
    fit_outputs own;
    own.centred = centred(r);
    own.value = value_m;
    own.leverage = leverage_m;
    own.variance = variance_m;
    share_outputs(own, shared, m);
    fit_own_points(model, &quiet, own);
  }
  for (std::int32_t c = 0; c < columns; ++c) {
    smooth_model column = *model;
    if (c > 0) column.y = shared->y_more[c - 1];
    const double* value = value_m + static_cast<std::int64_t>(c) * m;
    o[c].summary = prior != nullptr
                       ? summarise_robust(&column, prior, value, leverage_m, variance_m)
                       : summarise(&column, value, leverage_m, variance_m);
    const double t = t_quantile(r.level, o[c].summary.dof);
    fill_band(n, o[c].value, variance, o[c].summary.sigma, t, r.band == band_kind::prediction,
              o[c].se, o[c].lower, o[c].upper);
  }
  host_free(variance);
  host_free(value_m);
  host_free(leverage_m);
  host_free(variance_m);
  host_free(prior);
  host_free(model->variance_weights);
  model->variance_weights = nullptr;
}

// The evaluation at the queries, page after page, each order's into its
// own: with a band only for a call that reports it. `o` holds a column's
// outputs each, and `shared` the columns beyond the first when they share
// the fits.
void evaluate_pages(const smooth_request& r, smooth_model* model, const double* const* sorted,
                    std::int32_t points, bool reuse, fit_settings* settings, smooth_outputs* o,
                    const shared_columns* shared = nullptr) {
  const std::int32_t columns = shared != nullptr ? shared->columns : 1;
  smooth_outputs* page = host_alloc_array<smooth_outputs>(columns);
  const auto at = [](auto* a, std::int64_t offset) { return a != nullptr ? a + offset : a; };
  for (std::int32_t p = 0; p < r.pages; ++p) {
    smooth_request order = r;
    order.derivative = r.pages > 1 ? r.orders[p] : r.derivative;
    for (std::int32_t c = 0; c < columns; ++c) {
      const std::int64_t offset = p * o[c].page;
      page[c] = o[c];
      page[c].value = o[c].value + offset;
      page[c].se = at(o[c].se, offset);
      page[c].lower = at(o[c].lower, offset);
      page[c].upper = at(o[c].upper, offset);
      page[c].lowered = at(o[c].lowered, offset);
      page[c].unstable = at(o[c].unstable, offset);
    }
    if (r.report && r.band != band_kind::none) {
      evaluate_with_band(order, model, sorted, points, reuse, settings, page, shared);
      // The same on every page: the fits at the data are summed alike.
      for (std::int32_t c = 0; c < columns; ++c) o[c].summary = page[c].summary;
    } else {
      fit_queries(model, query_set{r.xq, r.n, reuse ? sorted : nullptr},
                  query_outputs(order, page, shared), settings);
    }
  }
  host_free(page);
}

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
