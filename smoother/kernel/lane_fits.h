// The solve of a group's fits from their sums: all lanes at once where
// each determines its polynomial, else lane by lane, with the fallback to a
// lower degree, the fit of a window none of whose points the tricube
// weighs, and the judgement of each value's rounding.
#ifndef QUIBRA_SMOOTHER_LANE_FITS_H
#define QUIBRA_SMOOTHER_LANE_FITS_H

#include <cstdint>

#include "numeric/lane_solve.h"
#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"
#include "smoother/kernel/derivative.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/kernel/group_sums.h"
#include "smoother/kernel/windows.h"

namespace local_fit {

// The Taylor coefficient of order d > 0 at cq of the fit just solved in s,
// and its row; 0 (and a row of 0) where the polynomial has no such term.
inline double taylor_at(fit_scratch& s, std::int32_t n, double* row, bool at_zero, double cq,
                        std::int32_t d) {
  double u[MAX_NCOEF];
  taylor_weights(d, n, at_zero, cq, u);
  if (row != nullptr) {
    for (std::int32_t c = 0; c < n; ++c) {
      // At the centre u is e_d: the row is the inverse's row d itself, the
      // row the value is made from, whatever the other rows hold (0 times
      // an infinite entry would be NaN).
      double a = at_zero && d < n ? s.inverse[d][c] : 0.0;
      for (std::int32_t j = d; j < n && !at_zero; ++j) a += u[j] * s.inverse[j][c];
      row[c] = a;
    }
  }
  if (d >= n) return 0.0;
  if (at_zero) return lane_solve::first_coefficient<double>(s.inverse[d], s.normal[n], n);
  double* coef = s.work[0];
  solve_coefficients(s.inverse, s.normal[n], coef, n);
  double v = 0.0;
  for (std::int32_t j = d; j < n; ++j) v += u[j] * coef[j];
  return v;
}

// The value at cq of the fit just solved in s. At cq = 0 (its query inside
// its window's span) it is the constant coefficient, and `row`, when not
// null, receives the inverse's first row. Elsewhere it is the polynomial
// at cq and `row` receives v(cq)' M^-1: the value is row . b.
inline double value_at(fit_scratch& s, std::int32_t n, double* row, bool at_zero, double cq) {
  if (at_zero) {
    if (row != nullptr)
      for (std::int32_t c = 0; c < n; ++c) row[c] = s.inverse[0][c];
    return lane_solve::first_coefficient<double>(s.inverse[0], s.normal[n], n);
  }
  if (row != nullptr) {
    for (std::int32_t c = 0; c < n; ++c) {
      double a = s.inverse[0][c];
      double power = cq;
      for (std::int32_t k = 1; k < n; ++k) {
        a += power * s.inverse[k][c];
        power *= cq;
      }
      row[c] = a;
    }
  }
  // The coefficients, then the polynomial at cq in ascending powers.
  double* coef = s.work[0];
  solve_coefficients(s.inverse, s.normal[n], coef, n);
  return lane_solve::polynomial_at(coef, n, cq);
}

// Where a derivative's fit gives its value too (lane_extra::smooth): the
// value, and its row (value_at).
struct value_beside {
  double value = 0.0;
  double* row = nullptr;
};

// The fit of one lane from its sums over m points: its value and row
// (value_at). `inverse`, when not null, receives the whole inverse. With
// d > 0 the result is instead the polynomial's Taylor coefficient of order
// d at cq (smoother/kernel/derivative.h), and `row` the row that gives it, and
// `beside`, when not null, receives the value and its row; the trouble is
// the fit's, as for its value. Not inlined: it serves the lanes fitted
// one by one, which are few, and left in the wide-register code (flattened)
// it made that code too large for the sanitizers' builds.
[[gnu::noinline]] inline double solve_at(fit_scratch& s, const double* sums, std::int32_t n,
                                         fit_trouble& t, double* row, bool at_zero, double cq,
                                         std::int32_t m, double* inverse = nullptr,
                                         std::int32_t d = 0, double moment_weight = 0.0,
                                         value_beside* beside = nullptr) {
  fill_normal_system(s.normal, n, sums, 1.0);
  t = gauss_jordan(s.normal, s.work, s.inverse, n);
  if (t.singular) {
    recheck_troubled(t, moment_weight);
    return FIT_FAILED;
  }
  const error_limit limit = with_points(s.limit, m);
  // A derivative's rounding is judged on its own Taylor coefficient.
  double u[MAX_NCOEF];
  if (d > 0) taylor_weights(d, n, at_zero, cq, u);
  const double* judged = d > 0 ? u : nullptr;
  judge_value_error(
      t, value_error(s.inverse, sums, s.normal[n], n, at_zero, cq, limit.root_m, judged), limit);
  judge_moments(t, s.inverse, s.normal[n], n, moment_weight, limit, judged);
  for (std::int32_t r = 0; inverse != nullptr && r < n; ++r)
    for (std::int32_t c = 0; c < n; ++c) inverse[r * n + c] = s.inverse[r][c];
  if (d == 0) return value_at(s, n, row, at_zero, cq);
  if (beside != nullptr) beside->value = value_at(s, n, beside->row, at_zero, cq);
  return taylor_at(s, n, row, at_zero, cq, d);
}

// The sums of a fit with n coefficients taken from those of `ncoef` (the
// power sums S(0 .. 2n - 2) and the right-hand side b(0 .. n - 1) are
// theirs), laid out for n in `out`.
inline const double* fewer_sums(const double* sums, std::int32_t ncoef, std::int32_t n,
                                double* out) {
  for (std::int32_t j = 0; j <= 2 * n - 2; ++j) out[j] = sums[j];
  for (std::int32_t r = 0; r < n; ++r) out[2 * n - 1 + r] = sums[2 * ncoef - 1 + r];
  return out;
}

// Fewer distinct weighted abscissae than coefficients: singular in exact
// arithmetic, whatever pivot rounding would leave, so no solve is tried.
inline double rank_deficient(fit_trouble& t) {
  t = fit_trouble{};
  t.singular = true;
  return FIT_FAILED;
}

// Model weights and the group's coordinate, point by point: the weights of
// a window none of whose points the tricube weighs.
struct edge_points {
  const double* r;  // model weights, or null for all 1
  double z;
  double sc;

