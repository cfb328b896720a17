// The local fit, L queries at a time (one per vector lane): each query's
// window and bandwidth, its tricube weights and coordinate, the rank test,
// the power sums (numeric/normal_sums.h), the solve (numeric/lane_solve.h,
// numeric/solve.h) and, when asked, the influence behind the bands. In a
// header so that each lane width's run (smoother/run.cpp) compiles it
// inside its own instruction set.
#ifndef QUIBRA_SMOOTHER_LOCAL_FIT_H
#define QUIBRA_SMOOTHER_LOCAL_FIT_H

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host/storage.h"
#include "numeric/lane_solve.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/normal_sums.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"
#include "smoother/model.h"
#include "smoother/tricube.h"

namespace local_fit {

// Scratch for a run of local fits on one model.
struct fit_scratch {
  std::int32_t ncoef;
  double* sums[MAX_LANES];  // power sums of each lane
  double** normal;          // ncoef + 1 rows: the normal matrix, then its right-hand side
  double** work;            // Gauss-Jordan working copy
  double** inverse;
  // With influence: each lane's first row of the inverse; null otherwise.
  double* rows[MAX_LANES];
  // With variances: each lane's sums of K T c^j, and per window point the
  // lanes' T and c as the sums used them (2 L doubles); null otherwise.
  double* second[MAX_LANES];
  double* recorded;
  double* lowered;              // room for a lowered fit's sums
  double* more;                 // with several columns: the other columns' values, L each
  fit_trouble* more_trouble;    // and their troubles, L each
  double* powers;               // with several columns: a window's powers (lane_powers)
  double* inverses[MAX_LANES];  // with several columns: each lane's whole inverse
  error_limit limit;            // how the values' rounding is judged (numeric/value_error.h)
  bool lower;                   // 'Fallback' 'lower': see lowered_fit
};

// `columns` > 1: the fits serve that many columns of ordinates (see
// share_columns), which needs the rows and the recorded points too.
inline fit_scratch new_scratch(const smooth_model* model, bool influence, bool second, bool lower,
                               std::int32_t columns = 1) {
  fit_scratch s;
  s.lower = lower;
  s.ncoef = model->degree + 1;
  const bool shared = columns > 1;
  for (int k = 0; k < MAX_LANES; ++k) {
    s.sums[k] = host_alloc_array<double>(3 * s.ncoef - 1);
    s.rows[k] = influence || shared ? host_alloc_array<double>(s.ncoef) : nullptr;
    s.second[k] = second ? host_alloc_array<double>(2 * s.ncoef - 1) : nullptr;
  }
  s.recorded =
      second || shared
          ? host_alloc_array<double>(static_cast<std::int64_t>(2 * MAX_LANES) * model->window)
          : nullptr;
  s.more = shared ? host_alloc_array<double>(static_cast<std::int64_t>(columns - 1) * MAX_LANES)
                  : nullptr;
  s.more_trouble =
      shared ? host_alloc_array<fit_trouble>(static_cast<std::int64_t>(columns - 1) * MAX_LANES)
             : nullptr;
  for (int k = 0; k < MAX_LANES; ++k)
    s.inverses[k] = shared ? host_alloc_array<double>(s.ncoef * s.ncoef) : nullptr;
  s.powers = shared ? host_alloc_array<double>(static_cast<std::int64_t>(s.ncoef) * model->window)
                    : nullptr;
  s.normal = alloc_rows(s.ncoef + 1, s.ncoef);
  s.work = alloc_rows(s.ncoef, s.ncoef);
  s.inverse = alloc_rows(s.ncoef, s.ncoef);
  s.lowered = host_alloc_array<double>(3 * s.ncoef - 1);
  return s;
}

inline void free_scratch(fit_scratch& s) {
  for (int k = 0; k < MAX_LANES; ++k) {
    host_free(s.sums[k]);
    host_free(s.rows[k]);
    host_free(s.second[k]);
  }
  host_free(s.recorded);
  host_free(s.lowered);
  host_free(s.more);
  host_free(s.more_trouble);
  for (int k = 0; k < MAX_LANES; ++k) host_free(s.inverses[k]);
  host_free(s.powers);
  free_rows(s.normal, s.ncoef + 1);
  free_rows(s.work, s.ncoef);
  free_rows(s.inverse, s.ncoef);
}

// Where a query's window lies, the span of its abscissae, and its bandwidth.
struct placement {
  std::int32_t start;
  double lo;
  double hi;
  double h;
};

inline placement place(const smooth_model* model, double xq) {
  const double* xs = model->x;
  placement p{0, xs[0], xs[model->count - 1], 0.0};
  if (model->f < 1.0) {
    p.start = find_window_start(xq, model->window, model->count, xs);
    p.lo = xs[p.start];
    p.hi = xs[p.start + model->window - 1];
  }
  // Distance to the farther end, so that end gets weight 0.
  p.h = (xq - p.lo) > (p.hi - xq) ? (xq - p.lo) : (p.hi - xq);
  return p;
}

// The fit of one lane from its sums over m points. At cq = 0 (its query
// inside its window's span) the value is the constant coefficient, and
// `row`, when not null, receives the inverse's first row. Elsewhere the
// value is the polynomial at cq and `row` receives v(cq)' M^-1: the value
// is row . b. `inverse`, when not null, receives the whole inverse.
inline double solve_at(fit_scratch& s, const double* sums, std::int32_t n, fit_trouble& t,
                       double* row, bool at_zero, double cq, std::int32_t m,
                       double* inverse = nullptr) {
  fill_normal_system(s.normal, n, sums, 1.0);
  t = gauss_jordan(s.normal, s.work, s.inverse, n);
  if (t.singular) return FIT_FAILED;
  const error_limit limit = with_points(s.limit, m);
  judge_value_error(t, value_error(s.inverse, sums, s.normal[n], n, at_zero, cq, limit.root_m),
                    limit);
  for (std::int32_t r = 0; inverse != nullptr && r < n; ++r)
    for (std::int32_t c = 0; c < n; ++c) inverse[r * n + c] = s.inverse[r][c];
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

// The variances' sums of L windows from what the sums recorded:
// m[k][j] = sum K T c^j for j = 0 .. 2 nc - 2, K = T w the point's weight in
// the fit, T its tricube weight and c its coordinate, each sum in ascending
// point order from +0.0. NC > 0 fixes nc at compile time.
template <int L, int NC, bool Robust>
void second_sums(std::int32_t nc, std::int32_t npts, const double* const rs[L],
                 const double* recorded, double* const m[L]) {
  using vd = typename lanes_of<L>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = accumulators(NC, 2);
  vd acc[SLOTS] = {};
  for (std::int32_t i = 0; i < npts; ++i) {
    vd t;
    vd c;
    std::memcpy(&t, recorded + static_cast<std::int64_t>(i) * (2 * L), sizeof t);
    std::memcpy(&c, recorded + static_cast<std::int64_t>(i) * (2 * L) + L, sizeof c);
    vd k = t;
    if constexpr (Robust) k = t * gather<vd>(rs, i);
    vd p = k * t;
#pragma GCC unroll 8
    for (std::int32_t j = 0; j < 2 * n - 1; ++j) {
      acc[j] += p;
      p = p * c;
    }
  }
  for (std::int32_t j = 0; j < 2 * n - 1; ++j)
    for (int l = 0; l < L; ++l) m[l][j] = acc[j][l];
}

template <int L, bool Robust>
void second_sums_of(std::int32_t nc, std::int32_t npts, const double* const rs[L],
                    const double* recorded, double* const m[L]) {
  switch (nc) {
    case 1: second_sums<L, 1, Robust>(nc, npts, rs, recorded, m); break;
    case 2: second_sums<L, 2, Robust>(nc, npts, rs, recorded, m); break;
    case 3: second_sums<L, 3, Robust>(nc, npts, rs, recorded, m); break;
    case 4: second_sums<L, 4, Robust>(nc, npts, rs, recorded, m); break;
    default: second_sums<L, 0, Robust>(nc, npts, rs, recorded, m); break;
  }
}

// sum l_j^2 / w_j of a fit whose inverse has the first row `a`: the value
// is a . b, so l_j = K_j a . v(c_j) and the sum is a' M2 a, M2 the Hankel
// matrix of the second sums `m2`. Summed row by row.
inline double variance_of(const double* a, const double* m2, std::int32_t n) {
  double v = 0.0;
  for (std::int32_t r = 0; r < n; ++r) {
    double t = 0.0;
    for (std::int32_t c = 0; c < n; ++c) t += m2[r + c] * a[c];
    v += a[r] * t;
  }
  return v;
}

// What a group of lanes takes and returns beside the queries and values:
// whether a window that cannot determine the polynomial takes a lower
// degree, and per lane whether its fit was lowered; with Influence the
// variance factor and the leverage of its own point own[k].
struct lane_extra {
  bool lower = false;   // 'Fallback' 'lower'
  bool second = false;  // whether the variances are wanted
  // Several columns of ordinates on the model's points: the model holds the
  // first, y_more[c - 1] column c (model order), and `blocks` the others
  // again, COLUMN_BLOCK columns at a time (column_blocks); the values of
  // the others land in s.more, column c's L at (c - 1) L.
  std::int32_t columns = 1;
  const double* const* y_more = nullptr;
  const double* blocks = nullptr;
  const double* scales = nullptr;  // column c's max |y| at c - 1
  std::int32_t own[MAX_LANES] = {};
  bool lowered[MAX_LANES] = {};
  double variance[MAX_LANES] = {};
  double leverage[MAX_LANES] = {};
};

// Each lane's window in a group: where it lies, its bandwidth h, and the
// coordinate its query is fitted in, c = (x - z) / sc. Inside its window's
// span a query is its own centre (z = q, sc = h, cq = 0); outside, z is
// the span's middle and the query sits at cq.
template <int L>
struct group_windows {
  using vd = typename lanes_of<L>::d;
  const double* xs[L];
  const double* ys[L];
  const double* rs[L];
  const double* vs[L];  // the variances' weights: rs unless the model says otherwise
  vd q;
  vd h;
  vd z;
  vd sc;
  double cq[L];
  bool at_zero[L];
  std::int32_t start[L];
  bool outside = false;  // some wanted lane's query lies outside its span
};

template <int L>
inline group_windows<L> place_group(const smooth_model* model, const double xq[L], int used) {
  group_windows<L> g;
  for (int k = 0; k < L; ++k) {
    const placement p = place(model, xq[k]);
    g.start[k] = p.start;
    g.xs[k] = model->x + p.start;
    g.ys[k] = model->y + p.start;
    g.rs[k] = model->weights != nullptr ? model->weights + p.start : nullptr;
    g.vs[k] = model->variance_weights != nullptr ? model->variance_weights + p.start : g.rs[k];
    g.q[k] = xq[k];
    g.h[k] = p.h;
    g.at_zero[k] = !(xq[k] < p.lo || xq[k] > p.hi);
    g.outside = g.outside || (k < used && !g.at_zero[k]);
    const double at = g.at_zero[k] ? xq[k] : p.lo + (p.hi - p.lo) * 0.5;
    g.z[k] = at;
    g.sc[k] = (at - p.lo) > (p.hi - at) ? (at - p.lo) : (p.hi - at);
    g.cq[k] = g.at_zero[k] ? 0.0 : (xq[k] - at) / g.sc[k];
  }
  return g;
}

// How the wanted lanes of a group stand after the rank test: distinct[k]
// weighted abscissae in lane k's window (at least s.ncoef when it can
// determine the polynomial), whether any and whether all of them can.
template <int L>
struct group_rank {
  std::int32_t distinct[L] = {};
  bool any = false;  // some lane needs the sums
  bool all = false;  // every lane determines the full polynomial
};

// The rank test and then, if any wanted lane can be fitted (with `lower`,
// at some degree), the power sums of the group's lanes, by the coordinate
// the group is fitted in. With Record, each point's T and c are kept for
// the variances' sums.
template <int L, bool Anchored, bool Record>
inline group_rank<L> group_sums(const smooth_model* model, fit_scratch& s,
                                const group_windows<L>& g, int used, bool lower) {
  group_rank<L> rank;
  rank.all = used == L;
  // By reference: a vector-holding argument by value draws a compiler
  // note on its passing convention.
  const auto run = [&](const auto& weights) {
    auto weight = weights;
    rank_test<L>(weight, model->window, g.xs, s.ncoef, rank.distinct);
    for (int k = 0; k < used; ++k) {
      const bool full = rank.distinct[k] >= s.ncoef;
      rank.any = rank.any || full || (lower && rank.distinct[k] > 0);
      rank.all = rank.all && full;
    }
    if (!rank.any) return;
    if constexpr (Record) {
      using plain_t = decltype(weight.unweighted());
      recorded<L, decltype(weight)::robust, plain_t> recording{weight.unweighted(), g.rs,
                                                               s.recorded};
      normal_sums<L>(s.ncoef, model->window, g.xs, g.ys, recording, s.sums);
    } else {
      normal_sums<L>(s.ncoef, model->window, g.xs, g.ys, weight, s.sums);
    }
  };
  const bool robust = model->weights != nullptr;
  if constexpr (Anchored) {
    if (robust) {
      run(anchored<L, true>{{g.q, g.h, g.rs}, g.z, g.sc});
    } else {
      run(anchored<L, false>{{g.q, g.h, g.rs}, g.z, g.sc});
    }
  } else {
    if (robust) {
      run(tricube<L, true>{g.q, g.h, g.rs});
    } else {
      run(tricube<L, false>{g.q, g.h, g.rs});
    }
  }
  return rank;
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

// The model points an edge fit takes, [first, end): the window's points and
// every point tied with its first or last abscissa beyond it, so that the
// fit does not depend on which of the tied points the window happened to
// take (their input order).
struct tie_range {
  std::int32_t first;
  std::int32_t end;
};

inline tie_range tied_range(const smooth_model* model, std::int32_t start) {
  const double* x = model->x;
  tie_range r{start, start + model->window};
  while (r.first > 0 && x[r.first - 1] == x[start]) --r.first;
  while (r.end < model->count && x[r.end] == x[start + model->window - 1]) ++r.end;
  return r;
}

// A window none of whose points weighs anything: they all lie at its ends,
// at distance h from the query (or all at the query, h = 0). Weighing each
// point tied at those ends by its model weight alone, the fit of the
// highest degree their distinct abscissae determine (at h = 0, where no
// coordinate exists, their mean). Returns the value, its coefficient count
// in `n`.
template <int L>
inline double edge_fit(const smooth_model* model, fit_scratch& s, const group_windows<L>& g, int k,
                       double* row, fit_trouble& t, std::int32_t& n) {
  const tie_range r = tied_range(model, g.start[k]);
  const std::int32_t q = r.end - r.first;
  const double* xs = model->x + r.first;
  std::int32_t distinct = 1;
  for (std::int32_t i = 1; i < q && distinct < s.ncoef; ++i) distinct += xs[i] != xs[i - 1];
  n = g.h[k] == 0.0 ? 1 : distinct;
  const double* const x2[2] = {xs, xs};
  const double* const y2[2] = {model->y + r.first, model->y + r.first};
  double* const s2[2] = {s.lowered, s.lowered};
  edge_points weight{model->weights != nullptr ? model->weights + r.first : nullptr, g.z[k],
                     g.sc[k]};
  normal_sums<2>(n, q, x2, y2, weight, s2);
  return solve_at(s, s.lowered, n, t, row, g.at_zero[k], g.cq[k], q);
}

// Lane k's fit when its window cannot determine the polynomial: with
// `lower`, the highest degree its distinct weighted abscissae determine
// (one: their weighted mean), from the same sums, or when no point weighs
// anything the edge fit above; else no fit. Returns the value, its
// coefficient count in `n`, and whether it is an edge fit in `edge`.
template <int L>
inline double lowered_fit(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                          const group_rank<L>& rank, int k, bool lower, double* row, fit_trouble& t,
                          std::int32_t& n, bool& edge) {
  n = rank.distinct[k];
  edge = false;
  if (!lower) return rank_deficient(t);
  if (n > 0) {
    const double* sums = fewer_sums(s.sums[k], s.ncoef, n, s.lowered);
    return solve_at(s, sums, n, t, row, g.at_zero[k], g.cq[k], model->window);
  }
  edge = true;
  return edge_fit<L>(model, s, g, k, row, t, n);
}

// The wanted lanes' values and troubles from their sums: all lanes at once
// when each determines the full polynomial and none meets a zero pivot,
// else one by one. With Influence each lane's row (see solve_at) lands in
// s.rows; ncoef[k] is the coefficient count lane k was fitted with.
template <int L, bool Influence, bool Anchored>
inline void solve_group(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                        const group_rank<L>& rank, int used, double out[L], fit_trouble t[L],
                        lane_extra* extra, std::int32_t ncoef[L], bool edge[L]) {
  const bool shared = extra->columns > 1;
  const bool want_rows = Influence || shared;
  double* const* rows = want_rows ? s.rows : nullptr;
  for (int k = 0; k < L; ++k) {
    ncoef[k] = s.ncoef;
    edge[k] = false;
  }
  if (!Anchored && rank.all &&
      fit_lanes_from_sums<L>(s.ncoef, s.sums, out, t, rows, s.limit, shared ? s.inverses : nullptr))
    return;
  for (int k = 0; k < used; ++k) {
    double* row = want_rows ? s.rows[k] : nullptr;
    if (rank.distinct[k] >= s.ncoef) {
      out[k] = solve_at(s, s.sums[k], s.ncoef, t[k], row, g.at_zero[k], g.cq[k], model->window,
                        shared ? s.inverses[k] : nullptr);
    } else {
      out[k] = lowered_fit<L>(model, s, g, rank, k, extra->lower, row, t[k], ncoef[k], edge[k]);
      extra->lowered[k] = !t[k].singular;
    }
  }
}

// The variance factors and leverages of the wanted lanes that were fitted,
// NaN for the others.
template <int L>
inline void group_influence(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                            const group_rank<L>& rank, int used, const fit_trouble t[L],
                            const std::int32_t ncoef[L], const bool edge[L], lane_extra* extra) {
  const double none = std::numeric_limits<double>::quiet_NaN();
  for (int k = 0; k < used; ++k) extra->variance[k] = extra->leverage[k] = none;
  if (!rank.any && !extra->lower) return;
  const bool robust = model->weights != nullptr;
  const std::int32_t w = model->window;
  if (rank.any && extra->second) {
    if (robust) second_sums_of<L, true>(s.ncoef, w, g.vs, s.recorded, s.second);
    if (!robust) second_sums_of<L, false>(s.ncoef, w, g.vs, s.recorded, s.second);
  }
  for (int k = 0; k < used; ++k) {
    if (t[k].singular) continue;
    const double* a = s.rows[k];
    const std::int32_t n = ncoef[k];
    // An edge fit weighs each point by its model weight alone, so
    // l_j = w_j a . v(c_j) and the variance factor a' M a is a[0].
    const bool at_query = g.h[k] == 0.0;
    if (extra->second) extra->variance[k] = edge[k] ? a[0] : variance_of(a, s.second[k], n);
    // The own point weighs T = 1 (it lies at the query) times its weight,
    // if the window holds it at all: l = w a . v(cq), which inside the
    // window's span (cq = 0) is w a[0].
    const std::int32_t o = extra->own[k];
    const tie_range r =
        edge[k] ? tied_range(model, g.start[k]) : tie_range{g.start[k], g.start[k] + model->window};
    const bool inside = o >= r.first && o < r.end && (g.h[k] > 0.0 || at_query);
    const double own_w = robust && inside ? model->weights[o] : 1.0;
    double av = a[0];
    double power = g.cq[k];
    for (std::int32_t j = 1; j < n && !g.at_zero[k]; ++j) {
      av += power * a[j];
      power *= g.cq[k];
    }
    extra->leverage[k] = inside ? own_w * av : 0.0;
  }
}

// A lane's powers g_j = w c^j (j < nc) at each point of its window, from
// its recorded T and c, with w = T r as the sums form it and each power the
// running product normal_sums forms: summed against another column's
// ordinates they give that column's right-hand side to the bit.
template <int L>
inline void lane_powers(int k, std::int32_t nc, std::int32_t npts, const double* r,
                        const double* recorded, double* g) {
  for (std::int32_t i = 0; i < npts; ++i) {
    const double* at = recorded + static_cast<std::int64_t>(i) * (2 * L);
    const double c = at[L + k];
    double w = at[k];
    if (r != nullptr) w = w * r[i];
    double* gi = g + static_cast<std::int64_t>(i) * nc;
    gi[0] = w;
    double power = c * w;
    for (std::int32_t j = 1; j < nc; ++j) {
      gi[j] = power;
      power = power * c;
    }
  }
}

// The right-hand sides b[j] = sum y g_j of COLUMN_BLOCK columns at once,
// one per vector lane: yb holds the window's ordinates point after point,
// COLUMN_BLOCK to a point. Each column adds its terms in point order from
// +0.0, as the sums do. NC > 0 fixes nc at compile time.
template <int NC>
inline void block_sums(std::int32_t nc, std::int32_t npts, const double* g, const double* yb,
                       double b[MAX_NCOEF][COLUMN_BLOCK]) {
  using vc = typename lanes_of<COLUMN_BLOCK>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = NC > 0 ? NC : MAX_NCOEF;
  vc acc[SLOTS] = {};
  for (std::int32_t i = 0; i < npts; ++i) {
    vc y;
    std::memcpy(&y, yb + static_cast<std::int64_t>(i) * COLUMN_BLOCK, sizeof y);
    const double* gi = g + static_cast<std::int64_t>(i) * n;
#pragma GCC unroll 8
    for (std::int32_t j = 0; j < n; ++j) acc[j] += y * splat<vc>(gi[j]);
  }
  for (std::int32_t j = 0; j < n; ++j) std::memcpy(b[j], &acc[j], sizeof acc[j]);
}

inline void block_sums_of(std::int32_t nc, std::int32_t npts, const double* g, const double* yb,
                          double b[MAX_NCOEF][COLUMN_BLOCK]) {
  switch (nc) {
    case 1: block_sums<1>(nc, npts, g, yb, b); break;
    case 2: block_sums<2>(nc, npts, g, yb, b); break;
    case 3: block_sums<3>(nc, npts, g, yb, b); break;
    case 4: block_sums<4>(nc, npts, g, yb, b); break;
    default: block_sums<0>(nc, npts, g, yb, b); break;
  }
}

template <int L, bool Influence, bool Anchored = false>
inline void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
                      double out[L], fit_trouble t[L], lane_extra* extra);

// Not inlined: the few fits that take it need no wide registers, and the
// wide-register code (flattened) stays a third of the size.
template <bool Anchored>
[[gnu::noinline]] double column_alone(const smooth_model* model, fit_scratch& s, double q,
                                      std::int32_t c, const lane_extra* extra, fit_trouble* t);

// The other columns' values of a group whose first column was just fitted:
// a lane fitted in full inside its window's span shares its row of the
// inverse, and only its right-hand sides are summed, column block by
// column block; any other fitted lane (lowered, or anchored outside its
// span) is fitted again per column as it is alone, after the shared ones;
// a failed one fails in every column.
template <int L>
inline void share_columns(const smooth_model* model, fit_scratch& s, const group_windows<L>& g,
                          const group_rank<L>& rank, const double xq[L], int used,
                          const fit_trouble t[L], const lane_extra* extra) {
  const std::int32_t n = s.ncoef;
  const std::int32_t w = model->window;
  const std::int32_t more = extra->columns - 1;
  const auto value = [&](std::int32_t c, int k) -> double& { return s.more[(c - 1) * L + k]; };
  const auto trouble = [&](std::int32_t c, int k) -> fit_trouble& {
    return s.more_trouble[(c - 1) * L + k];
  };
  bool shared[L];
  for (int k = 0; k < used; ++k) {
    shared[k] = rank.distinct[k] >= n && !t[k].singular && g.at_zero[k];
    if (!shared[k]) continue;
    lane_powers<L>(k, n, w, g.rs[k], s.recorded, s.powers);
    for (std::int32_t first = 0; first < more; first += COLUMN_BLOCK) {
      const double* yb = extra->blocks + (static_cast<std::int64_t>(first) * model->count +
                                          static_cast<std::int64_t>(g.start[k]) * COLUMN_BLOCK);
      double b[MAX_NCOEF][COLUMN_BLOCK];
      block_sums_of(n, w, s.powers, yb, b);
      for (int l = 0; l < COLUMN_BLOCK && first + l < more; ++l) {
        double bl[MAX_NCOEF] = {};
        for (std::int32_t j = 0; j < n; ++j) bl[j] = b[j][l];
        const std::int32_t c = first + l + 1;
        value(c, k) = lane_solve::first_coefficient<double>(s.rows[k], bl, n);
        // The solve is shared, but the value's rounding depends on the
        // column's own right-hand side and magnitude.
        fit_trouble& tc = trouble(c, k);
        tc = t[k];
        tc.inaccurate = false;
        judge_at_zero(tc, s.inverses[k], s.sums[k], bl, n,
                      for_scale(s.limit, extra->scales[c - 1]));
      }
    }
  }
  // The scratch is the shared lanes' no longer: refit the others.
  for (int k = 0; k < used; ++k) {
    if (shared[k]) continue;
    for (std::int32_t c = 1; c <= more; ++c) {
      trouble(c, k) = t[k];
      value(c, k) = t[k].singular ? FIT_FAILED
                                  : column_alone<false>(model, s, xq[k], c, extra, &trouble(c, k));
    }
  }
}

// The fit at q of column c (> 0) of several columns of ordinates, alone:
// the model with that column for its ordinates, fitted as the call with
// that column alone fits it.
template <bool Anchored>
[[gnu::noinline]] double column_alone(const smooth_model* model, fit_scratch& s, double q,
                                      std::int32_t c, const lane_extra* extra, fit_trouble* t) {
  smooth_model column = *model;
  column.y = const_cast<double*>(extra->y_more[c - 1]);
  column.y_scale = extra->scales[c - 1];
  const double pair[2] = {q, q};
  double value[2] = {};
  fit_trouble trouble[2];
  lane_extra alone;
  alone.lower = extra->lower;
  fit_group<2, false, Anchored>(&column, s, pair, 1, value, trouble, &alone);
  *t = trouble[0];
  return value[0];
}

// A group with a query outside its window's span fits each wanted query
// alone, anchored (two lanes of one query): such queries are few, and the
// others keep their bits, since inside its span a query's anchored
// coordinate is its own. Not inlined, like column_alone.
template <int L, bool Influence>
[[gnu::noinline]] void fit_alone(const smooth_model* model, fit_scratch& s, const double xq[L],
                                 int used, double out[L], fit_trouble t[L], lane_extra* extra) {
  for (int k = 0; k < used; ++k) {
    const double pair[2] = {xq[k], xq[k]};
    double value[2] = {};
    fit_trouble trouble[2];
    lane_extra alone;
    alone.lower = extra->lower;
    alone.second = extra->second;
    alone.own[0] = alone.own[1] = extra->own[k];
    fit_group<2, Influence, true>(model, s, pair, 1, value, trouble, &alone);
    out[k] = value[0];
    t[k] = trouble[0];
    extra->lowered[k] = alone.lowered[0];
    extra->variance[k] = alone.variance[0];
    extra->leverage[k] = alone.leverage[0];
    for (std::int32_t c = 1; c < extra->columns; ++c)
      s.more[(c - 1) * L + k] =
          column_alone<true>(model, s, xq[k], c, extra, &s.more_trouble[(c - 1) * L + k]);
  }
}

// Fits L queries at once, their troubles into t[0..L-1]; only the first
// `used` lanes' results are wanted (the others repeat a query and are
// neither solved nor noted). `extra` says how, and receives the rest.
template <int L, bool Influence, bool Anchored>
inline void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
                      double out[L], fit_trouble t[L], lane_extra* extra) {
  for (int k = 0; k < L; ++k) extra->lowered[k] = false;
  refresh_error_limit(s.limit, model->y_scale, model->window);
  const group_windows<L> g = place_group<L>(model, xq, used);
  if constexpr (!Anchored) {
    if (g.outside) {
      fit_alone<L, Influence>(model, s, xq, used, out, t, extra);
      return;
    }
  }
  group_rank<L> rank;
  const bool record = (Influence && extra->second) || extra->columns > 1;
  rank = record ? group_sums<L, Anchored, true>(model, s, g, used, extra->lower)
                : group_sums<L, Anchored, false>(model, s, g, used, extra->lower);
  std::int32_t ncoef[L];
  bool edge[L];
  solve_group<L, Influence, Anchored>(model, s, g, rank, used, out, t, extra, ncoef, edge);
  if constexpr (Influence) group_influence<L>(model, s, g, rank, used, t, ncoef, edge, extra);
  if constexpr (!Anchored) {
    if (extra->columns > 1) share_columns<L>(model, s, g, rank, xq, used, t, extra);
  }
}

}  // namespace local_fit

#endif
