// Several columns of ordinates on the same points: a lane fitted in full
// shares its inverse, and only each column's right-hand side is summed;
// any other lane is fitted again per column, as that column's own call
// would fit it.
#ifndef QUIBRA_SMOOTHER_COLUMNS_H
#define QUIBRA_SMOOTHER_COLUMNS_H

#include <cstdint>
#include <cstring>

#include "numeric/lane_solve.h"
#include "numeric/lanes.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"
#include "smoother/kernel/derivative.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/kernel/group_sums.h"
#include "smoother/kernel/windows.h"

namespace local_fit {

// A lane's powers g_j = w c^j (j < nc) at each point of its window, from
// its recorded T and c, with w = T r as the sums form it and each power the
// running product normal_sums forms: summed against another column's
// ordinates they give that column's right-hand side to the bit.
template <int L>
inline void lane_powers(int k, std::int32_t nc, std::int32_t npts, const double* r,
                        const double* recorded, double* g) {
  for (std::int32_t i = 0; i < npts; ++i) {
    const double* at = recorded + static_cast<std::int64_t>(i) * (2 * L);
    const double c = at[L + k];
    double w = at[k];
    if (r != nullptr) w = w * r[i];
    double* gi = g + static_cast<std::int64_t>(i) * nc;
    gi[0] = w;
    double power = c * w;
    for (std::int32_t j = 1; j < nc; ++j) {
      gi[j] = power;
      power = power * c;
    }
  }
}

// The right-hand sides b[j] = sum y g_j of COLUMN_BLOCK columns at once,
// one per vector lane: yb holds the window's ordinates point after point,
// COLUMN_BLOCK to a point. Each column adds its terms in point order from
// +0.0, as the sums do. NC > 0 fixes nc at compile time. With Centred,
// each column's ordinates less its centre (lane_centres), as that
// column's own sums take them.
template <int NC, bool Centred>
inline void block_sums(std::int32_t nc, std::int32_t npts, const double* g, const double* yb,
                       const double* centre, double b[MAX_NCOEF][COLUMN_BLOCK]) {
  using vc = typename lanes_of<COLUMN_BLOCK>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = NC > 0 ? NC : MAX_NCOEF;
  vc acc[SLOTS] = {};
  vc c = {};
  if constexpr (Centred) std::memcpy(&c, centre, sizeof c);
  for (std::int32_t i = 0; i < npts; ++i) {
    vc y;
    std::memcpy(&y, yb + static_cast<std::int64_t>(i) * COLUMN_BLOCK, sizeof y);
    if constexpr (Centred) y = y - c;
    const double* gi = g + static_cast<std::int64_t>(i) * n;
#pragma GCC unroll 8
    for (std::int32_t j = 0; j < n; ++j) acc[j] += y * splat<vc>(gi[j]);
  }
  for (std::int32_t j = 0; j < n; ++j) std::memcpy(b[j], &acc[j], sizeof acc[j]);
}

template <bool Centred>
inline void block_sums_at(std::int32_t nc, std::int32_t npts, const double* g, const double* yb,
                          const double* centre, double b[MAX_NCOEF][COLUMN_BLOCK]) {
  switch (nc) {
    case 1: block_sums<1, Centred>(nc, npts, g, yb, centre, b); break;
    case 2: block_sums<2, Centred>(nc, npts, g, yb, centre, b); break;
    case 3: block_sums<3, Centred>(nc, npts, g, yb, centre, b); break;
    case 4: block_sums<4, Centred>(nc, npts, g, yb, centre, b); break;
    default: block_sums<0, Centred>(nc, npts, g, yb, centre, b); break;
  }
}

// centre: null, or each column's centre (COLUMN_BLOCK of them).
inline void block_sums_of(std::int32_t nc, std::int32_t npts, const double* g, const double* yb,
                          const double* centre, double b[MAX_NCOEF][COLUMN_BLOCK]) {
  if (centre != nullptr) {
    block_sums_at<true>(nc, npts, g, yb, centre, b);
  } else {
    block_sums_at<false>(nc, npts, g, yb, centre, b);
  }
}

template <int L, bool Influence, bool Anchored = false>
inline void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
                      double out[L], fit_trouble t[L], lane_extra* extra);

