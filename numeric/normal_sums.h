// The weighted power sums of the normal equations, for L point sets at
// once (one per lane, L = 2, 4 or 8). Each sum adds its own terms in
// ascending point order from +0.0; the passes over the points are fused
// into one, with each point's weight and coordinate supplied point by
// point, so the local fit can compute its kernel weights and its own
// coordinate on the fly instead of storing them first.
#ifndef QUIBRA_NUMERIC_NORMAL_SUMS_H
#define QUIBRA_NUMERIC_NORMAL_SUMS_H

#include <cstdint>

#include "numeric/lanes.h"
#include "numeric/solve.h"

// A point of each lane as the sums take it: its weight w, and the
// coordinate c whose powers the polynomial is fitted in.
template <typename V>
struct weighted_point {
  V w;
  V c;
};

namespace normal_sums_detail {

// NC > 0 fixes the coefficient count at compile time, so the accumulators
// live in registers; NC = 0 takes it from `nc`. With Centred, each lane's
// ordinates less its own centre.
template <int L, int NC, bool Centred, typename Points>
inline void kernel(std::int32_t nc, std::int32_t npts, const double* const xs[L],
                   const double* const ys[L], Points& point, double* const sums[L],
                   const typename lanes_of<L>::d& centre) {
  using vd = typename lanes_of<L>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = accumulators(NC, 3);
  vd acc[SLOTS] = {};  // S(0..2n-2), then b(0..n-1)
  vd* s = acc;
  vd* b = acc + (2 * n - 1);
  for (std::int32_t i = 0; i < npts; ++i) {
    const weighted_point<vd> p = point(i, gather<vd>(xs, i));
    const vd w = p.w;
    vd y = gather<vd>(ys, i);
    if constexpr (Centred) y = y - centre;
    s[0] += w;
    if (n == 1) {
      b[0] += w * y;
      continue;
    }
    b[0] += y * w;
    vd g = p.c * w;  // w c^j as a running product
                     // Unrolled at any optimisation level, so the accumulators stay in registers.
#pragma GCC unroll 8
    for (std::int32_t j = 1; j <= 2 * n - 3; ++j) {
      if (j < n) b[j] += y * g;
      s[j] += g;
      g = g * p.c;
    }
    s[2 * n - 2] += g;
  }
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < 3 * n - 1; ++k)
    for (int l = 0; l < L; ++l) sums[l][k] = acc[k][l];
}

// The same sums for L point sets that are all one run of points, each
// point's abscissa and ordinate broadcast to every lane, over [begin, end)
// only; `acc` carries the sums from one run to the next. With Masked, the
// lanes whose bit is clear in `mask` get weight +0 there (points beyond
// their own set): their sums keep their bits, as long as the coordinates
// and ordinates are finite, since every term they get is then +0 or -0.
template <int L, int NC, bool Masked, bool Centred, typename Points>
inline void shared_run(std::int32_t nc, std::int32_t begin, std::int32_t end, const double* xs,
                       const double* ys, Points& point, const typename lanes_of<L>::i& mask,
                       typename lanes_of<L>::d* acc, const typename lanes_of<L>::d& centre) {
  using vd = typename lanes_of<L>::d;
  using vi = typename lanes_of<L>::i;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = accumulators(NC, 3);
  vd a[SLOTS];
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < 3 * n - 1; ++k) a[k] = acc[k];
  vd* s = a;
  vd* b = a + (2 * n - 1);
  for (std::int32_t i = begin; i < end; ++i) {
    const weighted_point<vd> p = point(i, splat<vd>(xs[i]));
    vd w = p.w;
    if constexpr (Masked) w = (vd)((vi)w & mask);
    vd y = splat<vd>(ys[i]);
    if constexpr (Centred) y = y - centre;
    s[0] += w;
    if (n == 1) {
      b[0] += w * y;
      continue;
    }
    b[0] += y * w;
    vd g = p.c * w;
#pragma GCC unroll 8
    for (std::int32_t j = 1; j <= 2 * n - 3; ++j) {
      if (j < n) b[j] += y * g;
      s[j] += g;
      g = g * p.c;
    }
    s[2 * n - 2] += g;
  }
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < 3 * n - 1; ++k) acc[k] = a[k];
}

// A run of points split into pieces, each with the lanes it counts for.
template <int L>
struct shared_pieces {
  static constexpr int MOST = 2 * L + 1;
  typename lanes_of<L>::i mask[MOST];
  int count = 0;
  std::int32_t cut[MOST + 1];  // piece j is [cut[j], cut[j + 1])
  bool all[MOST];              // every lane counts: no mask needed
};

