// The local fit, L queries at a time (one per vector lane): each query's
// window (smoother/kernel/windows.h), the rank test and the power sums
// (smoother/kernel/group_sums.h), the solve (smoother/kernel/lane_fits.h) and, when
// asked, the influence behind the bands (smoother/kernel/influence.h) and the
// other columns (smoother/kernel/columns.h). In headers so that each lane width's
// run (smoother/kernel/fit_range.h) compiles it inside its own instruction set.
#ifndef QUIBRA_SMOOTHER_LOCAL_FIT_H
#define QUIBRA_SMOOTHER_LOCAL_FIT_H

#include <cstdint>

#include "smoother/kernel/columns.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/kernel/group_sums.h"
#include "smoother/kernel/influence.h"
#include "smoother/kernel/lane_fits.h"
#include "smoother/kernel/windows.h"

namespace local_fit {

// A query fitted alone, anchored: two lanes of it, on the 2-lane path.
// Compiled once, in the 2-lane source (smoother/kernel/fit_range_2.cpp); the
// wider sources only call it, and no longer compile the 2-lane fits again.
template <bool Influence>
[[gnu::noinline]] void fit_pair(const smooth_model* model, fit_scratch& s, const double pair[2],
                                double value[2], fit_trouble trouble[2], lane_extra* alone) {
  fit_group<2, Influence, true>(model, s, pair, 1, value, trouble, alone);
}
extern template void fit_pair<false>(const smooth_model*, fit_scratch&, const double*, double*,
                                     fit_trouble*, lane_extra*);
extern template void fit_pair<true>(const smooth_model*, fit_scratch&, const double*, double*,
                                    fit_trouble*, lane_extra*);
extern template double column_alone<false>(const smooth_model*, fit_scratch&, double, std::int32_t,
                                           const lane_extra*, fit_trouble*);
extern template double column_alone<true>(const smooth_model*, fit_scratch&, double, std::int32_t,
                                          const lane_extra*, fit_trouble*);

// Queries outside their windows' spans are fitted alone, anchored (two
// lanes of one query): such queries are few. The group's lanes marked in
// alone_lane are. Not inlined, like column_alone.
template <int L, bool Influence>
[[gnu::noinline]] void fit_alone(const smooth_model* model, fit_scratch& s, const double xq[L],
                                 const bool alone_lane[L], double out[L], fit_trouble t[L],
                                 lane_extra* extra) {
  for (int k = 0; k < L; ++k) {
    if (!alone_lane[k]) continue;
    const double pair[2] = {xq[k], xq[k]};
    double value[2] = {};
    fit_trouble trouble[2];
    lane_extra alone;
    alone.lower = extra->lower;
    alone.second = extra->second;
    alone.derivative = extra->derivative;
    alone.smooth = extra->smooth;
    alone.own[0] = alone.own[1] = extra->own[k];
    fit_pair<Influence>(model, s, pair, value, trouble, &alone);
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

// A group some of whose queries lie outside their windows' spans: those
// are fitted alone, and the others as a group of their own, moved to the
// front lanes (their mates repeating the first), so that each query's
// value is the one it gets among any mates, whatever the lane width.
template <int L>
struct lane_split {
  bool active = false;
  // Set by keep_inside:
  int count;            // the lanes kept in the group
  int lane[L];          // kept lane j's place in the caller's group
  bool alone[L];        // the caller's lanes fitted alone
  double q[L];          // the kept lanes' queries
  std::int32_t own[L];  // the caller's own points, kept for the lanes alone
};

// Moves the group's lanes inside their spans to the front of g and of
// extra's own points; the others are marked for fit_alone. This and
// merge_split are not inlined, as fit_alone is not: such groups are few,
// and inside the wide-register code (flattened) they made it too large
// for the sanitizers' builds.
template <int L>
[[gnu::noinline]] void keep_inside(group_windows<L>& g, const double xq[L], int used,
                                   lane_extra* extra, lane_split<L>& split) {
  split.active = true;
  split.count = 0;
  for (int k = 0; k < L; ++k) {
    split.own[k] = extra->own[k];
    split.alone[k] = k < used && !g.at_zero[k];
    split.lane[k] = 0;
    if (k < used && g.at_zero[k]) split.lane[split.count++] = k;
  }
  // Kept lane j comes from lane[j] >= j, not yet written over; the mates
  // after them repeat the first, by then in lane 0.
  for (int j = 0; j < L; ++j) {
    const int from = split.lane[j < split.count ? j : 0];
    split.q[j] = xq[from];
    extra->own[j] = split.own[from];
    const int k = j < split.count ? from : 0;
    g.xs[j] = g.xs[k];
    g.ys[j] = g.ys[k];
    g.rs[j] = g.rs[k];
    g.vs[j] = g.vs[k];
    g.q[j] = g.q[k];
    g.h[j] = g.h[k];
    g.z[j] = g.z[k];
    g.sc[j] = g.sc[k];
    g.cq[j] = g.cq[k];
    g.at_zero[j] = g.at_zero[k];
    g.start[j] = g.start[k];
  }
  g.outside = false;
}

// The kept lanes' results back to their places (each lane moves up, so
// from the last down), then the lanes alone fitted.
template <int L, bool Influence>
[[gnu::noinline]] void merge_split(const smooth_model* model, fit_scratch& s, const double xq[L],
                                   const lane_split<L>& split, double out[L], fit_trouble t[L],
                                   lane_extra* extra) {
  for (int j = split.count - 1; j >= 0; --j) {
    const int k = split.lane[j];
    out[k] = out[j];
    t[k] = t[j];
    extra->lowered[k] = extra->lowered[j];
    extra->variance[k] = extra->variance[j];
    extra->leverage[k] = extra->leverage[j];
    extra->smooth_value[k] = extra->smooth_value[j];
    extra->smooth_variance[k] = extra->smooth_variance[j];
    extra->smooth_leverage[k] = extra->smooth_leverage[j];
    for (std::int32_t c = 1; c < extra->columns; ++c) {
      s.more[(c - 1) * L + k] = s.more[(c - 1) * L + j];
      s.more_trouble[(c - 1) * L + k] = s.more_trouble[(c - 1) * L + j];
    }
  }
  for (int k = 0; k < L; ++k) extra->own[k] = split.own[k];
  fit_alone<L, Influence>(model, s, xq, split.alone, out, t, extra);
}

// Fits L queries at once, their troubles into t[0..L-1]; only the first
// `used` lanes' results are wanted (the others repeat a query and are
// neither solved nor noted). `extra` says how, and receives the rest.
template <int L, bool Influence, bool Anchored>
inline void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
                      double out[L], fit_trouble t[L], lane_extra* extra) {
  for (int k = 0; k < L; ++k) extra->lowered[k] = false;
  refresh_error_limit(s.limit, model->y_scale, model->window);
  group_windows<L> g = place_group<L>(model, xq, used, s.window_hint);
  lane_split<L> split;
  const double* q = xq;
  if constexpr (!Anchored) {
    if (g.outside) {
      keep_inside<L>(g, xq, used, extra, split);
      used = split.count;
      q = split.q;
    }
  }
  if (used > 0) {
    group_rank<L> rank;
    const bool record = (Influence && extra->second) || extra->columns > 1;
    rank = record ? group_sums<L, Anchored, true>(model, s, g, used, extra->lower)
                  : group_sums<L, Anchored, false>(model, s, g, used, extra->lower);
    std::int32_t ncoef[L];
    bool edge[L];
    lane_code<L>::run([&] {
      solve_group<L, Influence, Anchored>(model, s, g, rank, used, out, t, extra, ncoef, edge);
    });
    if constexpr (Influence) {
      lane_code<L>::run(
          [&] { group_influence<L>(model, s, g, rank, used, t, ncoef, edge, extra); });
    }
    if constexpr (!Anchored) {
      if (extra->columns > 1)
        lane_code<L>::run([&] { share_columns<L>(model, s, g, rank, q, used, t, extra); });
    }
  }
  if constexpr (!Anchored) {
    if (split.active) merge_split<L, Influence>(model, s, xq, split, out, t, extra);
  }
}

}  // namespace local_fit

#endif
