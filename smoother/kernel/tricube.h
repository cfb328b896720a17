// A local fit's weights and coordinate, point by point, for L windows at
// once (one query per vector lane): the tricube weight of each point's
// distance, times its model weight, and the coordinate the polynomial is
// fitted in; and the rank test that reads the same weights.
#ifndef QUIBRA_SMOOTHER_TRICUBE_H
#define QUIBRA_SMOOTHER_TRICUBE_H

#include <cstdint>
#include <cstring>

#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "smoother/model.h"

namespace local_fit {

// Tricube weights of L queries' windows, one query per lane, point by
// point in ascending order; times the robustness weights `r` when Robust.
// Each point also gets the query's own coordinate c = (x - q) / h, in which
// the polynomial is fitted: c lies in [-1, 1] wherever the weight is
// nonzero, so the power sums do not cancel however far the data sit from
// zero or however narrow the window is, and the query itself sits at c = 0.
//
// With Shared, every lane reads one run of points (normal_sums_shared):
// r[0] is that run's robustness weights, broadcast to every lane.
template <int L, bool Robust, bool Shared = false>
struct tricube {
  using vd = typename lanes_of<L>::d;
  using vi = typename lanes_of<L>::i;
  static constexpr bool robust = Robust;
  vd q;
  vd h;
  vd rh;  // 1 / h, for the quotient without a division (numeric/lanes.h)
  const double* const* r;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    const vd c = quotient(x - q, h, rh);
    // t = d / h with d = |x - q| the distance: rounding is symmetric, so
    // that is |c|. (The model holds no NaN abscissa, so its abscissae
    // ascend and the distance needs no care for points out of order.)
    const vd t = (vd)((vi)c & ~(vi)splat<vd>(-0.0));
    const vd u = 1.0 - t * t * t;
    // Weight 0 (all bits clear) unless t < 1, i.e. h > d: where d / h
    // rounds to 1 the weight is 0 either way. Within its window a lane's t
    // never exceeds 1 (no distance there exceeds h, nor does its rounded
    // ratio), so on a shared run, where a piece's mask clears the lanes
    // beyond their windows and every h is above 0, u^3 is that weight.
    vd w = u * u * u;
    if constexpr (!Shared) w = (vd)((vi)w & (vi)(t < 1.0));
    if constexpr (Robust) w = w * (Shared ? splat<vd>(r[0][i]) : gather<vd>(r, i));
    return {w, c};
  }

  tricube<L, false, Shared> unweighted() const { return {q, h, rh, r}; }
};

// The same weights for queries that may lie outside the span [lo, hi] of
// their window's abscissae (beyond the data, or across a gap). There every
// point lies to one side of the query and (x - q) / h would crowd them
// near -1 or 1, where the power sums cancel again; so the coordinate is
// c = (x - z) / s, z the middle of the span and s the larger of z - lo and
// hi - z, which spreads the points over [-1, 1], and the value is the
// polynomial at the query's own c. For a query inside its span, z is the
// query itself and this is exactly the coordinate above.
template <int L, bool Robust>
struct anchored {
  using vd = typename lanes_of<L>::d;
  static constexpr bool robust = Robust;
  tricube<L, Robust> tri;
  vd z;
  vd s;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    weighted_point<vd> p = tri(i, x);
    p.c = (x - z) / s;
    return p;
  }

  anchored<L, false> unweighted() const { return {tri.unweighted(), z, s}; }
};

// The weights and coordinates of `Plain` (the functor without robustness
// weights), times the model weights when Robust, as the robust functor
// forms them, with each point's T and c kept for the variances' sums.
template <int L, bool Robust, typename Plain>
struct recorded {
  using vd = typename lanes_of<L>::d;
  Plain plain;
  const double* const* r;
  double* store;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    weighted_point<vd> p = plain(i, x);
    double* at = store + static_cast<std::int64_t>(i) * (2 * L);
    std::memcpy(at, &p.w, sizeof p.w);
    std::memcpy(at + L, &p.c, sizeof p.c);
    if constexpr (Robust) p.w = p.w * gather<vd>(r, i);
    return p;
  }
};

// How many distinct abscissae each lane's window holds among its points of
// nonzero (or NaN) weight: distinct[k], exact below `need` and at least
// `need` otherwise (a fit of `need` coefficients can be made). The weights are the very ones the
// sums use (the same functor from the same start); abscissae ascend, so a
// new value is one unequal to the last weighted one. The scan stops once
// both lanes have enough, which for ordinary data is within the first few
// points, so it costs next to nothing beside the sums over the whole window.
template <int L, typename Weight>
void rank_test(const Weight& weights, std::int32_t window, const double* const xs[L],
               std::int32_t need, std::int32_t distinct[L]) {
  Weight weight = weights;  // its own copy: the weights carry state
  double last[L];
  std::int32_t count[L];
  for (int k = 0; k < L; ++k) {
    last[k] = __builtin_nan("");
    count[k] = 0;
  }
  // A lane is done once it has as many as its window's distinct
  // abscissae, so that a window of tied points is not scanned to its end.
  std::int32_t most[L];
  bool single[L];
  bool any_single = false;
  for (int k = 0; k < L; ++k) {
    most[k] = distinct_abscissae(xs[k], window, need);
    single[k] = xs[k][0] == xs[k][window - 1];
    any_single = any_single || single[k];
  }
  // A window of one abscissa weighs all its points alike before their
  // model weights (finite): none at all if its first weighs nothing, as
  // at h = 0 or with every point at distance h.
  if (any_single) {
    auto plain = weights.unweighted();
    const auto first = plain(0, gather<typename lanes_of<L>::d>(xs, 0)).w;
    for (int k = 0; k < L; ++k)
      if (single[k] && first[k] == 0.0) most[k] = 0;
  }
  std::int32_t least = 0;
  for (std::int32_t i = 0; i < window && least < need; ++i) {
    const auto x = gather<typename lanes_of<L>::d>(xs, i);
    const auto w = weight(i, x).w;
    least = need;
    for (int k = 0; k < L; ++k) {
      if (w[k] != 0.0) {
        if (x[k] != last[k]) ++count[k];
        last[k] = x[k];
      }
      if (count[k] < most[k] && count[k] < least) least = count[k];
    }
  }
  for (int k = 0; k < L; ++k) distinct[k] = count[k];
}

}  // namespace local_fit

#endif