  weighted_point<v2d> operator()(std::int32_t i, const v2d& x) const {
    const double w = r != nullptr ? r[i] : 1.0;
    return {v2d{w, w}, (x - z) / sc};
  }
};

// A window none of whose points weighs anything: they all lie at its ends,
// at distance h from the query (or all at the query, h = 0). Weighing each
// point tied at those ends by its model weight alone, the fit of the
// highest degree their distinct abscissae determine (at h = 0, where no
// coordinate exists, their mean). Returns the value, its coefficient count
// in `n`.
template <int L>
inline double edge_fit(const smooth_model* model, fit_scratch& s, const group_windows<L>& g, int k,
                       double* row, fit_trouble& t, std::int32_t& n, std::int32_t d,
                       value_beside* beside) {
  const tie_range r = tied_range(model, g.start[k]);
  const std::int32_t q = r.end - r.first;
  const double* xs = model->x + r.first;
  n = g.h[k] == 0.0 ? 1 : distinct_abscissae(xs, q, s.ncoef);
  // Queries among many tied points take the same points, often in a
  // row: their sums are summed once, as the range can hold most of the
  // data. One coefficient sums no coordinates.
  const edge_key key{
      model->y, model->weights, r.first, r.end, n, n > 1 ? g.z[k] : 0.0, n > 1 ? g.sc[k] : 0.0};
  const edge_key& last = s.edge;
  const bool same = key.y == last.y && key.weights == last.weights && key.first == last.first &&
                    key.end == last.end && key.n == last.n && same_bits(key.z, last.z) &&
                    same_bits(key.sc, last.sc);
  if (!same) {
    const double* const x2[2] = {xs, xs};
    const double* const y2[2] = {model->y + r.first, model->y + r.first};
    double* const s2[2] = {s.edge_sums, s.edge_sums};
    edge_points weight{model->weights != nullptr ? model->weights + r.first : nullptr, g.z[k],
                       g.sc[k]};
    normal_sums<2>(n, q, x2, y2, weight, s2);
    s.edge = key;
  }
  return solve_at(s, s.edge_sums, n, t, row, g.at_zero[k], g.cq[k], q, nullptr, d, 0.0, beside);
}

// Lane k's fit when its window cannot determine the polynomial: with
// `lower`, the highest degree its distinct weighted abscissae determine
// (one: their weighted mean), from the same sums, or when no point weighs
// anything the edge fit above; else no fit. Returns the value, its
// coefficient count in `n`, and whether it is an edge fit in `edge`.
template <int L>
inline double lowered_fit(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                          const group_rank<L>& rank, int k, bool lower, double* row, fit_trouble& t,
                          std::int32_t& n, bool& edge, std::int32_t d, value_beside* beside) {
  n = rank.distinct[k];
  edge = false;
  if (!lower) return rank_deficient(t);
  if (n > 0) {
    const double* sums = fewer_sums(s.sums[k], s.ncoef, n, s.lowered);
    return solve_at(s, sums, n, t, row, g.at_zero[k], g.cq[k], model->window, nullptr, d,
                    s.moment_weight[k], beside);
  }
  edge = true;
  return edge_fit<L>(model, s, g, k, row, t, n, d, beside);
}

// The wanted lanes' values and troubles from their sums: all lanes at once
// when each determines the full polynomial and none meets a zero pivot,
// else one by one. With Influence each lane's row (see solve_at) lands in
// s.rows; ncoef[k] is the coefficient count lane k was fitted with. With a
// derivative (lane_extra) the values are the derivative, the rows those
// of its Taylor coefficient, and with extra->smooth each lane's value and
// its row (in s.value_rows) come beside it, with the ordinates' centre
// put back.
template <int L, bool Influence, bool Anchored>
inline void solve_group(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                        const group_rank<L>& rank, int used, double out[L], fit_trouble t[L],
                        lane_extra* extra, std::int32_t ncoef[L], bool edge[L]) {
  const bool shared = extra->columns > 1;
  const bool want_rows = Influence || shared;
  const bool smooth = Influence && extra->smooth;
  double* const* rows = want_rows ? s.rows : nullptr;
  for (int k = 0; k < L; ++k) {
    ncoef[k] = s.ncoef;
    edge[k] = false;
  }
  const std::int32_t d = extra->derivative;
  lane_solve::lane_values beside_all;
  if (smooth) beside_all = {extra->smooth_value, s.value_rows};
  const bool together =
      !Anchored && rank.all &&
      fit_lanes_from_sums<L>(s.ncoef, s.sums, out, t, rows, s.limit, shared ? s.inverses : nullptr,
                             d, s.moment_weight, beside_all);
  for (int k = 0; k < used && together && smooth; ++k)
    extra->smooth_value[k] = extra->smooth_value[k] + s.centre[k];
  for (int k = 0; k < used && !together; ++k) {
    double* row = want_rows ? s.rows[k] : nullptr;
    value_beside value{FIT_FAILED, smooth ? s.value_rows[k] : nullptr};
    value_beside* beside = smooth ? &value : nullptr;
    if (rank.distinct[k] >= s.ncoef) {
      out[k] = solve_at(s, s.sums[k], s.ncoef, t[k], row, g.at_zero[k], g.cq[k], model->window,
                        shared ? s.inverses[k] : nullptr, d, s.moment_weight[k], beside);
    } else {
      out[k] = lowered_fit<L>(model, s, g, rank, k, extra->lower, row, t[k], ncoef[k], edge[k], d,
                              beside);
      extra->lowered[k] = !t[k].singular;
    }
    // An edge fit sums the model's own ordinates.
    if (smooth)
      extra->smooth_value[k] =
          t[k].singular ? FIT_FAILED : value.value + (edge[k] ? 0.0 : s.centre[k]);
  }
  // Values from centred ordinates get their centre back.
  for (int k = 0; k < used && d == 0 && s.centred; ++k)
    if (!t[k].singular && !edge[k]) out[k] = out[k] + s.centre[k];
  // A fit whose polynomial has no term of order d gave 0, and keeps it.
  for (int k = 0; k < used && d > 0; ++k)
    if (!t[k].singular && ncoef[k] > d) out[k] = derivative_from(out[k], d, g.sc[k]);
}

}  // namespace local_fit

#endif
