// The power sums of a local fit from the moment tree ('Method' 'fast'),
// in the time of O(log n) moves instead of a pass over the window. On each
// side of the query the tricube weight is a polynomial of degree 9 in the
// fit's coordinate c (numeric/moments.h), so every sum the normal
// equations need, sum T w c^j and sum T w y c^j, is a fixed combination of
// the power moments of that side's points, and the variances' sums, with
// T^2, one of degree 18. The points at the query count on its right.
#ifndef QUIBRA_SMOOTHER_FAST_SUMS_H
#define QUIBRA_SMOOTHER_FAST_SUMS_H

#include <cfloat>
#include <cstdint>

#include "numeric/gallop.h"
#include "numeric/moments.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/model.h"
#include "smoother/moments/moment_tree.h"
#include "smoother/moments/range_moments.h"

namespace local_fit {

// Windows of fewer points are summed point by point: there the passes are
// as cheap as the moves, and they give the direct method's very bits.
inline constexpr std::int32_t FAST_LEAST_WINDOW = 256;
// Higher degrees keep the direct sums: their normal equations are too
// ill-conditioned for moments that carry the rounding of their moves.
inline constexpr std::int32_t FAST_MOST_DEGREE = 4;
// Below this tricube weight a point at a window's end is summed by itself.
inline constexpr double FAST_EDGE_WEIGHT = 0x1p-30;

// Whether a model's fits take the fast sums when asked.
inline bool takes_fast_sums(const smooth_model* model) {
  return model->window >= FAST_LEAST_WINDOW && model->degree <= FAST_MOST_DEGREE;
}

// Gives a scratch its room for the fast sums of tree t: a side's moments,
// the vectors of range_moments and the two sides' kept middles.
inline void attach_fast_sums(fit_scratch& s, const moment_tree* t) {
  s.tree = t;
  const std::int64_t stride = t->stride;
  s.fast_work = host_alloc_array<double>(stride * (1 + 2 * MOMENT_SLOTS + 2));
  for (int side = 0; side < 2; ++side)
    s.spans[side] =
        moment_span{-1, -1, 0.0, 0.0, s.fast_work + stride * (1 + 2 * MOMENT_SLOTS + side)};
}

// How many distinct abscissae the points [first, end) of normal (or NaN)
// weight hold, counted up to `need`. A tie group is passed by a galloping
// search, so many ties cost little. Subnormal weights count as 0: a
// product with them may round to 0.
inline std::int32_t distinct_weighted(const moment_tree& t, std::int32_t first, std::int32_t end,
                                      std::int32_t need) {
  std::int32_t count = 0;
  std::int32_t i = first;
  while (i < end && count < need) {
    if (t.w != nullptr && t.w[i] < DBL_MIN) {
      ++i;
      continue;
    }
    ++count;
    // Past the last point tied with x[i].
    const double v = t.x[i];
    std::int32_t next = i + 1;
    i = first_holding(i + 1, end, [&](std::int32_t j) { return t.x[j] != v; }, next);
  }
  return count;
}

// Whether the points of the window [first, end) within 0.99 of its
// bandwidth h of the query q hold `need` distinct abscissae of normal
// weight: their tricube weights, 2.6e-5 or more however they are rounded,
// times such weights are never 0, so the window can determine the
// polynomial, and the rank test need not pass over its ties point by point.
inline bool core_determines(const moment_tree& t, std::int32_t first, std::int32_t end, double q,
                            double h, std::int32_t need, search_hints& hints) {
  const double lo = q - 0.99 * h;
  const double hi = q + 0.99 * h;
  const std::int32_t from =
      first_holding(first, end, [&](std::int32_t i) { return !(t.x[i] < lo); }, hints.core_lo);
  const std::int32_t to =
      first_holding(from, end, [&](std::int32_t i) { return !(t.x[i] <= hi); }, hints.core_hi);
  return distinct_weighted(t, from, to, need) >= need;
}

// The sums of one window, [first, end) of the model's points, for a query q
// of bandwidth h > 0 fitted in c = (x - z) / sc: sums[0 .. 2 nc - 2] =
// S(j) = sum T w c^j, then sums[2 nc - 1 ..] = b(j) = sum T w y c^j (j <
// nc), as normal_sums lays them out; with `second`, second[j] = sum T^2 v
// c^j (j <= 2 nc - 2). weight[0] and weight[1] receive the sums of w and v
// over the points whose sums came from moments, what their rounding is
// judged by (numeric/value_error.h).
inline void fast_window_sums(const moment_tree& t, std::int32_t nc, std::int32_t first,
                             std::int32_t end, double q, double h, double z, double sc,
                             double* sums, double* second, double* work, moment_span* spans,
                             search_hints& hints, double weight[2]) {
  weight[0] = weight[1] = 0.0;
  for (std::int32_t j = 0; j < 3 * nc - 1; ++j) sums[j] = 0.0;
  for (std::int32_t j = 0; second != nullptr && j < 2 * nc - 1; ++j) second[j] = 0.0;
  // The points the tricube weighs at least FAST_EDGE_WEIGHT are [inner,
  // outer), the query's own place `lo`: the weight falls away from the
  // query on either side.
  const auto weight_of = [&](std::int32_t i) {
    const double c = (t.x[i] - q) / h;
    const double a = c < 0.0 ? -c : c;
    const double u = 1.0 - a * a * a;
    return a < 1.0 ? u * u * u : 0.0;
  };
  const auto add_point = [&](std::int32_t i, double tri) {
    const double c = (t.x[i] - z) / sc;
    const double w = tri * (t.w != nullptr ? t.w[i] : 1.0);
    double p = w;            // w c^j
    double py = w * t.y[i];  // w y c^j
    for (std::int32_t j = 0; j <= 2 * nc - 2; ++j) {
      sums[j] += p;
      if (j < nc) sums[2 * nc - 1 + j] += py;
      p *= c;
      py *= c;
    }
    if (second != nullptr) {
      double pv = tri * tri * (t.v != nullptr ? t.v[i] : 1.0);
      for (std::int32_t j = 0; j <= 2 * nc - 2; ++j) {
        second[j] += pv;
        pv *= c;
      }
    }
  };
  const std::int32_t lo =
      first_holding(first, end, [&](std::int32_t i) { return t.x[i] >= q; }, hints.lo);
  const std::int32_t inner = first_holding(
      first, lo, [&](std::int32_t i) { return weight_of(i) >= FAST_EDGE_WEIGHT; }, hints.inner);
  const std::int32_t outer = first_holding(
      lo, end, [&](std::int32_t i) { return weight_of(i) < FAST_EDGE_WEIGHT; }, hints.outer);
  // Where those points cannot determine the polynomial by themselves, the
  // fit rests on the others, whose weights are below the moments'
  // rounding: they are summed one by one, exactly as the direct sums weigh
  // them (those at distance h weigh 0), so that ties at a window's ends
  // decide a fit as they do there. Otherwise they go with the rest.
  if (distinct_weighted(t, inner, outer, nc) < nc) {
    for (std::int32_t i = first; i < inner; ++i) add_point(i, weight_of(i));
    for (std::int32_t i = outer; i < end; ++i) add_point(i, weight_of(i));
    first = inner;
    end = outer;
  }
  double* m = work;
  double* my = m + t.top + 1;
  double* mv = my + t.top_y + 1;
  auto* acc = reinterpret_cast<moment_vector*>(work + t.stride);
  moment_vector* vwork = acc + t.stride;
  const double alpha = sc / h;
  const double beta = (z - q) / h;
  for (int side = 0; side < 2; ++side) {
    const std::int32_t a = side == 0 ? first : lo;
    const std::int32_t b = side == 0 ? lo : end;
    if (a >= b) continue;
    for (std::int32_t k = 0; k < t.stride; ++k) m[k] = 0.0;
    range_moments(t, a, b, z, sc, m, my, mv, acc, vwork, spans[side]);
    weight[0] += m[0];
    if (second != nullptr) weight[1] += mv[0];
    double poly[10];
    tricube_polynomial(alpha, beta, side == 0 ? -1.0 : 1.0, poly);
    for (std::int32_t j = 0; j <= 2 * nc - 2; ++j) {
      double v = 0.0;
      for (int k = 0; k < 10; ++k) v += poly[k] * m[j + k];
      sums[j] += v;
    }
    for (std::int32_t j = 0; j < nc; ++j) {
      double v = 0.0;
      for (int k = 0; k < 10; ++k) v += poly[k] * my[j + k];
      sums[2 * nc - 1 + j] += v;
    }
    if (second != nullptr) {
      double poly2[19];
      square_polynomial(poly, poly2);
      for (std::int32_t j = 0; j <= 2 * nc - 2; ++j) {
        double v = 0.0;
        for (int k = 0; k < 19; ++k) v += poly2[k] * mv[j + k];
        second[j] += v;
      }
    }
  }
}

// fast_window_sums in the code of L lanes: for 4 and 8 lanes one body
// each, compiled for their instruction set in their width's source
// (smoother/kernel/fit_range_4.cpp, fit_range_8.cpp), which every group of that
// width calls.
#if QUIBRA_WIDE_LANES
QUIBRA_AVX2 void fast_window_sums_4(const moment_tree& t, std::int32_t nc, std::int32_t first,
                                    std::int32_t end, double q, double h, double z, double sc,
                                    double* sums, double* second, double* work, moment_span* spans,
                                    search_hints& hints, double weight[2]);
QUIBRA_AVX512 void fast_window_sums_8(const moment_tree& t, std::int32_t nc, std::int32_t first,
                                      std::int32_t end, double q, double h, double z, double sc,
                                      double* sums, double* second, double* work,
                                      moment_span* spans, search_hints& hints,
                                      double weight[2]);
#endif
template <int L>
inline void fast_window_sums_in(const moment_tree& t, std::int32_t nc, std::int32_t first,
                                std::int32_t end, double q, double h, double z, double sc,
                                double* sums, double* second, double* work, moment_span* spans,
                                search_hints& hints, double weight[2]) {
#if QUIBRA_WIDE_LANES
  if constexpr (L == 4) {
    fast_window_sums_4(t, nc, first, end, q, h, z, sc, sums, second, work, spans, hints, weight);
    return;
  } else if constexpr (L == 8) {
    fast_window_sums_8(t, nc, first, end, q, h, z, sc, sums, second, work, spans, hints, weight);
    return;
  }
#endif
  fast_window_sums(t, nc, first, end, q, h, z, sc, sums, second, work, spans, hints, weight);
}

}  // namespace local_fit

#endif
