#include "smoother/stages/intervals.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "numeric/select.h"
#include "smoother/fits/queries.h"

namespace {

// The median absolute deviation of Gaussian noise is this fraction of its
// standard deviation's reciprocal: 1 / Phi^-1(3/4).
constexpr double MAD_TO_SD = 1.482602218505602;

}  // namespace

smoother_summary summarise(const smooth_model* model, const double* value, const double* leverage,
                           const double* variance) {
  smoother_summary s;
  for (std::int32_t i = 0; i < model->count; ++i) {
    if (value[i] == FIT_FAILED) continue;
    const double w = model->weights != nullptr ? model->weights[i] : 1.0;
    const double r = model->y[i] - value[i];
    s.points += 1;
    s.rss += w * (r * r);
    s.enp += leverage[i];
    if (variance != nullptr) s.spread += w * variance[i];
  }
  s.dof = (static_cast<double>(s.points) - 2.0 * s.enp) + s.spread;
  s.sigma = s.dof > 0.0 ? std::sqrt(s.rss / s.dof) : std::numeric_limits<double>::quiet_NaN();
  return s;
}

double standardised_residual(double r, double prior, double leverage, double variance) {
  const double spread = (1.0 - 2.0 * leverage) + prior * variance;
  return spread > 0.0 ? std::fabs(r * std::sqrt(prior)) / std::sqrt(spread) : 0.0;
}

double robust_sigma(double* z, std::int32_t m) {
  if (m <= 0) return std::numeric_limits<double>::quiet_NaN();
  const double upper = z[select_rank_double(z, m / 2, m)];
  const double lower = m % 2 != 0 ? upper : z[select_rank_double(z, m / 2 - 1, m)];
  return MAD_TO_SD * ((lower + upper) * 0.5);
}

smoother_summary summarise_robust(const smooth_model* model, const double* prior,
                                  const double* value, const double* leverage,
                                  const double* variance) {
  smoother_summary s;
  double* z = host_alloc_array<double>(model->count);
  for (std::int32_t i = 0; i < model->count; ++i) {
    if (value[i] == FIT_FAILED) continue;
    const double r = model->y[i] - value[i];
    z[s.points++] = standardised_residual(r, prior[i], leverage[i], variance[i]);
    s.rss += prior[i] * (r * r);
    s.enp += leverage[i];
    s.spread += prior[i] * variance[i];
  }
  s.dof = (static_cast<double>(s.points) - 2.0 * s.enp) + s.spread;
  s.sigma = robust_sigma(z, s.points);
  host_free(z);
  return s;
}
