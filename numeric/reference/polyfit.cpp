#include "numeric/reference/polyfit.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "host/storage.h"
#include "numeric/matrix.h"
#include "numeric/reference/smoothness.h"

namespace {

poly_fit* new_poly_fit(std::int32_t ncoef) {
  poly_fit* fit = host_alloc_array<poly_fit>(1);
  fit->ncoef = ncoef;
  fit->coef = host_alloc_array<double>(ncoef);
  return fit;
}

double** identity(std::int32_t n) {
  double** m = alloc_rows(n, n);
  for (std::int32_t r = 0; r < n; ++r)
    for (std::int32_t c = 0; c < n; ++c) m[r][c] = r == c ? 1.0 : 0.0;
  return m;
}

// The data term, one sum at a time over all points, as the normal
// equations are written down: S(0) = sum w and b[0] = sum y w; then a
// running product g = w x^j per point, each b[j] and S(j) summed from it.
void data_term(double** m, std::int32_t ncoef, std::int32_t npts, const double* xs,
               const double* ys, const double* ws, double keep) {
  double s0 = 0.0;
  double b0 = 0.0;
  for (std::int32_t i = 0; i < npts; ++i) s0 += ws[i];
  if (ncoef == 1) {
    for (std::int32_t i = 0; i < npts; ++i) b0 += ws[i] * ys[i];
    m[0][0] = s0;
    m[1][0] = b0;
    return;
  }
  for (std::int32_t i = 0; i < npts; ++i) b0 += ys[i] * ws[i];
  m[0][0] = s0 * keep;
  m[ncoef][0] = b0 * keep;
  double* g = host_alloc_array<double>(npts);
  for (std::int32_t i = 0; i < npts; ++i) g[i] = xs[i] * ws[i];
  for (std::int32_t j = 1; j <= 2 * ncoef - 2; ++j) {
    if (j < ncoef) {
      double b = 0.0;
      for (std::int32_t i = 0; i < npts; ++i) b += ys[i] * g[i];
      m[ncoef][j] = b * keep;
    }
    double s = 0.0;
    for (std::int32_t i = 0; i < npts; ++i) s += g[i];
    // S(j) fills the anti-diagonal r + c = j.
    for (std::int32_t r = 0; r < ncoef; ++r)
      if (j - r >= 0 && j - r < ncoef) m[r][j - r] = s * keep;
    for (std::int32_t i = 0; i < npts; ++i) g[i] = g[i] * xs[i];
  }
  host_free(g);
}

}  // namespace

double** normal_equations(std::int32_t ncoef, std::int32_t npts, const double* xs, const double* ys,
                          const double* ws, double smoothness, double lo, double hi) {
  if (ncoef <= 0 || ncoef > MAX_NCOEF) return nullptr;
  double** m = alloc_rows(ncoef + 1, ncoef);
  if (ncoef >= 2 && smoothness >= 1.0) {
    for (std::int32_t r = 0; r <= ncoef; ++r)
      for (std::int32_t c = 0; c < ncoef; ++c) m[r][c] = 0.0;
  } else {
    data_term(m, ncoef, npts, xs, ys, ws, 1.0 - smoothness);
  }
  if (ncoef > 2 && smoothness > 0.0) add_curvature_penalty(m, ncoef, smoothness, lo, hi);
  return m;
}

double** invert_matrix(double* const* a, std::int32_t n) {
  double** inv = identity(n);
  double** w = alloc_rows(n, n);
  for (std::int32_t r = 0; r < n; ++r)
    for (std::int32_t c = 0; c < n; ++c) w[r][c] = a[r][c];
  for (std::int32_t j = 0; j < n; ++j) {
    // Partial pivoting; a later row wins only when strictly larger.
    std::int32_t p = j;
    for (std::int32_t k = j + 1; k < n; ++k)
      if (std::fabs(w[k][j]) > std::fabs(w[p][j])) p = k;
    if (std::fabs(w[p][j]) == 0.0) {
      std::fputs("Error: Singular matrix inversion attempted.\n", stderr);
      free_rows(inv, n);
      free_rows(w, n);
      return nullptr;
    }
    if (p != j) {
      for (std::int32_t k = j; k < n; ++k) std::swap(w[j][k], w[p][k]);
      for (std::int32_t k = 0; k < n; ++k) std::swap(inv[j][k], inv[p][k]);
    }
    for (std::int32_t l = 0; l < n; ++l) {
      if (l == j) continue;
      const double h = w[l][j] / w[j][j];
      w[l][j] = 0.0;
      for (std::int32_t k = j + 1; k < n; ++k) w[l][k] -= h * w[j][k];
      for (std::int32_t k = 0; k < n; ++k) inv[l][k] -= h * inv[j][k];
    }
    for (std::int32_t k = j + 1; k < n; ++k) w[j][k] = w[j][k] / w[j][j];
    for (std::int32_t k = 0; k < n; ++k) inv[j][k] = inv[j][k] / w[j][j];
    w[j][j] = 1.0;
  }
  free_rows(w, n);
  // The product check: the first entry of a * inv - I beyond the limit.
  for (std::int32_t k = 0; k < n; ++k) {
    for (std::int32_t l = 0; l < n; ++l) {
      double d = a[k][0] * inv[0][l];
      for (std::int32_t m = 1; m < n; ++m) d += inv[m][l] * a[k][m];
      if (k == l) d -= 1.0;
      if (std::fabs(d) > 10000.0001) {
        std::fprintf(stderr, "Warning: Unstable equation system [%f]\n", d);
        return inv;
      }
    }
  }
  return inv;
}

poly_fit* fit_polynomial(std::int32_t ncoef, std::int32_t npts, const double* xs, const double* ys,
                         const double* ws, double smoothness, double lo, double hi) {
  if (ncoef <= 0 || ncoef > MAX_NCOEF) return nullptr;
  double lambda = smoothness;
  if (!(lambda >= 0.0 && lambda <= 1.0)) {
    std::fprintf(stderr, "Confounding weighting (%f) of smoothness requirement.\n", lambda);
    return nullptr;
  }
  if (lambda == 1.0 && ncoef >= 3) {
    // Infinite smoothness leaves no curvature: fit a straight line instead.
    ncoef = 2;
    lambda = 0.0;
  }
  if (lambda > 0.0 && lambda < 1.0) lambda = rescale_smoothness(lambda, npts, ws);
  double** sys = normal_equations(ncoef, npts, xs, ys, ws, lambda, lo, hi);
  double** inv = invert_matrix(sys, ncoef);
  if (inv == nullptr) {
    free_rows(sys, ncoef + 1);
    return nullptr;
  }
  poly_fit* fit = new_poly_fit(ncoef);
  for (std::int32_t i = 0; i < ncoef; ++i) {
    double c = inv[i][0] * sys[ncoef][0];
    for (std::int32_t k = 1; k < ncoef; ++k) c += inv[i][k] * sys[ncoef][k];
    fit->coef[i] = c;
  }
  free_rows(sys, ncoef + 1);
  free_rows(inv, ncoef);
  return fit;
}

double eval_polynomial(const poly_fit* fit, double x) {
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