// Not inlined: the few fits that take it need no wide registers, and the
// wide-register code (flattened) stays a third of the size.
template <bool Anchored>
[[gnu::noinline]] double column_alone(const smooth_model* model, fit_scratch& s, double q,
                                      std::int32_t c, const lane_extra* extra, fit_trouble* t);

// The other columns' values of a group whose first column was just fitted:
// a lane fitted in full inside its window's span shares its row of the
// inverse, and only its right-hand sides are summed, column block by
// column block; any other fitted lane (lowered, or anchored outside its
// span) is fitted again per column as it is alone, after the shared ones;
// a failed one fails in every column.
template <int L>
inline void share_columns(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                          const group_rank<L>& rank, const double xq[L], int used,
                          const fit_trouble t[L], const lane_extra* extra) {
  const std::int32_t n = s.ncoef;
  const std::int32_t w = model->window;
  const std::int32_t more = extra->columns - 1;
  const auto value = [&](std::int32_t c, int k) -> double& { return s.more[(c - 1) * L + k]; };
  const auto trouble = [&](std::int32_t c, int k) -> fit_trouble& {
    return s.more_trouble[(c - 1) * L + k];
  };
  bool shared[L];
  for (int k = 0; k < used; ++k) {
    shared[k] = rank.distinct[k] >= n && !t[k].singular && g.at_zero[k];
    if (!shared[k]) continue;
    lane_powers<L>(k, n, w, g.rs[k], s.recorded, s.powers);
    for (std::int32_t first = 0; first < more; first += COLUMN_BLOCK) {
      const double* yb = extra->blocks + (static_cast<std::int64_t>(first) * model->count +
                                          static_cast<std::int64_t>(g.start[k]) * COLUMN_BLOCK);
      double centre[COLUMN_BLOCK];
      for (int l = 0; l < COLUMN_BLOCK; ++l)
        centre[l] = as_centre(yb[static_cast<std::int64_t>(centre_point(w)) * COLUMN_BLOCK + l]);
      double b[MAX_NCOEF][COLUMN_BLOCK];
      block_sums_of(n, w, s.powers, yb, s.centred ? centre : nullptr, b);
      for (int l = 0; l < COLUMN_BLOCK && first + l < more; ++l) {
        double bl[MAX_NCOEF] = {};
        for (std::int32_t j = 0; j < n; ++j) bl[j] = b[j][l];
        const std::int32_t c = first + l + 1;
        value(c, k) = lane_solve::first_coefficient<double>(s.rows[k], bl, n);
        if (extra->derivative > 0)
          value(c, k) = derivative_from(value(c, k), extra->derivative, g.sc[k]);
        else if (s.centred)
          value(c, k) = value(c, k) + centre[l];
        // The solve is shared, but the value's rounding depends on the
        // column's own right-hand side and magnitude.
        fit_trouble& tc = trouble(c, k);
        tc = t[k];
        tc.inaccurate = false;
        judge_at_zero(tc, s.inverses[k], s.sums[k], bl, n, for_scale(s.limit, extra->scales[c - 1]),
                      extra->derivative);
      }
    }
  }
  // The scratch is the shared lanes' no longer: refit the others.
  for (int k = 0; k < used; ++k) {
    if (shared[k]) continue;
    for (std::int32_t c = 1; c <= more; ++c) {
      trouble(c, k) = t[k];
      value(c, k) = t[k].singular ? FIT_FAILED
                                  : column_alone<false>(model, s, xq[k], c, extra, &trouble(c, k));
    }
  }
}

// The fit at q of column c (> 0) of several columns of ordinates, alone:
// the model with that column for its ordinates, fitted as the call with
// that column alone fits it.
template <bool Anchored>
[[gnu::noinline]] double column_alone(const smooth_model* model, fit_scratch& s, double q,
                                      std::int32_t c, const lane_extra* extra, fit_trouble* t) {
  smooth_model column = *model;
  column.y = const_cast<double*>(extra->y_more[c - 1]);
  column.y_scale = extra->scales[c - 1];
  const double pair[2] = {q, q};
  double value[2] = {};
  fit_trouble trouble[2];
  lane_extra alone;
  alone.lower = extra->lower;
  alone.derivative = extra->derivative;
  fit_group<2, false, Anchored>(&column, s, pair, 1, value, trouble, &alone);
  *t = trouble[0];
  return value[0];
}

}  // namespace local_fit

#endif
