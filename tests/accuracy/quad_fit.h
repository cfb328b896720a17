// An independent solve of one local fit in quad precision (113-bit
// significand), for checking how close the module's values come to the
// exact weighted least-squares polynomial. The window is the module's (the
// same nearest-points walk over the sorted data); everything after it is
// done in __float128, in a Chebyshev basis of the window's span, whose
// normal matrix stays well conditioned where the powers of one coordinate
// are not: at degree 20 the solve is still exact to far below 1e-8.
#ifndef QUIBRA_TESTS_ACCURACY_QUAD_FIT_H
#define QUIBRA_TESTS_ACCURACY_QUAD_FIT_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "smoother/model.h"

namespace quad_fit {

using quad = __float128;

inline quad magnitude(quad v) { return v < 0 ? -v : v; }

// Solves g a = r (n unknowns) by Gaussian elimination with partial
// pivoting; false when a pivot column is zero.
inline bool solve(std::vector<std::vector<quad>>& g, std::vector<quad>& r, std::vector<quad>& a) {
  const std::size_t n = r.size();
  for (std::size_t j = 0; j < n; ++j) {
    std::size_t p = j;
    for (std::size_t k = j + 1; k < n; ++k)
      if (magnitude(g[k][j]) > magnitude(g[p][j])) p = k;
    if (g[p][j] == 0) return false;
    std::swap(g[j], g[p]);
    std::swap(r[j], r[p]);
    for (std::size_t k = j + 1; k < n; ++k) {
      const quad h = g[k][j] / g[j][j];
      for (std::size_t c = j; c < n; ++c) g[k][c] -= h * g[j][c];
      r[k] -= h * r[j];
    }
  }
  a.assign(n, 0);
  for (std::size_t j = n; j-- > 0;) {
    quad v = r[j];
    for (std::size_t c = j + 1; c < n; ++c) v -= g[j][c] * a[c];
    a[j] = v / g[j][j];
  }
  return true;
}

// The fit of `degree` at q over the sorted points (x, y) with span f: NaN
// where the window holds fewer distinct abscissae of nonzero weight than
// the polynomial has coefficients.
inline double value_at(const std::vector<double>& x, const std::vector<double>& y, double f,
                       std::int32_t degree, double q) {
  const std::int32_t count = static_cast<std::int32_t>(x.size());
  const std::int32_t window = window_size(count, f, degree);
  const std::int32_t start = f < 1.0 ? find_window_start(q, window, count, x.data()) : 0;
  const std::int32_t end = f < 1.0 ? start + window : count;
  const quad lo = x[start];
  const quad hi = x[end - 1];
  const quad qq = q;
  const quad h = qq - lo > hi - qq ? qq - lo : hi - qq;
  const quad z = (lo + hi) / 2;
  const quad s = (hi - lo) / 2;
  const std::int32_t n = degree + 1;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (!(s > 0) || !(h > 0)) return nan;
  // Moments sum w T_k(c) for k <= 2n - 2 and sum w y T_j(c) for j < n.
  std::vector<quad> moment(2 * n - 1, 0);
  std::vector<quad> right(n, 0);
  std::int32_t distinct = 0;
  double last = nan;
  for (std::int32_t i = start; i < end; ++i) {
    const quad t = magnitude(quad(x[i]) - qq) / h;
    if (!(t < 1)) continue;
    const quad u = 1 - t * t * t;
    const quad w = u * u * u;
    if (x[i] != last) ++distinct;
    last = x[i];
    const quad c = (quad(x[i]) - z) / s;
    const quad wy = w * quad(y[i]);
    moment[0] += w;
    right[0] += wy;
    quad before = 1;  // T_(k-1)(c)
    quad now = c;     // T_k(c)
    for (std::int32_t k = 1; k < 2 * n - 1; ++k) {
      moment[k] += w * now;
      if (k < n) right[k] += wy * now;
      const quad next = 2 * c * now - before;
      before = now;
      now = next;
    }
  }
  if (distinct < n) return nan;
  // T_i T_j = (T_(i+j) + T_|i-j|) / 2.
  std::vector<std::vector<quad>> g(n, std::vector<quad>(n));
  for (std::int32_t i = 0; i < n; ++i)
    for (std::int32_t j = 0; j < n; ++j)
      g[i][j] = (moment[i + j] + moment[i > j ? i - j : j - i]) / 2;
  std::vector<quad> a;
  if (!solve(g, right, a)) return nan;
  // Clenshaw's sum of a_j T_j at the query's coordinate.
  const quad cq = (qq - z) / s;
  quad b1 = 0;
  quad b2 = 0;
  for (std::int32_t j = n - 1; j >= 1; --j) {
    const quad b = 2 * cq * b1 - b2 + a[j];
    b2 = b1;
    b1 = b;
  }
  return static_cast<double>(cq * b1 - b2 + a[0]);
}

}  // namespace quad_fit

#endif
