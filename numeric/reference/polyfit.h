// Weighted polynomial least squares through the normal equations, solved by
// an explicit Gauss-Jordan inverse, written out one fit at a time in plain
// scalar code: the reference that the module's fused, vectorised kernels
// (numeric/normal_sums.h, numeric/lane_solve.h, numeric/solve.h) are
// tested and fuzzed against, bit for bit. Built into the tests and the fuzz
// targets, never into the module. Every sum runs over the points in
// ascending order from +0.0.
#ifndef QUIBRA_NUMERIC_REFERENCE_POLYFIT_H
#define QUIBRA_NUMERIC_REFERENCE_POLYFIT_H

#include <cstdint>

#include "numeric/solve.h"

// p(x) = coef[0] + coef[1] x + ... + coef[ncoef-1] x^(ncoef-1).
struct poly_fit {
  std::int32_t ncoef;
  double* coef;
};

// Minimises (1 - s') sum w (y - p(x))^2 + s' * integral_lo^hi p''(x)^2 dx,
// with s' the smoothing weight `smoothness` rescaled by the total weight.
// Null when the normal matrix is singular (reported on standard error),
// `smoothness` lies outside [0, 1], or `ncoef` outside [1, MAX_NCOEF].
poly_fit* fit_polynomial(std::int32_t ncoef, std::int32_t npts, const double* xs, const double* ys,
                         const double* ws, double smoothness, double lo, double hi);

// The normal system: rows 0..ncoef-1 hold M[r][c] = sum w x^(r+c), row
// ncoef holds b[r] = sum y w x^r (scaled and penalised by `smoothness`).
// Null when ncoef lies outside [1, MAX_NCOEF].
double** normal_equations(std::int32_t ncoef, std::int32_t npts, const double* xs, const double* ys,
                          const double* ws, double smoothness, double lo, double hi);

// A new n-by-n inverse of the n-by-n matrix `a` (not modified), or null
// when a pivot column is exactly zero. Warns on standard error when
// a * inverse - I has an entry beyond 10000.0001 in magnitude.
double** invert_matrix(double* const* a, std::int32_t n);

// The polynomial at x: ascending powers, the power a running product.
double eval_polynomial(const poly_fit* fit, double x);
void free_polynomial(poly_fit* fit);

#endif