template <int L, int NC, bool Centred, typename Points>
inline void shared_kernel(std::int32_t nc, const shared_pieces<L>& pieces, const double* xs,
                          const double* ys, Points& point, double* const sums[L],
                          const typename lanes_of<L>::d& centre) {
  using vd = typename lanes_of<L>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = accumulators(NC, 3);
  vd acc[SLOTS] = {};
  for (int j = 0; j < pieces.count; ++j) {
    if (pieces.all[j]) {
      shared_run<L, NC, false, Centred>(nc, pieces.cut[j], pieces.cut[j + 1], xs, ys, point,
                                        pieces.mask[j], acc, centre);
    } else {
      shared_run<L, NC, true, Centred>(nc, pieces.cut[j], pieces.cut[j + 1], xs, ys, point,
                                       pieces.mask[j], acc, centre);
    }
  }
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < 3 * n - 1; ++k)
    for (int l = 0; l < L; ++l) sums[l][k] = acc[k][l];
}

}  // namespace normal_sums_detail

// sums[k] receives S(0..2 ncoef - 2), S(j) = sum w c^j, then
// b(0..ncoef - 1), b(r) = sum y w c^r, of point set k (xs[k], ys[k]).
// point(i, x) returns the lanes' weighted_point of point i, x being their
// abscissae; it is called once per point, in ascending order. With
// Centred, b sums y - centre[k] in place of y. Returns false, having
// computed nothing, when ncoef lies outside [1, MAX_NCOEF].
template <int L = 2, bool Centred = false, typename Points>
bool normal_sums(std::int32_t ncoef, std::int32_t npts, const double* const xs[L],
                 const double* const ys[L], Points& point, double* const sums[L],
                 const typename lanes_of<L>::d& centre = typename lanes_of<L>::d{}) {
  using normal_sums_detail::kernel;
  if (ncoef < 1 || ncoef > MAX_NCOEF) return false;
  // Each count's loop a function of its own in the wide paths.
  const auto run = [](const auto& f) { lane_code<L>::run(f); };
  switch (ncoef) {
    case 1: run([&] { kernel<L, 1, Centred>(ncoef, npts, xs, ys, point, sums, centre); }); break;
    case 2: run([&] { kernel<L, 2, Centred>(ncoef, npts, xs, ys, point, sums, centre); }); break;
    case 3: run([&] { kernel<L, 3, Centred>(ncoef, npts, xs, ys, point, sums, centre); }); break;
    case 4: run([&] { kernel<L, 4, Centred>(ncoef, npts, xs, ys, point, sums, centre); }); break;
    default: run([&] { kernel<L, 0, Centred>(ncoef, npts, xs, ys, point, sums, centre); }); break;
  }
  return true;
}

using normal_sums_detail::shared_pieces;

// normal_sums for point sets that lie in one sorted run of points (xs,
// ys), set k the points of `pieces` whose mask has lane k: each point is
// read once for all lanes. point(i, x) is called once per point of the
// pieces, in ascending order, with x the point's abscissa in every lane.
template <int L, bool Centred = false, typename Points>
bool normal_sums_shared(std::int32_t ncoef, const shared_pieces<L>& pieces, const double* xs,
                        const double* ys, Points& point, double* const sums[L],
                        const typename lanes_of<L>::d& centre = typename lanes_of<L>::d{}) {
  using normal_sums_detail::shared_kernel;
  if (ncoef < 1 || ncoef > MAX_NCOEF) return false;
  const auto run = [](const auto& f) { lane_code<L>::run(f); };
  switch (ncoef) {
    case 1:
      run([&] { shared_kernel<L, 1, Centred>(ncoef, pieces, xs, ys, point, sums, centre); });
      break;
    case 2:
      run([&] { shared_kernel<L, 2, Centred>(ncoef, pieces, xs, ys, point, sums, centre); });
      break;
    case 3:
      run([&] { shared_kernel<L, 3, Centred>(ncoef, pieces, xs, ys, point, sums, centre); });
      break;
    case 4:
      run([&] { shared_kernel<L, 4, Centred>(ncoef, pieces, xs, ys, point, sums, centre); });
      break;
    default:
      run([&] { shared_kernel<L, 0, Centred>(ncoef, pieces, xs, ys, point, sums, centre); });
      break;
  }
  return true;
}

#endif
