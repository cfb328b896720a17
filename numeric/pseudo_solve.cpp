#include "numeric/pseudo_solve.h"

#include <cfloat>
#include <cmath>

namespace {

double dot(const double* a, const double* b, std::int32_t n) {
  double s = 0.0;
  for (std::int32_t i = 0; i < n; ++i) s += a[i] * b[i];
  return s;
}

// The same sum in four running parts (i mod 4), added pairwise at the end:
// four additions in flight instead of one after another, and its own fixed
// order, so the same bits on any processor.
double striped_dot(const double* a, const double* b, std::int32_t n) {
  double s[4] = {0.0, 0.0, 0.0, 0.0};
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (std::int32_t j = 0; j < 4; ++j) s[j] += a[i + j] * b[i + j];
  for (; i < n; ++i) s[i & 3] += a[i] * b[i];
  return (s[0] + s[1]) + (s[2] + s[3]);
}

using dot_fn = double (*)(const double*, const double*, std::int32_t);

// Householder QR of the rows x k matrix b in place, R on and above the
// diagonal, eta taken to Q' eta. Below the diagonal are the reflectors but
// their first entries, which go to head[l] (0 where a column needed none).
void householder(double* b, std::int32_t rows, std::int32_t k, double* eta, double* head,
                 dot_fn long_dot) {
  for (std::int32_t l = 0; l < k; ++l) {
    double* v = b + static_cast<std::int64_t>(l) * rows + l;
    const std::int32_t m = rows - l;
    double norm = std::sqrt(long_dot(v, v, m));
    head[l] = 0.0;
    if (norm == 0.0) continue;
    if (v[0] != 0.0) norm = std::copysign(norm, v[0]);
    for (std::int32_t i = 0; i < m; ++i) v[i] /= norm;
    v[0] += 1.0;
    for (std::int32_t j = l + 1; j < k; ++j) {
      double* c = b + static_cast<std::int64_t>(j) * rows + l;
      const double t = -long_dot(v, c, m) / v[0];
      for (std::int32_t i = 0; i < m; ++i) c[i] += t * v[i];
    }
    const double t = -long_dot(v, eta + l, m) / v[0];
    for (std::int32_t i = 0; i < m; ++i) eta[l + i] += t * v[i];
    head[l] = v[0];
    v[0] = -norm;
  }
}

// Q z for z = [g; 0] (rows long) into z: the reflectors of b, last first.
void apply_q(const double* b, std::int32_t rows, std::int32_t k, const double* head,
             const double* g, double* z) {
  for (std::int32_t i = 0; i < rows; ++i) z[i] = i < k ? g[i] : 0.0;
  for (std::int32_t l = k - 1; l >= 0; --l) {
    if (head[l] == 0.0) continue;
    const double* v = b + static_cast<std::int64_t>(l) * rows + l;
    const std::int32_t m = rows - l;
    double s = head[l] * z[l];
    for (std::int32_t i = 1; i < m; ++i) s += v[i] * z[l + i];
    const double t = -s / head[l];
    z[l] += t * head[l];
    for (std::int32_t i = 1; i < m; ++i) z[l + i] += t * v[i];
  }
}

void rotate(double* x, double* y, double c, double s, std::int32_t k) {
  for (std::int32_t i = 0; i < k; ++i) {
    const double a = x[i];
    const double b = y[i];
    x[i] = c * a - s * b;
    y[i] = s * a + c * b;
  }
}

// One-sided Jacobi on the k x k matrix a (column j at a + j k): rotates
// its columns, and v's alike, until every pair is orthogonal. The columns'
// lengths are then the singular values.
void jacobi(double* a, double* v, std::int32_t k) {
  constexpr int MAX_SWEEPS = 64;
  for (int sweep = 0; sweep < MAX_SWEEPS; ++sweep) {
    bool rotated = false;
    for (std::int32_t p = 0; p + 1 < k; ++p) {
      for (std::int32_t q = p + 1; q < k; ++q) {
        double* ap = a + p * k;
        double* aq = a + q * k;
        const double alpha = dot(ap, ap, k);
        const double beta = dot(aq, aq, k);
        const double gamma = dot(ap, aq, k);
        // NaN fails this test too, so that no sweep runs on it forever.
        if (!(std::fabs(gamma) > DBL_EPSILON * std::sqrt(alpha) * std::sqrt(beta))) continue;
        const double zeta = (beta - alpha) / (2.0 * gamma);
        const double t = std::copysign(1.0, zeta) / (std::fabs(zeta) + std::hypot(1.0, zeta));
        const double c = 1.0 / std::sqrt(1.0 + t * t);
        const double s = c * t;
        rotate(ap, aq, c, s, k);
        rotate(v + p * k, v + q * k, c, s, k);
        rotated = true;
      }
    }
    if (!rotated) break;
  }
}

}  // namespace

bool pseudo_solve(double* b, std::int32_t rows, std::int32_t k, double* eta, double* coef,
                  double* first_row, sum_order order) {
  const dot_fn long_dot = order == sum_order::striped ? striped_dot : dot;
  constexpr std::int32_t K = PSEUDO_MAX_COLUMNS;
  double scale[K];
  for (std::int32_t j = 0; j < k; ++j) {
    double* c = b + static_cast<std::int64_t>(j) * rows;
    scale[j] = std::sqrt(long_dot(c, c, rows));
    if (scale[j] > 0.0) {
      for (std::int32_t i = 0; i < rows; ++i) c[i] /= scale[j];
    } else {
      scale[j] = 1.0;
    }
  }
  double head[K] = {};
  householder(b, rows, k, eta, head, long_dot);
  double a[K * K];
  double v[K * K];
  for (std::int32_t j = 0; j < k; ++j) {
    for (std::int32_t i = 0; i < k; ++i) {
      a[j * k + i] = i <= j ? b[static_cast<std::int64_t>(j) * rows + i] : 0.0;
      v[j * k + i] = i == j ? 1.0 : 0.0;
    }
  }
  jacobi(a, v, k);
  double sigma[K];
  double largest = 0.0;
  for (std::int32_t j = 0; j < k; ++j) {
    sigma[j] = std::sqrt(dot(a + j * k, a + j * k, k));
    if (sigma[j] > largest) largest = sigma[j];
  }
  const double tol = largest * (100.0 * DBL_EPSILON);
  for (std::int32_t i = 0; i < k; ++i) coef[i] = 0.0;
  for (std::int32_t j = 0; j < k; ++j) {
    if (!(tol < sigma[j])) continue;
    // u_j = a_j / sigma_j; its share of the solution is v_j u_j' eta / sigma_j.
    const double g = dot(a + j * k, eta, k) / sigma[j] / sigma[j];
    for (std::int32_t i = 0; i < k; ++i) coef[i] += v[j * k + i] * g;
  }
  for (std::int32_t i = 0; i < k; ++i) coef[i] /= scale[i];
  if (first_row != nullptr) {
    // coef[0] = g' (Q' eta)[0, k) with g the same sums for the first
    // coefficient alone: its row of the pseudo-inverse is Q [g; 0].
    double g[K];
    for (std::int32_t i = 0; i < k; ++i) g[i] = 0.0;
    for (std::int32_t j = 0; j < k; ++j) {
      if (!(tol < sigma[j])) continue;
      const double h = v[j * k] / sigma[j] / sigma[j] / scale[0];
      for (std::int32_t i = 0; i < k; ++i) g[i] += a[j * k + i] * h;
    }
    apply_q(b, rows, k, head, g, first_row);
  }
  return largest > 0.0;
}
