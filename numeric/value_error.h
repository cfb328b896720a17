// How far rounding may have moved a local fit's value, from the inverse
// the solve already has. The normal equations square the conditioning of
// the fit, so at high degrees (or on badly spread windows) the value can be
// wrong in every digit while the inverse still passes its product check.
//
// With a the row of the inverse that gives the value (v(cq)' M^-1), x the
// coefficients, b the right-hand side and d_i = sqrt S(2i), the power sums
// over m points carry errors of about sqrt(m) units of rounding relative to
// d_i d_j (|S(i+j)| <= d_i d_j), which move the value by about
//   sqrt(m) (sum_i |a_i| d_i) (sum_j d_j |x_j|),
// and forming x and the value adds sum_j |cq|^j sum_k |inv_jk b_k|. Their
// sum, times 2^-53, is the estimate: against a quad-precision solve it lies
// above the error actually made, up to degree 20 and a million points.
#ifndef QUIBRA_NUMERIC_VALUE_ERROR_H
#define QUIBRA_NUMERIC_VALUE_ERROR_H

#include <cmath>
#include <cstdint>
#include <limits>

#include "numeric/lanes.h"
#include "numeric/solve.h"

// A fit whose value may be off by more than this fraction of max|Y| is
// reported as unstable.
inline constexpr double TRUSTED_ERROR = 1e-8;

// What a run of fits judges their estimates by: sqrt of the points summed,
// and the largest estimate (in units of 2^-53) that passes for data of
// magnitude `scale`.
struct error_limit {
  double root_m = 0.0;
  double limit = 0.0;  // 0: no estimate is made
  double scale = 0.0;
  std::int32_t points = -1;
};

// Data of largest magnitude `scale` (max |y| over the finite ordinates),
// fits over m points. A scale of 0 or no number checks nothing.
inline error_limit make_error_limit(double scale, std::int32_t m) {
  error_limit e;
  e.root_m = std::sqrt(static_cast<double>(m));
  e.scale = scale;
  e.points = m;
  e.limit = std::isfinite(scale) && scale > 0.0 ? TRUSTED_ERROR * scale * 0x1p53 : 0.0;
  return e;
}

// e made for `scale` and m, computed again only when they changed.
inline void refresh_error_limit(error_limit& e, double scale, std::int32_t m) {
  if (e.points != m || !(e.scale == scale)) e = make_error_limit(scale, m);
}

// The same limit for data of another magnitude.
inline error_limit for_scale(const error_limit& e, double scale) {
  error_limit r = make_error_limit(scale, 1);
  r.root_m = e.root_m;
  r.points = e.points;
  return r;
}

// The same limit for another number of points.
inline error_limit with_points(const error_limit& e, std::int32_t m) {
  if (m == e.points) return e;
  error_limit r = e;
  r.root_m = std::sqrt(static_cast<double>(m));
  r.points = m;
  return r;
}

// Sums made from moved moments (smoother/moments/fast_sums.h) carry, in every power
// sum, an error of up to MOMENT_ERROR times the weight W of the points
// they cover, and in every right-hand side that times max|Y|, however
// small the sums themselves are: the tricube polynomial and the moves
// cancel terms of the points' raw moments. With a the row of the inverse
// that gives the value and x the coefficients, that moves the value by up
// to MOMENT_ERROR W sum|a_i| (max|Y| + sum|x_j|); a fit where this may
// exceed the trusted share of max|Y| is made again from direct sums. Fits
// on well spread windows stay far below it; windows whose points crowd
// together (clusters, a gap) do not.
inline constexpr double MOMENT_ERROR = 0x1p-46;

// That share: 1e-10 up to degree 2 (n coefficients), 1e-9 above, whose
// normal equations are worse conditioned by nature.
inline double moment_trusted(std::int32_t n) { return n <= 3 ? 1e-10 : 1e-9; }
// The share of a variance factor its bound may reach (smoother/
// influence.h). That bound takes every sum's worst rounding at once, and
// the factor cancels heavily at a quartic's ends: there it passes 1e-8
// while the error made is under 3e-10. A bound of 1e-6 keeps the bands' se
// within 1e-8 and still sends crowded windows to the direct sums.
inline constexpr double MOMENT_TRUSTED_VARIANCE = 1e-6;

