// The first coefficient of a least-squares fit through the normal
// equations, for the windows where they are safe: the columns scaled to
// unit length, their Gram matrix and its Cholesky factor. A window whose
// scaled Gram matrix is not well conditioned is left to the solve by
// singular values (numeric/pseudo_solve.h), which agrees with this one to
// rounding wherever this one answers.
// The sums run over the window in blocks, so that each block's columns
// stay in the nearest cache, in sixteen striped parts (point i in part
// i mod 16) added pairwise at the end: enough independent additions for
// any vector width, and one fixed order, so the same bits on every
// processor and for any block size that is a multiple of 16.
#ifndef QUIBRA_NUMERIC_GRAM_SOLVE_H
#define QUIBRA_NUMERIC_GRAM_SOLVE_H

#include <cmath>
#include <cstdint>

#include "numeric/pseudo_solve.h"

// The largest 1-norm condition number of the scaled Gram matrix taken
// here. Its rounding then moves the first coefficient by about this many
// units of rounding of the ordinates' size: far inside the agreement
// with R's loess the surfaces keep (1e-10 of max|y|).
inline constexpr double GRAM_MAX_CONDITION = 1e4;

inline constexpr int GRAM_STRIPES = 16;
// The Gram matrix's lower triangle and the right-hand side.
inline constexpr std::int32_t GRAM_SUMS =
    PSEUDO_MAX_COLUMNS * (PSEUDO_MAX_COLUMNS + 1) / 2 + PSEUDO_MAX_COLUMNS;

// The fit of ordinates y on k terms with weights W. A block of m points
// comes as u, the k weighted columns u_a = W t_a (u_0 = W), and t, the
// k - 1 terms but the constant, unweighted (column a of each at
// + a * stride). The normal equations sum_b (sum W t_a t_b) c_b =
// sum W t_a y are those of the least squares of sqrt(W) t against
// sqrt(W) y.
struct gram_sums {
  std::int32_t k = 0;
  double part[GRAM_SUMS][GRAM_STRIPES];
};

inline void gram_start(gram_sums& g, std::int32_t k) {
  g.k = k;
  const std::int32_t sums = k * (k + 1) / 2 + k;
  for (std::int32_t s = 0; s < sums; ++s)
    for (int j = 0; j < GRAM_STRIPES; ++j) g.part[s][j] = 0.0;
}

namespace gram_detail {

// part[i mod 16] += a_i b_i (b null: a_i) over one block.
inline void add_striped(double* part, const double* a, const double* b, std::int32_t m) {
  double s[GRAM_STRIPES];
  for (int j = 0; j < GRAM_STRIPES; ++j) s[j] = part[j];
  std::int32_t i = 0;
  if (b == nullptr) {
    for (; i + GRAM_STRIPES <= m; i += GRAM_STRIPES)
      for (int j = 0; j < GRAM_STRIPES; ++j) s[j] += a[i + j];
    for (; i < m; ++i) s[i % GRAM_STRIPES] += a[i];
  } else {
    for (; i + GRAM_STRIPES <= m; i += GRAM_STRIPES)
      for (int j = 0; j < GRAM_STRIPES; ++j) s[j] += a[i + j] * b[i + j];
    for (; i < m; ++i) s[i % GRAM_STRIPES] += a[i] * b[i];
  }
  for (int j = 0; j < GRAM_STRIPES; ++j) part[j] = s[j];
}

inline double striped_total(const double* part) {
  double s[GRAM_STRIPES];
  for (int j = 0; j < GRAM_STRIPES; ++j) s[j] = part[j];
  for (int width = GRAM_STRIPES / 2; width > 0; width /= 2)
    for (int j = 0; j < width; ++j) s[j] += s[j + width];
  return s[0];
}

}  // namespace gram_detail

