#include "numeric/polyfit.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "host/host.h"
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
  if (ncoef <= 0) return nullptr;
  double** m = alloc_rows(ncoef + 1, ncoef);
  if (ncoef >= 2 && smoothness >= 1.0) {
    for (std::int32_t r = 0; r <= ncoef; ++r)
      for (std::int32_t c = 0; c < ncoef; ++c) m[r][c] = 0.0;
  } else {
    double* sums = host_alloc_array<double>(3 * ncoef - 1);
    const double* const x2[2] = {xs, xs};
    const double* const y2[2] = {ys, ys};
    double* const s2[2] = {sums, sums};
    auto given = [ws](std::int32_t i, v2d) { return v2d{ws[i], ws[i]}; };
    normal_sums(ncoef, npts, x2, y2, given, s2);
    fill_normal_system(m, ncoef, sums, 1.0 - smoothness);
    host_free(sums);
  }
  if (ncoef > 2 && smoothness > 0.0) add_curvature_penalty(m, ncoef, smoothness, lo, hi);
  return m;
}

namespace {

// The solve is written once over the element type: double for one system,
// v2d for two systems side by side (one per lane, as the local fits pair
// their queries). Lanes never mix, so each computes what double would.
inline double lane(double v, int) { return v; }
inline double lane(v2d v, int k) { return v[k]; }
template <typename T>
T splat(double v) {
  return T{} + v;
}
template <typename T>
constexpr int LANES = sizeof(T) / sizeof(double);

enum class solve_status { ok, singular, pivots_differ };

// Gauss-Jordan with partial pivoting of the n-by-n `a` into `inv`, with `w`
// as its working copy; rows index like r[i][j] (row pointers, or local
// arrays when N > 0 fixes the order at compile time so the small systems
// of the local fits run unrolled). Two lanes must agree on every pivot row.
// Prints nothing: `unstable[k]` tells whether lane k failed the product
// check, and `worst[k]` holds its first offending entry.
template <int N, typename T, typename ARows, typename Rows>
solve_status gauss_jordan_core(ARows a, Rows w, Rows inv, std::int32_t n_rt, bool unstable[],
                               double worst[]) {
  constexpr int L = LANES<T>;
  const std::int32_t n = N > 0 ? N : n_rt;
  for (std::int32_t r = 0; r < n; ++r) {
    for (std::int32_t c = 0; c < n; ++c) {
      inv[r][c] = splat<T>(r == c ? 1.0 : 0.0);
      w[r][c] = a[r][c];
    }
  }
  for (std::int32_t j = 0; j < n; ++j) {
    // Partial pivoting; the lowest row wins ties.
    std::int32_t p[L] = {};
    for (int k = 0; k < L; ++k) {
      p[k] = j;
      double best = std::fabs(lane(w[j][j], k));
      for (std::int32_t r = j + 1; r < n; ++r) {
        if (std::fabs(lane(w[r][j], k)) > best) {
          best = std::fabs(lane(w[r][j], k));
          p[k] = r;
        }
      }
      if (best == 0.0) return solve_status::singular;
      if (p[k] != p[0]) return solve_status::pivots_differ;
    }
    if (p[0] != j) {
      // Columns left of j are already zero in both rows, so exchanging the
      // whole rows of w equals exchanging columns j..n-1.
      std::swap(w[j], w[p[0]]);
      std::swap(inv[j], inv[p[0]]);
    }
    for (std::int32_t l = 0; l < n; ++l) {
      if (l == j) continue;
      const T h = w[l][j] / w[j][j];
      w[l][j] = splat<T>(0.0);
      for (std::int32_t k = j + 1; k < n; ++k) w[l][k] -= h * w[j][k];
      for (std::int32_t k = 0; k < n; ++k) inv[l][k] -= h * inv[j][k];
    }
    // Divide by the pivot itself: a reciprocal would round differently.
    const T pivot = w[j][j];
    for (std::int32_t k = j + 1; k < n; ++k) w[j][k] = w[j][k] / pivot;
    for (std::int32_t k = 0; k < n; ++k) inv[j][k] = inv[j][k] / pivot;
    w[j][j] = splat<T>(1.0);
  }

  // Product check: a * inv should be the identity. Each lane stops at its
  // first entry off by more than 10000.0001.
  int pending = L;
  for (int k = 0; k < L; ++k) unstable[k] = false;
  for (std::int32_t k = 0; k < n && pending > 0; ++k) {
    for (std::int32_t l = 0; l < n && pending > 0; ++l) {
      T d = a[k][0] * inv[0][l];
      for (std::int32_t m = 1; m < n; ++m) d += inv[m][l] * a[k][m];
      if (k == l) d -= 1.0;
      for (int e = 0; e < L; ++e) {
        if (!unstable[e] && std::fabs(lane(d, e)) > 10000.0001) {
          unstable[e] = true;
          worst[e] = lane(d, e);
          --pending;
        }
      }
    }
  }
  return solve_status::ok;
}

template <int N, typename Rows>
fit_trouble gauss_jordan_1(double* const* a, Rows w, Rows inv, std::int32_t n) {
  fit_trouble t;
  bool unstable[1];
  double worst[1] = {0.0};
  if (gauss_jordan_core<N, double>(a, w, inv, n, unstable, worst) != solve_status::ok) {
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

// coef[i] = sum over k of inv[i][k] b[k], from the first product on.
template <typename T, typename Rows>
void combine(Rows inv, const T* b, T* coef, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    T c = inv[i][0] * b[0];
    for (std::int32_t k = 1; k < n; ++k) c += inv[i][k] * b[k];
    coef[i] = c;
  }
}

// Ascending powers, the power a running product.
template <typename T>
T poly_value(const T* coef, std::int32_t n, T x) {
  T value = coef[0];
  T power = x;
  for (std::int32_t k = 1; k < n; ++k) {
    value += power * coef[k];
    power *= x;
  }
  return value;
}

template <int N>
bool fit_pair_fixed(const double* const sums[2], const double xq[2], double out[2],
                    fit_trouble trouble[2]) {
  v2d a[N][N];
  v2d b[N];
  // As fill_normal_system with the local fits' keep factor of 1.
  const v2d keep = splat<v2d>(1.0);
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c < N; ++c) a[r][c] = v2d{sums[0][r + c], sums[1][r + c]};
    b[r] = v2d{sums[0][2 * N - 1 + r], sums[1][2 * N - 1 + r]};
    if (N > 1) {
      for (int c = 0; c < N; ++c) a[r][c] = a[r][c] * keep;
      b[r] = b[r] * keep;
    }
  }
  v2d w[N][N];
  v2d inv[N][N];
  bool unstable[2];
  double worst[2] = {0.0, 0.0};
  if (gauss_jordan_core<N, v2d>(a, w, inv, N, unstable, worst) != solve_status::ok) return false;
  for (int k = 0; k < 2; ++k) {
    trouble[k].singular = false;
    trouble[k].unstable = unstable[k];
    trouble[k].worst = worst[k];
  }
  v2d coef[N];
  combine<v2d>(inv, b, coef, N);
  const v2d value = poly_value<v2d>(coef, N, v2d{xq[0], xq[1]});
  out[0] = value[0];
  out[1] = value[1];
  return true;
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
  combine<double>(inv, b, coef, n);
}

bool fit_pair_from_sums(std::int32_t ncoef, const double* const sums[2], const double xq[2],
                        double out[2], fit_trouble trouble[2]) {
  switch (ncoef) {
    case 1: return fit_pair_fixed<1>(sums, xq, out, trouble);
    case 2: return fit_pair_fixed<2>(sums, xq, out, trouble);
    case 3: return fit_pair_fixed<3>(sums, xq, out, trouble);
    case 4: return fit_pair_fixed<4>(sums, xq, out, trouble);
    default: return false;
  }
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
  solve_coefficients(inv, sys[ncoef], fit->coef, ncoef);
  free_rows(sys, ncoef + 1);
  free_rows(inv, ncoef);
  return fit;
}

double eval_polynomial(const poly_fit* fit, double x) {
  return poly_value<double>(fit->coef, fit->ncoef, x);
}

void free_polynomial(poly_fit* fit) {
  host_free(fit->coef);
  host_free(fit);
}
