#include "smoother/stages/band.h"

#include <cmath>
#include <limits>

#include "host/services.h"
#include "host/storage.h"

namespace {

// After robust passes the model's weights are the prior weights times the
// robustness weights, which are no precisions of the ordinates: the band
// takes each ordinate's variance as sigma^2 / p_j, p_j its prior weight,
// through the variances' weights w_j^2 / p_j. Returns the model points'
// prior weights (1 without 'Weights'), from the data points they came
// from; the model's variance weights are set, in storage of the call.
double* robust_band_weights(const smooth_request& r, const prepared_data& p,
                            const std::int32_t* slot) {
  smooth_model* model = p.model;
  const std::int32_t m = model->count;
  double* prior = host_alloc_array<double>(m);
  for (std::int32_t i = 0; i < r.count; ++i)
    if (slot[i] >= 0) prior[slot[i]] = r.choice.weights != nullptr ? r.choice.weights[i] : 1.0;
  model->variance_weights = host_alloc_array<double>(m);
  for (std::int32_t j = 0; j < m; ++j)
    model->variance_weights[j] = (model->weights[j] * model->weights[j]) / prior[j];
  return prior;
}

}  // namespace

data_fits begin_band(const smooth_request& r, const prepared_data& p,
                     const robust_report& robust) {
  data_fits fits;
  const std::int32_t m = p.model->count;
  const std::int64_t all = static_cast<std::int64_t>(m) * p.shared.columns;
  fits.value = host_alloc_array<double>(all);
  fits.leverage = host_alloc_array<double>(m);
  fits.variance = host_alloc_array<double>(m);
  for (std::int64_t j = 0; j < all; ++j) fits.value[j] = FIT_FAILED;
  if (robust.replaced || r.at_data) {
    fits.slot = host_alloc_array<std::int32_t>(r.count);
    locate_points(p.model, r.count, r.x, r.y, p.sorted, p.points, fits.slot);
  }
  if (robust.replaced) fits.prior = robust_band_weights(r, p, fits.slot);
  return fits;
}

void finish_band(const smooth_request& r, const prepared_data& p, data_fits* fits,
                 smooth_outputs* o) {
  const std::int32_t m = p.model->count;
  const std::int32_t columns = p.shared.columns;
  for (std::int32_t c = 0; c < columns; ++c) {
    smooth_model column = *p.model;
    if (c > 0) column.y = p.shared.y_more[c - 1];
    const double* value = fits->value + static_cast<std::int64_t>(c) * m;
    o[c].summary = fits->prior == nullptr
                       ? summarise(&column, value, fits->leverage, fits->variance)
                       : summarise_robust(&column, fits->prior, value, fits->leverage,
                                          fits->variance);
  }
  // Column 0's se holds the variance factors of every column, page by
  // page: it is filled last. A band's arrays are always given.
  for (std::int32_t c = columns - 1; c >= 0; --c) {
    const double t = t_quantile(r.level, o[c].summary.dof);
    for (std::int32_t page = 0; page < r.pages; ++page) {
      const double* variance = o[0].se + page * o[0].page;
      const std::int64_t at = page * o[c].page;
      fill_band(r.n, o[c].value + at, variance, o[c].summary.sigma, t,
                r.band == band_kind::prediction, o[c].se + at, o[c].lower + at, o[c].upper + at);
    }
  }
  host_free(fits->value);
  host_free(fits->leverage);
  host_free(fits->variance);
  host_free(fits->prior);
  host_free(fits->slot);
  *fits = data_fits{};
  host_free(p.model->variance_weights);
  p.model->variance_weights = nullptr;
}

void locate_points(const smooth_model* model, std::int32_t count, const double* xs,
                   const double* ys, const double* const* sorted, std::int32_t sorted_count,
                   std::int32_t* slot) {
  for (std::int32_t i = 0; i < count; ++i) slot[i] = -1;
  std::int32_t s = 0;
  for (std::int32_t k = 0; k < sorted_count && s < model->count; ++k) {
    const std::int32_t i = static_cast<std::int32_t>(sorted[k] - xs);
    // Bits, not values: NaN ordinates must match themselves.
    if (same_bits(xs[i], model->x[s]) && same_bits(ys[i], model->y[s])) slot[i] = s++;
  }
}

double t_quantile(double level, double dof) {
  if (!(level > 0.0 && level < 1.0 && dof > 0.0)) return std::numeric_limits<double>::quiet_NaN();
  // P(|T| <= t) = I_y(1/2, dof/2) with y = t^2 / (dof + t^2). This form
  // keeps y small, and so accurate, for the large dof of most smooths.
  const double y = host_betaincinv(level, 0.5, dof * 0.5);
  if (!(y >= 0.0 && y < 1.0)) return std::numeric_limits<double>::quiet_NaN();
  return std::sqrt(dof * y / (1.0 - y));
}

void fill_band(std::int32_t n, const double* value, const double* variance, double sigma, double t,
               bool prediction, double* se, double* lower, double* upper) {
  for (std::int32_t i = 0; i < n; ++i) {
    const double v = prediction ? variance[i] + 1.0 : variance[i];
    // A failed fit's variance is NaN, and so is everything of its band.
    const double e = sigma * std::sqrt(v);
    se[i] = e;
    lower[i] = value[i] - t * e;
    upper[i] = value[i] + t * e;
  }
}
