#include "numeric/polyfit.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "host/host.h"
#include "numeric/lane_solve.h"
#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "numeric/matrix.h"
#include "numeric/smoothness.h"

namespace {

poly_fit* new_poly_fit(std::int32_t ncoef) {
  poly_fit* fit = host_alloc_array<poly_fit>(1);
  fit->ncoef = ncoef;
  fit->coef = host_alloc_array<double>(ncoef);
  return fit;
}

}  // namespace

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

double** normal_equations(std::int32_t ncoef, std::int32_t npts, const double* xs,
                          const double* ys, const double* ws, double smoothness, double lo,
                          double hi) {
  if (ncoef <= 0 || ncoef > MAX_NCOEF) return nullptr;
  double** m = alloc_rows(ncoef + 1, ncoef);
  if (ncoef >= 2 && smoothness >= 1.0) {
    for (std::int32_t r = 0; r <= ncoef; ++r)
      for (std::int32_t c = 0; c < ncoef; ++c) m[r][c] = 0.0;
  } else {
    double* sums = host_alloc_array<double>(3 * ncoef - 1);
    const double* const x2[2] = {xs, xs};
    const double* const y2[2] = {ys, ys};
    double* const s2[2] = {sums, sums};
    // The abscissae as they are, each with its given weight.
    auto given = [ws](std::int32_t i, v2d x) { return weighted_point<v2d>{v2d{ws[i], ws[i]}, x}; };
    normal_sums(ncoef, npts, x2, y2, given, s2);
    fill_normal_system(m, ncoef, sums, 1.0 - smoothness);
    host_free(sums);
  }
  if (ncoef > 2 && smoothness > 0.0) add_curvature_penalty(m, ncoef, smoothness, lo, hi);
  return m;
}

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
  if (t.unstable) std::fprintf(stderr, "Warning: Unstable equation system [%f]\n", t.worst);
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

double** invert_matrix(double* const* a, std::int32_t n) {
  double** inv = alloc_rows(n, n);
  double** w = alloc_rows(n, n);
  const fit_trouble t = gauss_jordan(a, w, inv, n);
  free_rows(w, n);
  write_trouble(t);
  if (t.singular) {
    free_rows(inv, n);
    return nullptr;
  }
  return inv;
}

void solve_coefficients(double* const* inv, const double* b, double* coef, std::int32_t n) {
  lane_solve::combine<double>(inv, b, coef, n);
}

poly_fit* fit_polynomial(std::int32_t ncoef, std::int32_t npts, const double* xs,
                         const double* ys, const double* ws, double smoothness, double lo,
                         double hi) {
  if (ncoef <= 0 || ncoef > MAX_NCOEF) return nullptr;
  poly_fit* fit = new_poly_fit(ncoef);
  double lambda = smoothness;
  if (!(lambda >= 0.0 && lambda <= 1.0)) {
    std::fprintf(stderr, "Confounding weighting (%f) of smoothness requirement.\n", lambda);
    free_polynomial(fit);
    return nullptr;
  }
  if (lambda == 1.0 && ncoef >= 3) {
    // Infinite smoothness leaves no curvature: fit a straight line instead.
    free_polynomial(fit);
    ncoef = 2;
    fit = new_poly_fit(ncoef);
    lambda = 0.0;
  }
  if (lambda > 0.0 && lambda < 1.0) lambda = rescale_smoothness(lambda, npts, ws);

  double** sys = normal_equations(ncoef, npts, xs, ys, ws, lambda, lo, hi);
  double** inv = invert_matrix(sys, ncoef);
  if (inv == nullptr) {
    free_rows(sys, ncoef + 1);
    free_polynomial(fit);
    return nullptr;
  }
  solve_coefficients(inv, sys[ncoef], fit->coef, ncoef);
  free_rows(sys, ncoef + 1);
  free_rows(inv, ncoef);
  return fit;
}

double eval_polynomial(const poly_fit* fit, double x) {
  // Ascending powers, the power a running product.
  double value = fit->coef[0];
  double power = x;
  for (std::int32_t k = 1; k < fit->ncoef; ++k) {
    value += power * fit->coef[k];
    power *= x;
  }
  return value;
}

void free_polynomial(poly_fit* fit) {
  host_free(fit->coef);
  host_free(fit);
}