// Adds a block of m points; every block but the last holds a multiple of
// 16 points.
inline void gram_add(gram_sums& g, const double* u, const double* t, std::int64_t stride,
                     std::int32_t m, const double* y) {
  const std::int32_t k = g.k;
  for (std::int32_t j = 0; j < k; ++j) {
    const double* uj = u + j * stride;
    for (std::int32_t l = 0; l <= j; ++l)
      gram_detail::add_striped(g.part[j * (j + 1) / 2 + l], uj,
                               l == 0 ? nullptr : t + (l - 1) * stride, m);
    gram_detail::add_striped(g.part[k * (k + 1) / 2 + j], uj, y, m);
  }
}

// On success *first is the first coefficient, sum_a h_a (sum u_a y), and
// h the weights that give each point's share of it, sum_a h_a u_a[i].
// Returns false, writing nothing, where a column is 0 or the condition
// exceeds the limit.
inline bool gram_first(const gram_sums& g, double* first, double h[PSEUDO_MAX_COLUMNS]) {
  using gram_detail::striped_total;
  constexpr std::int32_t K = PSEUDO_MAX_COLUMNS;
  const std::int32_t k = g.k;
  double c[K];
  double scale[K];
  double a[K][K];
  for (std::int32_t j = 0; j < k; ++j) {
    c[j] = striped_total(g.part[k * (k + 1) / 2 + j]);
    scale[j] = std::sqrt(striped_total(g.part[j * (j + 1) / 2 + j]));
    if (!(scale[j] > 0.0) || !std::isfinite(scale[j])) return false;
  }
  // The scaled matrix, unit diagonal (lower triangle), its 1-norm, and
  // its Cholesky factor.
  for (std::int32_t j = 0; j < k; ++j) {
    for (std::int32_t l = 0; l < j; ++l)
      a[j][l] = striped_total(g.part[j * (j + 1) / 2 + l]) / scale[j] / scale[l];
    a[j][j] = 1.0;
  }
  double norm = 0.0;
  for (std::int32_t j = 0; j < k; ++j) {
    double sum = 0.0;
    for (std::int32_t l = 0; l < k; ++l) sum += std::fabs(l <= j ? a[j][l] : a[l][j]);
    norm = sum > norm ? sum : norm;
  }
  double f[K][K];
  for (std::int32_t j = 0; j < k; ++j) {
    for (std::int32_t l = 0; l <= j; ++l) {
      double s = a[j][l];
      for (std::int32_t p = 0; p < l; ++p) s -= f[j][p] * f[l][p];
      if (l < j) {
        f[j][l] = s / f[l][l];
      } else {
        if (!(s > 0.0)) return false;
        f[j][j] = std::sqrt(s);
      }
    }
  }
  // The inverse, column by column (forward then back substitution): its
  // 1-norm for the condition, and its first column (= first row).
  double inv0[K];
  double inv_norm = 0.0;
  for (std::int32_t col = 0; col < k; ++col) {
    double z[K];
    for (std::int32_t j = 0; j < k; ++j) {
      double s = j == col ? 1.0 : 0.0;
      for (std::int32_t p = 0; p < j; ++p) s -= f[j][p] * z[p];
      z[j] = s / f[j][j];
    }
    for (std::int32_t j = k - 1; j >= 0; --j) {
      double s = z[j];
      for (std::int32_t p = j + 1; p < k; ++p) s -= f[p][j] * z[p];
      z[j] = s / f[j][j];
    }
    double sum = 0.0;
    for (std::int32_t j = 0; j < k; ++j) sum += std::fabs(z[j]);
    inv_norm = sum > inv_norm ? sum : inv_norm;
    if (col == 0)
      for (std::int32_t j = 0; j < k; ++j) inv0[j] = z[j];
  }
  if (!(norm * inv_norm <= GRAM_MAX_CONDITION)) return false;
  double value = 0.0;
  for (std::int32_t j = 0; j < k; ++j) {
    h[j] = inv0[j] / scale[0] / scale[j];
    value += h[j] * c[j];
  }
  *first = value;
  return true;
}

#endif
