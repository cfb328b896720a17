#include "numeric/polyfit.h"

#include <cmath>
#include <cstdio>

#include "host/host.h"
#include "numeric/matrix.h"
#include "numeric/smoothness.h"

namespace {

poly_fit* new_poly_fit(std::int32_t ncoef) {
  poly_fit* fit = host_alloc_array<poly_fit>(1);
  fit->ncoef = ncoef;
  fit->coef = host_alloc_array<double>(ncoef);
  return fit;
}

// Weighted power sums of the data term, each scaled by `keep` = 1 - lambda
// right after it is summed.
void data_term(double** m, std::int32_t ncoef, std::int32_t npts, const double* xs,
               const double* ys, const double* ws, double keep) {
  double* b = m[ncoef];
  double s = 0.0;
  double sy = 0.0;
  for (std::int32_t i = 0; i < npts; ++i) s += ws[i];
  m[0][0] = s * keep;
  for (std::int32_t i = 0; i < npts; ++i) sy += ys[i] * ws[i];
  b[0] = sy * keep;

  // g[i] runs through w x, w x^2, ..., w x^(2 ncoef - 2).
  double* g = host_alloc_array<double>(npts);
  for (std::int32_t i = 0; i < npts; ++i) g[i] = xs[i] * ws[i];
  for (std::int32_t j = 1; j <= 2 * ncoef - 3; ++j) {
    if (j < ncoef) {
      double t = 0.0;
      for (std::int32_t i = 0; i < npts; ++i) t += ys[i] * g[i];
      b[j] = t * keep;
    }
    double t = 0.0;
    for (std::int32_t i = 0; i < npts; ++i) t += g[i];
    t = t * keep;
    // Hankel matrix: S(j) fills the anti-diagonal r + c = j.
    const std::int32_t r_hi = j < ncoef ? j : ncoef - 1;
    for (std::int32_t r = r_hi; r >= 0 && j - r < ncoef; --r) m[r][j - r] = t;
    for (std::int32_t i = 0; i < npts; ++i) g[i] = g[i] * xs[i];
  }
  double t = 0.0;
  for (std::int32_t i = 0; i < npts; ++i) t += g[i];
  m[ncoef - 1][ncoef - 1] = t * keep;
  host_free(g);
}

}  // namespace

double** normal_equations(std::int32_t ncoef, std::int32_t npts, const double* xs,
                          const double* ys, const double* ws, double smoothness, double lo,
                          double hi) {
  if (ncoef <= 0) return nullptr;
  double** m = alloc_rows(ncoef + 1, ncoef);
  if (ncoef == 1) {
    // A constant has no curvature, so the smoothing weight plays no part.
    double s = 0.0;
    double sy = 0.0;
    for (std::int32_t i = 0; i < npts; ++i) s += ws[i];
    for (std::int32_t i = 0; i < npts; ++i) sy += ws[i] * ys[i];
    m[0][0] = s;
    m[1][0] = sy;
    return m;
  }
  if (smoothness < 1.0) {
    data_term(m, ncoef, npts, xs, ys, ws, 1.0 - smoothness);
  } else {
    for (std::int32_t r = 0; r <= ncoef; ++r)
      for (std::int32_t c = 0; c < ncoef; ++c) m[r][c] = 0.0;
  }
  if (smoothness > 0.0 && ncoef > 2) add_curvature_penalty(m, ncoef, smoothness, lo, hi);
  return m;
}

double** invert_matrix(double* const* a, std::int32_t n) {
  double** inv = alloc_rows(n, n);
  double** w = alloc_rows(n, n);
  for (std::int32_t r = 0; r < n; ++r) {
    for (std::int32_t c = 0; c < n; ++c) {
      inv[r][c] = r == c ? 1.0 : 0.0;
      w[r][c] = a[r][c];
    }
  }
  for (std::int32_t j = 0; j < n; ++j) {
    // Partial pivoting; the lowest row wins ties.
    std::int32_t p = j;
    double best = std::fabs(w[j][j]);
    for (std::int32_t k = j + 1; k < n; ++k) {
      if (std::fabs(w[k][j]) > best) {
        best = std::fabs(w[k][j]);
        p = k;
      }
    }
    if (best == 0.0) {
      std::fputs("Error: Singular matrix inversion attempted.\n", stderr);
      free_rows(inv, n);
      free_rows(w, n);
      return nullptr;
    }
    if (p != j) {
      // Columns left of j are already zero in both rows, so exchanging the
      // whole rows of w equals exchanging columns j..n-1.
      double* t = w[j];
      w[j] = w[p];
      w[p] = t;
      t = inv[j];
      inv[j] = inv[p];
      inv[p] = t;
    }
    const double* wj = w[j];
    const double* ij = inv[j];
    for (std::int32_t l = 0; l < n; ++l) {
      if (l == j) continue;
      double* wl = w[l];
      double* il = inv[l];
      const double h = wl[j] / wj[j];
      wl[j] = 0.0;
      for (std::int32_t k = j + 1; k < n; ++k) wl[k] -= h * wj[k];
      for (std::int32_t k = 0; k < n; ++k) il[k] -= h * ij[k];
    }
    // Divide by the pivot itself: a reciprocal would round differently.
    double* wjm = w[j];
    double* ijm = inv[j];
    const double pivot = wjm[j];
    for (std::int32_t k = j + 1; k < n; ++k) wjm[k] = wjm[k] / pivot;
    for (std::int32_t k = 0; k < n; ++k) ijm[k] = ijm[k] / pivot;
    wjm[j] = 1.0;
  }
  free_rows(w, n);

  // Product check: a * inv should be the identity.
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

poly_fit* fit_polynomial(std::int32_t ncoef, std::int32_t npts, const double* xs,
                         const double* ys, const double* ws, double smoothness, double lo,
                         double hi) {
  if (ncoef <= 0) return nullptr;
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
  const double* b = sys[ncoef];
  for (std::int32_t i = 0; i < ncoef; ++i) {
    double c = inv[i][0] * b[0];
    for (std::int32_t k = 1; k < ncoef; ++k) c += inv[i][k] * b[k];
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
