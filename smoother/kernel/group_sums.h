// The rank test and the power sums of a group of L windows, by the
// tricube weights of smoother/kernel/tricube.h and the sums of
// numeric/normal_sums.h.
#ifndef QUIBRA_SMOOTHER_GROUP_SUMS_H
#define QUIBRA_SMOOTHER_GROUP_SUMS_H

#include <cmath>
#include <cstdint>
#include <type_traits>

#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "smoother/moments/fast_sums.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/kernel/tricube.h"
#include "smoother/kernel/windows.h"

namespace local_fit {

// How the wanted lanes of a group stand after the rank test: distinct[k]
// weighted abscissae in lane k's window (at least s.ncoef when it can
// determine the polynomial), whether any and whether all of them can.
template <int L>
struct group_rank {
  std::int32_t distinct[L] = {};
  bool any = false;          // some lane needs the sums
  bool all = false;          // every lane determines the full polynomial
  bool second_made = false;  // the variances' sums are made already (fast sums)
};

// A group's windows summed as one run of points, each read once for all
// lanes (no gathers), when that costs little: the run is the union of the
// windows, and a lane gets weight +0 at the points beyond its own window,
// which leaves its sums' bits as they are if no term can be a NaN there
// (fit_scratch::shared_ok: finite ordinates and weights, coordinates that
// cannot overflow; every bandwidth above 0). Queries near each other (in
// ascending order) have windows that nearly coincide; far apart, the run
// would be long, and the lanes are summed apart.
constexpr std::int32_t SHARED_RUN_SLACK = 2;  // the run may be this many windows long

template <int L>
bool share_run(const smooth_model* model, const fit_scratch& s, const group_windows<L>& g,
               shared_pieces<L>& pieces, std::int32_t& first) {
  if (!s.shared_ok) return false;
  const std::int32_t q = model->window;
  std::int32_t lo = g.start[0];
  std::int32_t hi = g.start[0];
  for (int k = 0; k < L; ++k) {
    if (!(g.h[k] > 0.0)) return false;
    lo = g.start[k] < lo ? g.start[k] : lo;
    hi = g.start[k] > hi ? g.start[k] : hi;
  }
  if (static_cast<std::int64_t>(hi - lo) + q > static_cast<std::int64_t>(SHARED_RUN_SLACK) * q)
    return false;
  using vi = typename lanes_of<L>::i;
  first = lo;
  pieces.count = 0;
  const auto add = [&](std::int32_t from, std::int32_t to, const vi& mask, bool all) {
    if (from >= to) return;
    const int p = pieces.count++;
    pieces.cut[p] = from - first;
    pieces.cut[p + 1] = to - first;
    pieces.mask[p] = mask;
    pieces.all[p] = all;
  };
  bool ascending = true;
  for (int k = 1; k < L; ++k) ascending = ascending && g.start[k - 1] <= g.start[k];
  if (ascending) {
    // Queries in ascending order (the usual case): lanes join one by one
    // at their starts, all count from the last start to the first end
    // (the run is at most two windows long), and they leave one by one.
    vi mask = {};
    for (int k = 0; k + 1 < L; ++k) {
      mask[k] = -1;
      add(g.start[k], g.start[k + 1], mask, false);
    }
    mask[L - 1] = -1;
    add(g.start[L - 1], g.start[0] + q, mask, true);
    for (int k = 0; k + 1 < L; ++k) {
      mask[k] = 0;
      add(g.start[k] + q, g.start[k + 1] + q, mask, false);
    }
    return true;
  }
  // Otherwise the pieces between the windows' sorted starts and ends.
  std::int32_t cut[2 * L] = {};
  int cuts = 0;
  for (int k = 0; k < L; ++k) {
    for (const std::int32_t c : {g.start[k], g.start[k] + q}) {
      int at = cuts;
      for (int j = 0; j < cuts; ++j)
        if (cut[j] >= c) at = j < at ? j : at;
      if (at < cuts && cut[at] == c) continue;
      for (int j = cuts; j > at; --j) cut[j] = cut[j - 1];
      cut[at] = c;
      ++cuts;
    }
  }
  for (int j = 0; j + 1 < cuts; ++j) {
    vi mask = {};
    bool all = true;
    for (int k = 0; k < L; ++k) {
      const bool in = g.start[k] <= cut[j] && cut[j + 1] <= g.start[k] + q;
      mask[k] = in ? -1 : 0;
      all = all && in;
    }
    add(cut[j], cut[j + 1], mask, all);
  }
  return true;
}

// A derivative's sums take each lane's ordinates less the one at the
// middle of its window (0 if that one is not finite): the right-hand
// side's terms are then of the size of y's change across the window, not
// of y, and a narrow window's higher coefficients keep their digits where
// y is large. Only the constant coefficient moves. The centre depends on
// the window alone, so the bits do not depend on the lane's mates, nor on
// where the data begin.
inline std::int32_t centre_point(std::int32_t q) { return q / 2; }
inline double as_centre(double y) { return std::isfinite(y) ? y : 0.0; }

template <int L>
inline typename lanes_of<L>::d lane_centres(const group_windows<L>& g, std::int32_t q) {
  typename lanes_of<L>::d c;
  for (int k = 0; k < L; ++k) c[k] = as_centre(g.ys[k][centre_point(q)]);
  return c;
}

// The rank test and then, if any wanted lane can be fitted (with `lower`,
// at some degree), the power sums of the group's lanes, by the coordinate
// the group is fitted in: from the moment tree when the run has one
// ('Method' 'fast'), else point by point, over the union of the windows
// where it is shared. With Record, the variances' sums are made too: from
// the tree, or from each point's T and c kept for them (second_sums).
// With s.centred, point by point sums are of centred ordinates
// (lane_centres).
template <int L, bool Anchored, bool Record>
inline group_rank<L> group_sums(const smooth_model* model, fit_scratch& s,
                                const group_windows<L>& g, int used, bool lower) {
  group_rank<L> rank;
  rank.all = used == L;
  for (int k = 0; k < L; ++k) s.moment_weight[k] = s.moment_vweight[k] = s.centre[k] = 0.0;
  // By reference: a vector-holding argument by value draws a compiler
  // note on its passing convention.
  const auto ranked = [&](const auto& weights) {
    // With the moment tree a window's ties are no longer summed point by
    // point, and the rank test need not count them either where the
    // window's core settles it.
    bool settled = !Anchored && s.tree != nullptr;
    for (int k = 0; k < L && settled; ++k)
      settled = g.h[k] > 0.0 && core_determines(*s.tree, g.start[k], g.start[k] + model->window,
                                                g.q[k], g.h[k], s.ncoef, s.hints);
    if (settled) {
      for (int k = 0; k < L; ++k) rank.distinct[k] = s.ncoef;
    } else {
      rank_test<L>(weights, model->window, g.xs, s.ncoef, rank.distinct);
    }
    for (int k = 0; k < used; ++k) {
      const bool full = rank.distinct[k] >= s.ncoef;
      rank.any = rank.any || full || (lower && rank.distinct[k] > 0);
      rank.all = rank.all && full;
    }
    // Queries beyond their window's span sum directly: their tricube
    // polynomial in the span's coordinate cancels too much (and they are few).
    if (!Anchored && rank.any && s.tree != nullptr) {
      for (int k = 0; k < L; ++k) {
        if (!(g.h[k] > 0.0)) continue;  // no point weighs anything
        double weight[2];
        fast_window_sums_in<L>(*s.tree, s.ncoef, g.start[k], g.start[k] + model->window, g.q[k],
                               g.h[k], g.z[k], g.sc[k], s.sums[k], Record ? s.second[k] : nullptr,
                               s.fast_work, s.spans, s.hints, weight);
        s.moment_weight[k] = weight[0];
        s.moment_vweight[k] = weight[1];
      }
      rank.second_made = Record;
      return false;
    }
    return rank.any;
  };
  // The centres the sums take, kept for the values beside a derivative.
  const auto keep_centres = [&](std::int32_t q) {
    const auto c = lane_centres<L>(g, q);
    for (int k = 0; k < L; ++k) s.centre[k] = c[k];
    return c;
  };
  const auto run = [&](const auto& weights) {
    if (!ranked(weights)) return;
    auto weight = weights;
    const auto sums = [&](auto& points) {
      if (s.centred) {
        normal_sums<L, true>(s.ncoef, model->window, g.xs, g.ys, points, s.sums,
                             keep_centres(model->window));
      } else {
        normal_sums<L>(s.ncoef, model->window, g.xs, g.ys, points, s.sums);
      }
    };
    if constexpr (Record) {
      using plain_t = decltype(weight.unweighted());
      recorded<L, decltype(weight)::robust, plain_t> recording{weight.unweighted(), g.rs,
                                                               s.recorded};
      sums(recording);
    } else {
      sums(weight);
    }
  };
  // The same sums over the union of the windows (share_run).
  const auto run_shared = [&](const auto& weights, const shared_pieces<L>& pieces,
                              std::int32_t first) {
    if (!ranked(weights)) return;
    const double* const r[L] = {model->weights != nullptr ? model->weights + first : nullptr};
    constexpr bool robust = std::remove_cvref_t<decltype(weights)>::robust;
    tricube<L, robust, true> shared{weights.q, weights.h, weights.rh, r};
    if (s.centred) {
      normal_sums_shared<L, true>(s.ncoef, pieces, model->x + first, model->y + first, shared,
                                  s.sums, keep_centres(model->window));
    } else {
      normal_sums_shared<L>(s.ncoef, pieces, model->x + first, model->y + first, shared, s.sums);
    }
  };
  const bool robust = model->weights != nullptr;
  using vd = typename lanes_of<L>::d;
  const vd rh = splat<vd>(1.0) / g.h;
  if constexpr (Anchored) {
    if (robust) {
      run(anchored<L, true>{{g.q, g.h, rh, g.rs}, g.z, g.sc});
    } else {
      run(anchored<L, false>{{g.q, g.h, rh, g.rs}, g.z, g.sc});
    }
  } else {
    shared_pieces<L> pieces;
    std::int32_t first = 0;
    if (!Record && s.tree == nullptr && share_run<L>(model, s, g, pieces, first)) {
      if (robust) {
        run_shared(tricube<L, true>{g.q, g.h, rh, g.rs}, pieces, first);
      } else {
        run_shared(tricube<L, false>{g.q, g.h, rh, g.rs}, pieces, first);
      }
    } else if (robust) {
      run(tricube<L, true>{g.q, g.h, rh, g.rs});
    } else {
      run(tricube<L, false>{g.q, g.h, rh, g.rs});
    }
  }
  return rank;
}

}  // namespace local_fit

#endif
