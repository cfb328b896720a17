#include "smoother/stages/evaluate.h"

#include "host/storage.h"
#include "smoother/fits/queries.h"

namespace {

// Fits of r into `value`, for the shared columns too (a column's fits
// `stride` after another's). Every fit of a call with derivatives, the
// value's too, takes centred ordinates, as a derivative's does, so that a
// page's values and the band's fits at the data are the same sums.
fit_outputs call_outputs(const smooth_request& r, const shared_columns& shared, double* value,
                         std::int64_t stride) {
  fit_outputs out;
  out.value = value;
  out.centred = r.derivative > 0 || r.pages > 1;
  if (shared.columns > 1) {
    out.columns = shared.columns;
    out.y_more = shared.y_more;
    out.blocks = shared.blocks;
    out.scales = shared.scales;
    out.stride = stride;
  }
  return out;
}

// How the fits at the queries also give the band's fits at the data, when
// the queries are the data: straight to their model points, with one
// column and where no 'Delta' interpolates (a derivative's fits give its
// smooth beside it); or copied there afterwards, for the smooth itself.
enum class data_route { none, direct, copied };

data_route route_of(const smooth_request& r, std::int32_t order, std::int32_t columns,
                    const fit_settings* settings) {
  if (!r.at_data) return data_route::none;
  if (columns == 1 && !(settings->delta > 0.0)) return data_route::direct;
  return order == 0 ? data_route::copied : data_route::none;
}

// One page's fits at the queries, with the band's variance factors into
// `variance` (null: none), and the band's fits at the data when `route`
// says how.
void evaluate_page(const smooth_request& r, const prepared_data& p, fit_settings* settings,
                   const smooth_outputs* page, std::int32_t order, double* variance,
                   data_fits* band, data_route route) {
  const std::int32_t n = r.n;
  const query_set queries{r.xq, n, p.reuse ? p.sorted : nullptr};
  fit_outputs out = call_outputs(r, p.shared, page->value, n);
  out.derivative = order;
  out.lowered = page->lowered;
  out.unstable = page->unstable;
  out.variance = variance;
  if (route == data_route::none) return fit_queries(p.model, queries, out, settings);
  const std::int32_t* slot = band->slot;
  out.own = slot;
  if (route == data_route::direct) {
    out.smooth.value = band->value;
    out.smooth.variance = band->variance;
    out.smooth.leverage = band->leverage;
    fit_queries(p.model, queries, out, settings);
  } else {
    double* leverage = host_alloc_array<double>(n);
    out.leverage = leverage;
    fit_queries(p.model, queries, out, settings);
    const std::int32_t m = p.model->count;
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int32_t j = slot[i];
      if (j < 0) continue;
      for (std::int32_t c = 0; c < p.shared.columns; ++c)
        band->value[j + static_cast<std::int64_t>(c) * m] = page[c].value[i];
      band->leverage[j] = leverage[i];
      band->variance[j] = variance[i];
    }
    host_free(leverage);
  }
  band->made = true;
}

}  // namespace

void evaluate_pages(const smooth_request& r, const prepared_data& p, fit_settings* settings,
                    smooth_outputs* o, data_fits* band) {
  const std::int32_t columns = p.shared.columns;
  // The band's fits at the model's points when no page gives them: made
  // apart and silently, their trouble not being that of the call's result.
  fit_settings quiet = quiet_settings(*settings);
  fit_outputs apart{};
  if (band != nullptr) {
    apart = call_outputs(r, p.shared, band->value, p.points);
    apart.leverage = band->leverage;
    apart.variance = band->variance;
  }
  smooth_outputs* page = host_alloc_array<smooth_outputs>(columns);
  // Pages are fitted one after another, every column at once; each
  // column's lines wait so that they come out together.
  held_lines held;
  if (columns > 1 && r.pages > 1) settings->held = &held;
  for (std::int32_t k = 0; k < r.pages; ++k) {
    const std::int32_t order = r.pages > 1 ? r.orders[k] : r.derivative;
    for (std::int32_t c = 0; c < columns; ++c) page[c] = page_of(o[c], k);
    // The first page that can give the band's fits at the data gives them.
    const data_route route = band != nullptr && !band->made
                                 ? route_of(r, order, columns, settings)
                                 : data_route::none;
    // A band's variance factors wait in column 0's se, always given with it.
    double* variance = band != nullptr ? o[0].se + k * o[0].page : nullptr;
    evaluate_page(r, p, settings, page, order, variance, band, route);
  }
  settings->held = nullptr;
  write_held(held, columns);
  host_free(page);
  if (band != nullptr && !band->made) fit_own_points(p.model, &quiet, apart);
}
