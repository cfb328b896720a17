// Weighted polynomial least squares through the normal equations, solved by
// an explicit Gauss-Jordan inverse. Every sum runs over the points in
// ascending order from +0.0; results are reproducible to the last bit.
#ifndef QUIBRA_NUMERIC_POLYFIT_H
#define QUIBRA_NUMERIC_POLYFIT_H

#include <cstdint>

// The most coefficients a fit may have (degree 100). Beyond it the power
// sums overflow for |x| above ~35, and the normal system alone would need
// (degree + 1)^2 doubles per fit. Every fit rejects larger counts, and the
// call's argument check is derived from this.
inline constexpr std::int32_t MAX_NCOEF = 101;

// p(x) = coef[0] + coef[1] x + ... + coef[ncoef-1] x^(ncoef-1).
struct poly_fit {
  std::int32_t ncoef;
  double* coef;
};

// Minimises (1 - s') sum w (y - p(x))^2 + s' * integral_lo^hi p''(x)^2 dx,
// with s' the smoothing weight `smoothness` rescaled by the total weight.
// Null when the normal matrix is singular (reported on standard error),
// `smoothness` lies outside [0, 1], or `ncoef` outside [1, MAX_NCOEF].
poly_fit* fit_polynomial(std::int32_t ncoef, std::int32_t npts, const double* xs,
                         const double* ys, const double* ws, double smoothness, double lo,
                         double hi);

// The normal system: rows 0..ncoef-1 hold M[r][c] = sum w x^(r+c), row
// ncoef holds b[r] = sum y w x^r (scaled and penalised by `smoothness`).
// Null when ncoef lies outside [1, MAX_NCOEF].
double** normal_equations(std::int32_t ncoef, std::int32_t npts, const double* xs,
                          const double* ys, const double* ws, double smoothness, double lo,
                          double hi);

// A new n-by-n inverse of the n-by-n matrix `a` (not modified), or null
// when a pivot column is exactly zero. Warns on standard error when
// a * inverse - I has an entry beyond 10000.0001 in magnitude.
double** invert_matrix(double* const* a, std::int32_t n);

double eval_polynomial(const poly_fit* fit, double x);
void free_polynomial(poly_fit* fit);

// The building blocks above, for callers that fit many times and keep
// their scratch between fits. These print nothing: they tell what they met
// in a fit_trouble, and the caller decides when and whether to write it.

// What one local solve met. `singular`: no inverse, the fit fails.
// `unstable`: the inverse failed its product check, first at entry `worst`;
// the fit stands.
struct fit_trouble {
  bool singular = false;
  bool unstable = false;
  double worst = 0.0;
};

// Writes t's line on standard error, if it has one: "Error: Singular matrix
// inversion attempted." or "Warning: Unstable equation system [worst]".
void write_trouble(const fit_trouble& t);

// The normal system in m (ncoef + 1 rows of ncoef) from normal_sums'
// result (numeric/normal_sums.h), every entry times `keep` (1 - smoothing weight) when ncoef >= 2.
void fill_normal_system(double** m, std::int32_t ncoef, const double* sums, double keep);

// Gauss-Jordan inverse of the n-by-n matrix a into inv, with w as room
// for the working copy (both n rows of n; contents overwritten and row
// pointers possibly exchanged; small orders work on the stack instead).
// No inverse when the result is singular.
fit_trouble gauss_jordan(double* const* a, double** w, double** inv, std::int32_t n);

// coef[i] = sum over k of inv[i][k] b[k], in ascending k.
void solve_coefficients(double* const* inv, const double* b, double* coef, std::int32_t n);

#endif
