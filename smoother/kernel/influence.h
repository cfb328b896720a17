// What each fitted value owes to the ordinates, for the bands: the
// variance factor sum l_j^2 / w_j and the leverage of the query's own
// point, from the row of the inverse that gave the value.
#ifndef QUIBRA_SMOOTHER_INFLUENCE_H
#define QUIBRA_SMOOTHER_INFLUENCE_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "numeric/lanes.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"
#include "smoother/kernel/derivative.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/kernel/group_sums.h"
#include "smoother/kernel/windows.h"

namespace local_fit {

// The variances' sums of L windows from what the sums recorded:
// m[k][j] = sum K T c^j for j = 0 .. 2 nc - 2, K = T w the point's weight in
// the fit, T its tricube weight and c its coordinate, each sum in ascending
// point order from +0.0. NC > 0 fixes nc at compile time.
template <int L, int NC, bool Robust>
void second_sums(std::int32_t nc, std::int32_t npts, const double* const rs[L],
                 const double* recorded, double* const m[L]) {
  using vd = typename lanes_of<L>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = accumulators(NC, 2);
  vd acc[SLOTS] = {};
  for (std::int32_t i = 0; i < npts; ++i) {
    vd t;
    vd c;
    std::memcpy(&t, recorded + static_cast<std::int64_t>(i) * (2 * L), sizeof t);
    std::memcpy(&c, recorded + static_cast<std::int64_t>(i) * (2 * L) + L, sizeof c);
    vd k = t;
    if constexpr (Robust) k = t * gather<vd>(rs, i);
    vd p = k * t;
#pragma GCC unroll 8
    for (std::int32_t j = 0; j < 2 * n - 1; ++j) {
      acc[j] += p;
      p = p * c;
    }
  }
  for (std::int32_t j = 0; j < 2 * n - 1; ++j)
    for (int l = 0; l < L; ++l) m[l][j] = acc[j][l];
}

template <int L, bool Robust>
void second_sums_of(std::int32_t nc, std::int32_t npts, const double* const rs[L],
                    const double* recorded, double* const m[L]) {
  switch (nc) {
    case 1: second_sums<L, 1, Robust>(nc, npts, rs, recorded, m); break;
    case 2: second_sums<L, 2, Robust>(nc, npts, rs, recorded, m); break;
    case 3: second_sums<L, 3, Robust>(nc, npts, rs, recorded, m); break;
    case 4: second_sums<L, 4, Robust>(nc, npts, rs, recorded, m); break;
    default: second_sums<L, 0, Robust>(nc, npts, rs, recorded, m); break;
  }
}

// sum l_j^2 / w_j of a fit whose inverse has the first row `a`: the value
// is a . b, so l_j = K_j a . v(c_j) and the sum is a' M2 a, M2 the Hankel
// matrix of the second sums `m2`. Summed row by row.
inline double variance_of(const double* a, const double* m2, std::int32_t n) {
  double v = 0.0;
  for (std::int32_t r = 0; r < n; ++r) {
    double t = 0.0;
    for (std::int32_t c = 0; c < n; ++c) t += m2[r + c] * a[c];
    v += a[r] * t;
  }
  return v;
}

// Whether a variance factor a' M2 a from moment sums of weight `weight`
// (0: direct sums) may be off by more than MOMENT_TRUSTED_VARIANCE of
// itself. The sums of T^2 carry up to 8 times the error of those of T
// (numeric/value_error.h), their polynomial's coefficients being that much
// larger, and sum k moves a' M2 a by its error times sum_{i+j=k} a_i a_j.
inline bool variance_doubtful(double weight, const double* a, std::int32_t n, double variance) {
  if (!(weight > 0.0)) return false;
  double reach = 0.0;
  for (std::int32_t k = 0; k <= 2 * n - 2; ++k) {
    double c = 0.0;
    for (std::int32_t i = k < n ? 0 : k - n + 1; i < n && i <= k; ++i) c += a[i] * a[k - i];
    reach += std::fabs(c);
  }
  return !(8.0 * MOMENT_ERROR * weight * reach <= MOMENT_TRUSTED_VARIANCE * variance);
}

// The variance factors and leverages of the wanted lanes that were fitted,
// NaN for the others; a lane whose variance factor came from doubtful
// moment sums is marked for a recheck.
template <int L>
inline void group_influence(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                            const group_rank<L>& rank, int used, fit_trouble t[L],
                            const std::int32_t ncoef[L], const bool edge[L], lane_extra* extra) {
  const double none = std::numeric_limits<double>::quiet_NaN();
  for (int k = 0; k < used; ++k)
    extra->variance[k] = extra->leverage[k] = extra->smooth_variance[k] =
        extra->smooth_leverage[k] = none;
  if (!rank.any && !extra->lower) return;
  const bool robust = model->weights != nullptr;
  const std::int32_t w = model->window;
  if (rank.any && extra->second && !rank.second_made) {
    if (robust) second_sums_of<L, true>(s.ncoef, w, g.vs, s.recorded, s.second);
    if (!robust) second_sums_of<L, false>(s.ncoef, w, g.vs, s.recorded, s.second);
  }
  // The variance factor and leverage of lane k's value, whose row is a.
  const auto value_influence = [&](int k, const double* a, std::int32_t n, double& variance,
                                   double& leverage) {
    // An edge fit weighs each point by its model weight alone, so
    // l_j = w_j a . v(c_j) and the variance factor a' M a is a[0].
    if (extra->second) {
      variance = edge[k] ? a[0] : variance_of(a, s.second[k], n);
      if (!edge[k] && variance_doubtful(s.moment_vweight[k], a, n, variance)) t[k].recheck = true;
    }
    // The own point weighs T = 1 (it lies at the query) times its weight,
    // if the window holds it at all: l = w a . v(cq), which inside the
    // window's span (cq = 0) is w a[0].
    const bool at_query = g.h[k] == 0.0;
    const std::int32_t o = extra->own[k];
    const tie_range r =
        edge[k] ? tied_range(model, g.start[k]) : tie_range{g.start[k], g.start[k] + model->window};
    const bool inside = o >= r.first && o < r.end && (g.h[k] > 0.0 || at_query);
    const double own_w = robust && inside ? model->weights[o] : 1.0;
    double av = a[0];
    double power = g.cq[k];
    for (std::int32_t j = 1; j < n && !g.at_zero[k]; ++j) {
      av += power * a[j];
      power *= g.cq[k];
    }
    leverage = inside ? own_w * av : 0.0;
  };
  for (int k = 0; k < used; ++k) {
    if (t[k].singular) continue;
    const double* a = s.rows[k];
    const std::int32_t n = ncoef[k];
    const std::int32_t d = extra->derivative;
    if (d > 0) {
      // The value's beside it, for the sigma of a band at the data.
      if (extra->smooth)
        value_influence(k, s.value_rows[k], n, extra->smooth_variance[k],
                        extra->smooth_leverage[k]);
      // a = u' M^-1 for the Taylor weights u, so an edge fit's a' M a is a . u.
      if (extra->second) {
        double v = 0.0;
        if (edge[k]) {
          double u[MAX_NCOEF];
          taylor_weights(d, n, g.at_zero[k], g.cq[k], u);
          for (std::int32_t j = 0; j < n; ++j) v += a[j] * u[j];
        } else {
          v = variance_of(a, s.second[k], n);
          if (variance_doubtful(s.moment_vweight[k], a, n, v)) t[k].recheck = true;
        }
        extra->variance[k] = n > d ? derivative_variance(v, d, g.sc[k]) : 0.0;
      }
      continue;  // no leverage of its own: a derivative leaves no residual
    }
    value_influence(k, a, n, extra->variance[k], extra->leverage[k]);
  }
}

}  // namespace local_fit

#endif
