#include "smoother/stages/evaluate.h"

#include "host/storage.h"
#include "smoother/fits/queries.h"

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

}  // namespace

void evaluate_pages(const smooth_request& r, smooth_model* model, const double* const* sorted,
                    std::int32_t points, bool reuse, fit_settings* settings, smooth_outputs* o,
                    const shared_columns* shared) {
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