// Whether the value of a fit of n coefficients from moment sums of weight
// `weight` (0: from direct sums) may be off by more than its trusted share
// of max|Y|, with a1 = sum|a_i| and x1 = sum|x_j| as above and `spread`
// the inverse's largest row sum of magnitudes. That bound holds only while
// the error is small against the system itself, ||M^-1 E|| <= 1/16: an
// error as large as the system's small sums (a window whose weighty
// points crowd together) would make another system, whose inverse says
// nothing of the true one.
inline bool moments_doubtful(double weight, std::int32_t n, double a1, double x1, double spread,
                             const error_limit& e) {
  if (!(weight > 0.0)) return false;
  const double error = MOMENT_ERROR * weight;
  if (!(error * n * spread <= 0.0625)) return true;
  const double scale = e.scale > 0.0 ? e.scale : 0.0;
  return !(error * a1 * (scale + x1) <= moment_trusted(n) * scale);
}

// Marks t for a recheck when its sums came from moments (weight > 0) and
// it is in any trouble: which trouble it has is for the direct sums to say.
inline void recheck_troubled(fit_trouble& t, double moment_weight) {
  if (moment_weight > 0.0 && (t.singular || t.unstable || t.inaccurate)) t.recheck = true;
}

// The same judgement for one fit, its inverse rows `inv`, right-hand side
// b: its moment sums' doubt and its trouble. With u (a derivative's Taylor
// weights, smoother/kernel/derivative.h) the doubt is of u' x, not of the value.
inline void judge_moments(fit_trouble& t, const double* const* inv, const double* b, std::int32_t n,
                          double moment_weight, const error_limit& e, const double* u = nullptr) {
  if (!(moment_weight > 0.0)) return;
  if (!t.singular) {
    double a1 = 0.0;
    double x1 = 0.0;
    double spread = 0.0;
    for (std::int32_t j = 0; j < n; ++j) {
      double x = inv[j][0] * b[0];
      double row = std::fabs(inv[j][0]);
      for (std::int32_t k = 1; k < n; ++k) {
        x += inv[j][k] * b[k];
        row += std::fabs(inv[j][k]);
      }
      double a = inv[0][j];
      if (u != nullptr) {
        a = 0.0;
        for (std::int32_t r = 0; r < n; ++r) a += u[r] * inv[r][j];
      }
      a1 += std::fabs(a);
      x1 += std::fabs(x);
      spread = row > spread ? row : spread;
    }
    t.recheck = moments_doubtful(moment_weight, n, a1, x1, spread, e);
  }
  recheck_troubled(t, moment_weight);
}

// The estimate, in units of 2^-53, of the value of a fit of n coefficients
// from its power sums S(0 .. 2n - 2), right-hand side b and inverse rows
// `inv`, at the coordinate cq (at_zero: cq = 0, the value x_0). With u
// (a derivative's Taylor weights) it is the estimate of u' x instead:
// a = u' M^-1, and forming it adds sum_j |u_j| sum_k |inv_jk b_k|.
// A right-hand side that is not finite comes of an ordinate that is not
// (queries and weights that are not finite are never fitted): the value is
// the data's, not rounding's, and there is no estimate (NaN).
inline double value_error(const double* const* inv, const double* sums, const double* b,
                          std::int32_t n, bool at_zero, double cq, double root_m,
                          const double* u = nullptr) {
  for (std::int32_t k = 0; k < n; ++k)
    if (!std::isfinite(b[k])) return std::numeric_limits<double>::quiet_NaN();
  double ad = 0.0;      // sum |a_i| d_i
  double dx = 0.0;      // sum d_j |x_j|
  double formed = 0.0;  // sum |cq|^j sum_k |inv_jk b_k|
  double reach = 1.0;   // |cq|^i
  for (std::int32_t i = 0; i < n; ++i) {
    double a = inv[0][i];
    double power = cq;
    for (std::int32_t j = 1; j < n && !at_zero && u == nullptr; ++j) {
      a += power * inv[j][i];
      power *= cq;
    }
    if (u != nullptr) {
      a = 0.0;
      for (std::int32_t j = 0; j < n; ++j) a += u[j] * inv[j][i];
    }
    const double d = std::sqrt(sums[2 * i]);
    double x = inv[i][0] * b[0];
    double p = std::fabs(x);
    for (std::int32_t k = 1; k < n; ++k) {
      x += inv[i][k] * b[k];
      p += std::fabs(inv[i][k] * b[k]);
    }
    ad += std::fabs(a) * d;
    dx += d * std::fabs(x);
    if (u != nullptr) {
      formed += std::fabs(u[i]) * p;
    } else if (i == 0 || !at_zero) {
      formed += reach * p;
    }
    reach *= std::fabs(cq);
  }
  return root_m * (ad * dx) + formed;
}

