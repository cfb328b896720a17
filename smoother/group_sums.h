// The rank test and the power sums of a group of L windows, by the
// tricube weights of smoother/tricube.h and the sums of
// numeric/normal_sums.h.
#ifndef QUIBRA_SMOOTHER_GROUP_SUMS_H
#define QUIBRA_SMOOTHER_GROUP_SUMS_H

#include <cstdint>

#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "smoother/fit_scratch.h"
#include "smoother/tricube.h"
#include "smoother/windows.h"

namespace local_fit {

// How the wanted lanes of a group stand after the rank test: distinct[k]
// weighted abscissae in lane k's window (at least s.ncoef when it can
// determine the polynomial), whether any and whether all of them can.
template <int L>
struct group_rank {
  std::int32_t distinct[L] = {};
  bool any = false;  // some lane needs the sums
  bool all = false;  // every lane determines the full polynomial
};

// The rank test and then, if any wanted lane can be fitted (with `lower`,
// at some degree), the power sums of the group's lanes, by the coordinate
// the group is fitted in. With Record, each point's T and c are kept for
// the variances' sums.
template <int L, bool Anchored, bool Record>
inline group_rank<L> group_sums(const smooth_model* model, fit_scratch& s,
                                const group_windows<L>& g, int used, bool lower) {
  group_rank<L> rank;
  rank.all = used == L;
  // By reference: a vector-holding argument by value draws a compiler
  // note on its passing convention.
  const auto run = [&](const auto& weights) {
    auto weight = weights;
    rank_test<L>(weight, model->window, g.xs, s.ncoef, rank.distinct);
    for (int k = 0; k < used; ++k) {
      const bool full = rank.distinct[k] >= s.ncoef;
      rank.any = rank.any || full || (lower && rank.distinct[k] > 0);
      rank.all = rank.all && full;
    }
    if (!rank.any) return;
    if constexpr (Record) {
      using plain_t = decltype(weight.unweighted());
      recorded<L, decltype(weight)::robust, plain_t> recording{weight.unweighted(), g.rs,
                                                               s.recorded};
      normal_sums<L>(s.ncoef, model->window, g.xs, g.ys, recording, s.sums);
    } else {
      normal_sums<L>(s.ncoef, model->window, g.xs, g.ys, weight, s.sums);
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
    if (robust) {
      run(tricube<L, true>{g.q, g.h, rh, g.rs});
    } else {
      run(tricube<L, false>{g.q, g.h, rh, g.rs});
    }
  }
  return rank;
}

}  // namespace local_fit

#endif
