// The Gauss-Jordan solve of the local fits, written once over the element
// type: double for one system, a vector of L doubles for L systems side by
// side (one per lane, as the local fits group their queries). Lanes never
// mix, so each computes what double would. In a header so that the wider
// lane paths compile it inside their own instruction set.
#ifndef QUIBRA_NUMERIC_LANE_SOLVE_H
#define QUIBRA_NUMERIC_LANE_SOLVE_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "numeric/lanes.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"

namespace lane_solve {

enum class solve_status { ok, singular };

// Gauss-Jordan with partial pivoting of the n-by-n `a` into `inv`, with `w`
// as its working copy; rows index like r[i][j] (row pointers, or local
// arrays when N > 0 fixes the order at compile time so the small systems
// of the local fits run unrolled). Each lane picks its own pivot rows; a
// lane whose pivot row differs from the others' has its rows exchanged
// lane by lane, so it computes exactly what the scalar solve would.
// Singular when any lane meets a zero pivot column. Prints nothing: `unstable[k]` tells whether
// lane k failed the product check, and `worst[k]` holds its first offending entry.
template <int N, typename T, typename ARows, typename Rows>
inline solve_status gauss_jordan_core(ARows a, Rows w, Rows inv, std::int32_t n_rt, bool unstable[],
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
    }
    // Columns left of j are already zero in both rows, so exchanging the
    // whole rows of w equals exchanging columns j..n-1.
    bool agree = true;
    for (int k = 1; k < L; ++k) agree = agree && p[k] == p[0];
    if (agree) {
      if (p[0] != j) {
        std::swap(w[j], w[p[0]]);
        std::swap(inv[j], inv[p[0]]);
      }
    } else {
      for (int k = 0; k < L; ++k) {
        if (p[k] == j) continue;
        for (std::int32_t c = 0; c < n; ++c) {
          swap_lane(w[j][c], w[p[k]][c], k);
          swap_lane(inv[j][c], inv[p[k]][c], k);
        }
      }
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

// coef[i] = sum over k of inv[i][k] b[k], from the first product on.
template <typename T, typename Rows>
inline void combine(Rows inv, const T* b, T* coef, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    T c = inv[i][0] * b[0];
    for (std::int32_t k = 1; k < n; ++k) c += inv[i][k] * b[k];
    coef[i] = c;
  }
}

// The polynomial coef[0] + coef[1] x + ... at x: ascending powers, the
// power a running product.
template <typename T>
inline T polynomial_at(const T* coef, std::int32_t n, T x) {
  T value = coef[0];
  T power = x;
  for (std::int32_t k = 1; k < n; ++k) {
    value += power * coef[k];
    power *= x;
  }
  return value;
}

// The constant coefficient, row 0 of the inverse times b: the fitted value
// where the fit's coordinate is 0.
template <typename T, typename Row>
inline T first_coefficient(const Row& inv0, const T* b, std::int32_t n) {
  T c = inv0[0] * b[0];
  for (std::int32_t k = 1; k < n; ++k) c += inv0[k] * b[k];
  return c;
}

// What a derivative's fits give beside it: each lane's value (the
// constant coefficient) and its row of the inverse.
struct lane_values {
  double* value = nullptr;
  double* const* rows = nullptr;
};

template <int L, int N>
inline bool fit_lanes_fixed(const double* const sums[L], double out[L], fit_trouble trouble[L],
                            double* const rows[L], const error_limit& limit,
                            double* const inverses[L], std::int32_t d, const double* moment_weight,
                            const lane_values& beside) {
  using vd = typename lanes_of<L>::d;
  vd a[N][N];
  vd b[N];
  // As fill_normal_system with the local fits' keep factor of 1.
  const vd keep = splat<vd>(1.0);
  for (int r = 0; r < N; ++r) {
    for (int c = 0; c < N; ++c) a[r][c] = gather<vd>(sums, r + c);
    b[r] = gather<vd>(sums, 2 * N - 1 + r);
    if (N > 1) {
      for (int c = 0; c < N; ++c) a[r][c] = a[r][c] * keep;
      b[r] = b[r] * keep;
    }
  }
  vd w[N][N];
  vd inv[N][N];
  bool unstable[L];
  double worst[L] = {};
  if (gauss_jordan_core<N, vd>(a, w, inv, N, unstable, worst) != solve_status::ok) return false;
  for (int k = 0; k < L; ++k) {
    trouble[k] = fit_trouble{};
    trouble[k].unstable = unstable[k];
    trouble[k].worst = worst[k];
  }
  const vd value = first_coefficient<vd>(inv[d], b, N);
  for (int k = 0; k < L; ++k) out[k] = value[k];
  judge_lanes<L, N>(inv, b, a, limit, trouble, moment_weight, d);
  for (int k = 0; moment_weight != nullptr && k < L; ++k)
    recheck_troubled(trouble[k], moment_weight[k]);
  if (rows != nullptr) {
    for (int k = 0; k < L; ++k)
      for (int c = 0; c < N; ++c) rows[k][c] = inv[d][c][k];
  }
  if (inverses != nullptr) {
    for (int k = 0; k < L; ++k)
      for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c) inverses[k][r * N + c] = inv[r][c][k];
  }
  if (beside.value != nullptr) {
    const vd v = first_coefficient<vd>(inv[0], b, N);
    for (int k = 0; k < L; ++k) {
      beside.value[k] = v[k];
      for (int c = 0; c < N; ++c) beside.rows[k][c] = inv[0][c][k];
    }
  }
  return true;
}

}  // namespace lane_solve

// L fits at once, one per vector lane, from their normal sums in each
// fit's own coordinate: out[k] = the constant coefficient of the fit of
// sums[k] (coefficient d, 0 <= d < ncoef, for a derivative), with the keep
// factor 1, and, when `rows` is not null, rows[k] (ncoef doubles) = the
// first row (row d) of its inverse, and when `inverses` is
// not null, inverses[k] (ncoef^2 doubles, row after row) the whole inverse,
// and with `beside` the value and its row as well.
// Bit for bit what fill_normal_system, gauss_jordan and first_coefficient
// give for each lane, trouble included, the value's rounding judged by
// `limit` (numeric/value_error.h), and with `moment_weight` the moment
// sums' (judge_lanes). Only for ncoef <= 4. Returns false,
// having written nothing, when a lane's elimination meets a zero pivot;
// the caller then fits each lane on its own.
template <int L>
inline bool fit_lanes_from_sums(std::int32_t ncoef, const double* const sums[L], double out[L],
                                fit_trouble trouble[L], double* const rows[L],
                                const error_limit& limit, double* const inverses[L] = nullptr,
                                std::int32_t d = 0, const double* moment_weight = nullptr,
                                const lane_solve::lane_values& beside = {}) {
  using lane_solve::fit_lanes_fixed;
  switch (ncoef) {
    case 1:
      return fit_lanes_fixed<L, 1>(sums, out, trouble, rows, limit, inverses, d, moment_weight,
                                   beside);
    case 2:
      return fit_lanes_fixed<L, 2>(sums, out, trouble, rows, limit, inverses, d, moment_weight,
                                   beside);
    case 3:
      return fit_lanes_fixed<L, 3>(sums, out, trouble, rows, limit, inverses, d, moment_weight,
                                   beside);
    case 4:
      return fit_lanes_fixed<L, 4>(sums, out, trouble, rows, limit, inverses, d, moment_weight,
                                   beside);
    default: return false;
  }
}

#endif