// Marks t unstable, its entry the estimate relative to the scale (in
// units of 2^-52 times max|Y|), when the estimate `units` exceeds the
// limit and the product check has not already.
inline void judge_value_error(fit_trouble& t, double units, const error_limit& e) {
  if (t.singular || t.unstable || !(units > e.limit) || !(e.limit > 0.0)) return;
  t.inaccurate = true;
  t.error = units * 0.5 / e.scale;
}

// The same for one fit at its own coordinate (cq = 0), its inverse row
// after row in `inverse`: the cheap bound of judge_lanes first. With
// `row` > 0 the judgement is of that coefficient (a derivative's).
inline void judge_at_zero(fit_trouble& t, const double* inverse, const double* sums,
                          const double* b, std::int32_t n, const error_limit& e,
                          std::int32_t row = 0) {
  if (!(e.limit > 0.0) || t.singular || t.unstable) return;
  const double* judged = inverse + static_cast<std::int64_t>(row) * n;
  double a1 = 0.0;
  double x1 = 0.0;
  double formed = 0.0;
  for (std::int32_t j = 0; j < n; ++j) {
    const double* r = inverse + static_cast<std::int64_t>(j) * n;
    double x = r[0] * b[0];
    for (std::int32_t k = 1; k < n; ++k) x += r[k] * b[k];
    a1 += std::fabs(judged[j]);
    x1 += std::fabs(x);
    formed += std::fabs(judged[j] * b[j]);
  }
  if (!(e.root_m * (sums[0] * (a1 * x1)) + formed > e.limit * 0.999999)) return;
  const double* rows[MAX_NCOEF];
  for (std::int32_t r = 0; r < n; ++r) rows[r] = inverse + static_cast<std::int64_t>(r) * n;
  double u[MAX_NCOEF] = {};
  u[row] = 1.0;
  judge_value_error(t, value_error(rows, sums, b, n, true, 0.0, e.root_m, row > 0 ? u : nullptr),
                    e);
}

// The same for L fits of N coefficients at their own coordinates (cq = 0),
// each lane's inverse inv[r][c][lane]: a cheap bound first, since the
// window's coordinates lie in [-1, 1] and so d_i <= d_0 = sqrt S(0), and
// the full estimate only for lanes the bound does not clear.
// With `moment_weight` (per lane, 0 for direct sums), lanes whose moment
// sums are doubtful are marked for a recheck. With `row` > 0 the judgement
// is of that coefficient (a derivative's) in place of the value.
template <int L, int N, typename V>
inline void judge_lanes(const V (&inv)[N][N], const V (&b)[N], const V (&s)[N][N],
                        const error_limit& e, fit_trouble trouble[L],
                        const double* moment_weight = nullptr, int row = 0) {
  if (!(e.limit > 0.0) && moment_weight == nullptr) return;
  V a1 = splat<V>(0.0);
  V x1 = splat<V>(0.0);
  V formed = splat<V>(0.0);
  V spread = splat<V>(0.0);
  for (int j = 0; j < N; ++j) {
    V x = inv[j][0] * b[0];
    for (int k = 1; k < N; ++k) x += inv[j][k] * b[k];
    a1 += magnitude(inv[row][j]);
    x1 += magnitude(x);
    formed += magnitude(inv[row][j] * b[j]);
    if (moment_weight == nullptr) continue;
    V row = magnitude(inv[j][0]);
    for (int k = 1; k < N; ++k) row += magnitude(inv[j][k]);
    for (int l = 0; l < L; ++l) spread[l] = row[l] > spread[l] ? row[l] : spread[l];
  }
  for (int l = 0; moment_weight != nullptr && l < L; ++l)
    trouble[l].recheck = moments_doubtful(moment_weight[l], N, a1[l], x1[l], spread[l], e);
  if (!(e.limit > 0.0)) return;
  // A margin for the rounding of the bound itself.
  const V bound = splat<V>(e.root_m) * (s[0][0] * (a1 * x1)) + formed;
  for (int l = 0; l < L; ++l) {
    if (!(bound[l] > e.limit * 0.999999)) continue;
    double rows[N][N];
    const double* row_ptrs[N];
    double sums[2 * N - 1];
    double bl[N];
    for (int r = 0; r < N; ++r) {
      for (int c = 0; c < N; ++c) rows[r][c] = inv[r][c][l];
      row_ptrs[r] = rows[r];
      bl[r] = b[r][l];
    }
    for (int k = 0; k < 2 * N - 1; ++k) sums[k] = k < N ? s[0][k][l] : s[k - N + 1][N - 1][l];
    double u[N] = {};
    u[row] = 1.0;
    judge_value_error(
        trouble[l], value_error(row_ptrs, sums, bl, N, true, 0.0, e.root_m, row > 0 ? u : nullptr),
        e);
  }
}

#endif
