// The weighted power sums of the normal equations, for two point sets at
// once (one per lane). Each sum adds its own terms in ascending point
// order from +0.0; the passes over the points are fused into one, with the
// weights supplied point by point, so the local fit can compute its
// kernel weights on the fly instead of storing them first.
#ifndef QUIBRA_NUMERIC_NORMAL_SUMS_H
#define QUIBRA_NUMERIC_NORMAL_SUMS_H

#include <cstdint>

#include "numeric/lanes.h"

// Coefficient counts up to this one (degree 100) are supported.
inline constexpr std::int32_t MAX_NCOEF = 101;

namespace normal_sums_detail {

// NC > 0 fixes the coefficient count at compile time, so the accumulators
// live in registers; NC = 0 takes it from `nc`.
template <int NC, typename Weights>
inline void kernel(std::int32_t nc, std::int32_t npts, const double* const xs[2],
                   const double* const ys[2], Weights& weight, double* const sums[2]) {
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = NC > 0 ? 3 * NC - 1 : 3 * MAX_NCOEF - 1;
  v2d acc[SLOTS] = {};  // S(0..2n-2), then b(0..n-1)
  v2d* s = acc;
  v2d* b = acc + (2 * n - 1);
  const double* x0 = xs[0];
  const double* x1 = xs[1];
  const double* y0 = ys[0];
  const double* y1 = ys[1];
  for (std::int32_t i = 0; i < npts; ++i) {
    const v2d x = {x0[i], x1[i]};
    const v2d w = weight(i, x);
    const v2d y = {y0[i], y1[i]};
    s[0] += w;
    if (n == 1) {
      b[0] += w * y;
      continue;
    }
    b[0] += y * w;
    v2d g = x * w;  // w x^j as a running product
    // Unrolled at any optimisation level, so the accumulators stay in registers.
#pragma GCC unroll 8
    for (std::int32_t j = 1; j <= 2 * n - 3; ++j) {
      if (j < n) b[j] += y * g;
      s[j] += g;
      g = g * x;
    }
    s[2 * n - 2] += g;
  }
#pragma GCC unroll 16
  for (std::int32_t k = 0; k < 3 * n - 1; ++k) {
    sums[0][k] = acc[k][0];
    sums[1][k] = acc[k][1];
  }
}

}  // namespace normal_sums_detail

// sums[k] receives S(0..2 ncoef - 2), S(j) = sum w x^j, then
// b(0..ncoef - 1), b(r) = sum y w x^r, of point set k (xs[k], ys[k]).
// weight(i, x) returns the two lanes' weights of point i, x being its
// abscissae; it is called once per point, in ascending order.
template <typename Weights>
void normal_sums(std::int32_t ncoef, std::int32_t npts, const double* const xs[2],
                 const double* const ys[2], Weights& weight, double* const sums[2]) {
  using normal_sums_detail::kernel;
  switch (ncoef) {
    case 1: kernel<1>(ncoef, npts, xs, ys, weight, sums); break;
    case 2: kernel<2>(ncoef, npts, xs, ys, weight, sums); break;
    case 3: kernel<3>(ncoef, npts, xs, ys, weight, sums); break;
    case 4: kernel<4>(ncoef, npts, xs, ys, weight, sums); break;
    default: kernel<0>(ncoef, npts, xs, ys, weight, sums); break;
  }
}

#endif
