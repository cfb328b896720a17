#include "numeric/solve.h"

#include <cstdio>

#include "numeric/lane_solve.h"

namespace {

template <int N, typename Rows>
fit_trouble gauss_jordan_1(double* const* a, Rows w, Rows inv, std::int32_t n) {
  fit_trouble t;
  bool unstable[1];
  double worst[1] = {0.0};
  if (lane_solve::gauss_jordan_core<N, double>(a, w, inv, n, unstable, worst) !=
      lane_solve::solve_status::ok) {
    t.singular = true;
    return t;
  }
  t.unstable = unstable[0];
  t.worst = worst[0];
  return t;
}

template <int N>
fit_trouble gauss_jordan_fixed(double* const* a, double** inv_rows) {
  double w[N][N];
  double inv[N][N];
  const fit_trouble t = gauss_jordan_1<N>(a, w, inv, N);
  if (t.singular) return t;
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < N; ++c) inv_rows[r][c] = inv[r][c];
  return t;
}

}  // namespace

void write_trouble(const fit_trouble& t) {
  if (t.singular) std::fputs("Error: Singular matrix inversion attempted.\n", stderr);
  if (t.unstable || t.inaccurate)
    std::fprintf(stderr, "Warning: Unstable equation system [%f]\n",
                 t.unstable ? t.worst : t.error);
}

void fill_normal_system(double** m, std::int32_t ncoef, const double* sums, double keep) {
  const double* s = sums;
  const double* b = sums + (2 * ncoef - 1);
  if (ncoef == 1) {
    // A constant has no curvature, so the smoothing weight plays no part.
    m[0][0] = s[0];
    m[1][0] = b[0];
    return;
  }
  // Hankel matrix: S(j) fills the anti-diagonal r + c = j.
  for (std::int32_t r = 0; r < ncoef; ++r)
    for (std::int32_t c = 0; c < ncoef; ++c) m[r][c] = s[r + c] * keep;
  for (std::int32_t r = 0; r < ncoef; ++r) m[ncoef][r] = b[r] * keep;
}

fit_trouble gauss_jordan(double* const* a, double** w, double** inv, std::int32_t n) {
  switch (n) {
    case 1: return gauss_jordan_fixed<1>(a, inv);
    case 2: return gauss_jordan_fixed<2>(a, inv);
    case 3: return gauss_jordan_fixed<3>(a, inv);
    case 4: return gauss_jordan_fixed<4>(a, inv);
    default: return gauss_jordan_1<0>(a, w, inv, n);
  }
}

void solve_coefficients(double* const* inv, const double* b, double* coef, std::int32_t n) {
  lane_solve::combine<double>(inv, b, coef, n);
}
