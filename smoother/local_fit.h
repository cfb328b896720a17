// The local fit, L queries at a time (one per vector lane): each query's
// window (smoother/windows.h), the rank test and the power sums
// (smoother/group_sums.h), the solve (smoother/lane_fits.h) and, when
// asked, the influence behind the bands (smoother/influence.h) and the
// other columns (smoother/columns.h). In headers so that each lane width's
// run (smoother/fit_range.h) compiles it inside its own instruction set.
#ifndef QUIBRA_SMOOTHER_LOCAL_FIT_H
#define QUIBRA_SMOOTHER_LOCAL_FIT_H

#include <cstdint>

#include "smoother/columns.h"
#include "smoother/fit_scratch.h"
#include "smoother/group_sums.h"
#include "smoother/influence.h"
#include "smoother/lane_fits.h"
#include "smoother/windows.h"

namespace local_fit {

// A group with a query outside its window's span fits each wanted query
// alone, anchored (two lanes of one query): such queries are few, and the
// others keep their bits, since inside its span a query's anchored
// coordinate is its own. Not inlined, like column_alone.
template <int L, bool Influence>
[[gnu::noinline]] void fit_alone(const smooth_model* model, fit_scratch& s, const double xq[L],
                                 int used, double out[L], fit_trouble t[L], lane_extra* extra) {
  for (int k = 0; k < used; ++k) {
    const double pair[2] = {xq[k], xq[k]};
    double value[2] = {};
    fit_trouble trouble[2];
    lane_extra alone;
    alone.lower = extra->lower;
    alone.second = extra->second;
    alone.derivative = extra->derivative;
    alone.smooth = extra->smooth;
    alone.own[0] = alone.own[1] = extra->own[k];
    fit_group<2, Influence, true>(model, s, pair, 1, value, trouble, &alone);
    out[k] = value[0];
    t[k] = trouble[0];
    extra->lowered[k] = alone.lowered[0];
    extra->variance[k] = alone.variance[0];
    extra->leverage[k] = alone.leverage[0];
    extra->smooth_value[k] = alone.smooth_value[0];
    extra->smooth_variance[k] = alone.smooth_variance[0];
    extra->smooth_leverage[k] = alone.smooth_leverage[0];
    for (std::int32_t c = 1; c < extra->columns; ++c)
      s.more[(c - 1) * L + k] =
          column_alone<true>(model, s, xq[k], c, extra, &s.more_trouble[(c - 1) * L + k]);
  }
}

// Fits L queries at once, their troubles into t[0..L-1]; only the first
// `used` lanes' results are wanted (the others repeat a query and are
// neither solved nor noted). `extra` says how, and receives the rest.
template <int L, bool Influence, bool Anchored>
inline void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
                      double out[L], fit_trouble t[L], lane_extra* extra) {
  for (int k = 0; k < L; ++k) extra->lowered[k] = false;
  refresh_error_limit(s.limit, model->y_scale, model->window);
  const group_windows<L> g = place_group<L>(model, xq, used, s.window_hint);
  if constexpr (!Anchored) {
    if (g.outside) {
      fit_alone<L, Influence>(model, s, xq, used, out, t, extra);
      return;
    }
  }
  group_rank<L> rank;
  const bool record = (Influence && extra->second) || extra->columns > 1;
  rank = record ? group_sums<L, Anchored, true>(model, s, g, used, extra->lower)
                : group_sums<L, Anchored, false>(model, s, g, used, extra->lower);
  std::int32_t ncoef[L];
  bool edge[L];
  solve_group<L, Influence, Anchored>(model, s, g, rank, used, out, t, extra, ncoef, edge);
  if constexpr (Influence) group_influence<L>(model, s, g, rank, used, t, ncoef, edge, extra);
  if constexpr (!Anchored) {
    if (extra->columns > 1) share_columns<L>(model, s, g, rank, xq, used, t, extra);
  }
}

}  // namespace local_fit

#endif
