// Least squares by its singular values, the way R's loess solves each local
// fit: the columns scaled to unit length, a Householder QR of the scaled
// matrix, the singular value decomposition of its triangle (one-sided
// Jacobi), and the pseudo-inverse, which drops every singular value at or
// below 100 machine epsilons of the largest. A near-singular fit so gives
// the minimum-norm solution in the scaled columns, not a failure.
#ifndef QUIBRA_NUMERIC_PSEUDO_SOLVE_H
#define QUIBRA_NUMERIC_PSEUDO_SOLVE_H

#include <cstdint>

// The most columns a solve takes: a quadratic in four predictors.
inline constexpr std::int32_t PSEUDO_MAX_COLUMNS = 15;

// Solves b c = eta in least squares for the `k` coefficients `coef`, b
// being `rows` >= k by k, column j at b + j * rows. Overwrites b and eta.
// Returns false, coef all 0, where every column is 0 (no point weighs
// anything). With `first_row` (room for `rows`): the first coefficient's
// row of the pseudo-inverse, coef[0] = sum_i first_row[i] eta[i] (the
// solution itself keeps its bits either way).
// The sums over the rows: one after another (R's order, which one
// predictor's loess keeps), or striped in four running parts, several
// times faster on long windows and as reproducible.
enum class sum_order { sequential, striped };

bool pseudo_solve(double* b, std::int32_t rows, std::int32_t k, double* eta, double* coef,
                  double* first_row = nullptr, sum_order order = sum_order::sequential);

#endif
