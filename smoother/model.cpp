#include "smoother/model.h"

#include <cmath>
#include <limits>

#include "host/host.h"
#include "numeric/matrix.h"
#include "numeric/lane_solve.h"
#include "numeric/lanes.h"
#include "numeric/normal_sums.h"
#include "numeric/polyfit.h"
#include "numeric/radix_sort.h"
#include "smoother/parallel.h"

std::int32_t to_int32(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<std::int32_t>(v);  // truncates toward zero
}

std::int32_t window_size(std::int32_t count, double f, std::int32_t degree) {
  const std::int32_t w = to_int32(std::floor(static_cast<double>(count) * f));
  const std::int32_t least = degree + 1;
  const std::int32_t q = w > least ? w : least;
  return q < count ? q : count;
}

bool takes_part(const data_choice& choice, const double* xs, const double* ys, std::int32_t i) {
  if (choice.weights != nullptr && choice.weights[i] == 0.0) return false;
  if (choice.omit_missing && std::isnan(ys[i])) return false;
  return !std::isnan(xs[i]);
}

std::int32_t count_taking_part(const data_choice& choice, std::int32_t count, const double* xs,
                               const double* ys) {
  std::int32_t m = 0;
  for (std::int32_t i = 0; i < count; ++i) m += takes_part(choice, xs, ys, i) ? 1 : 0;
  return m;
}

smooth_model* build_model(std::int32_t count, const double* xs, const double* ys, double f,
                          std::int32_t degree) {
  return build_model(count, xs, ys, data_choice{}, f, degree);
}

smooth_model* build_model(std::int32_t count, const double* xs, const double* ys,
                          const data_choice& choice, double f, std::int32_t degree,
                          const double*** sorted) {
  const double** order = host_alloc_array<const double*>(count);
  smooth_model* model = host_alloc_array<smooth_model>(1);
  std::int32_t kept = 0;
  for (std::int32_t i = 0; i < count; ++i)
    if (takes_part(choice, xs, ys, i)) order[kept++] = xs + i;
  // Stable, so equal abscissae keep their input order.
  sort_double_ptrs(order, static_cast<std::uint64_t>(kept));
  // Never a request for zero bytes, which the host may answer with null.
  const std::int32_t room = kept > 0 ? kept : 1;
  model->x = host_alloc_array<double>(room);
  model->y = host_alloc_array<double>(room);
  for (std::int32_t i = 0; i < kept; ++i) {
    model->x[i] = *order[i];
    model->y[i] = ys[order[i] - xs];
  }
  // Weights of 1 change no product, so all-ones weights need no array.
  model->weights = nullptr;
  bool all_ones = true;
  for (std::int32_t i = 0; i < kept && choice.weights != nullptr; ++i)
    all_ones = all_ones && choice.weights[order[i] - xs] == 1.0;
  if (!all_ones) {
    model->weights = host_alloc_array<double>(kept);
    for (std::int32_t i = 0; i < kept; ++i) model->weights[i] = choice.weights[order[i] - xs];
  }
  model->count = kept;
  model->f = f;
  model->degree = degree;
  model->window = window_size(kept, f, degree);
  if (sorted != nullptr) {
    *sorted = order;
  } else {
    host_free(order);
  }
  return model;
}

std::int32_t find_window_start(double xq, std::int32_t window, std::int32_t count,
                               const double* xs) {
  // 64-bit positions: start + step can exceed the 32-bit range for huge counts.
  const std::int64_t q = window;
  const std::int64_t n = count;
  const double twice = xq * 2.0;
  std::int64_t step = n - q;
  std::int64_t start = 0;
  // Written with selects rather than branches: the direction of each step
  // is data-dependent and would mispredict about half the time.
  while (step > 0) {
    const bool can_up = start + q < n;
    const bool can_down = start > 0;
    // Loads stay in bounds; a guarded comparison ignores its stand-in value.
    const double after = xs[can_up ? start + q : start];
    const double before = xs[can_down ? start - 1 : start];
    // Up when the window's first point is farther from xq than the point
    // after it; else down when its last point is farther than the one before.
    const bool up = can_up && twice - xs[start] > after;
    const bool down = !up && can_down && xs[start + q - 1] > twice - before;
    const std::int64_t raised = start + step < n - q ? start + step : n - q;
    const std::int64_t lowered = start - step > 0 ? start - step : 0;
    start = up ? raised : (down ? lowered : start);
    step = (up || down) ? (step + 1) / 2 : 0;
  }
  return static_cast<std::int32_t>(start);
}

namespace {

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
};

fit_scratch new_scratch(const smooth_model* model, bool influence, bool second) {
  fit_scratch s;
  s.ncoef = model->degree + 1;
  for (int k = 0; k < MAX_LANES; ++k) {
    s.sums[k] = host_alloc_array<double>(3 * s.ncoef - 1);
    s.rows[k] = influence ? host_alloc_array<double>(s.ncoef) : nullptr;
    s.second[k] = second ? host_alloc_array<double>(2 * s.ncoef - 1) : nullptr;
  }
  s.recorded =
      second ? host_alloc_array<double>(static_cast<std::int64_t>(2 * MAX_LANES) * model->window)
             : nullptr;
  s.normal = alloc_rows(s.ncoef + 1, s.ncoef);
  s.work = alloc_rows(s.ncoef, s.ncoef);
  s.inverse = alloc_rows(s.ncoef, s.ncoef);
  return s;
}

void free_scratch(fit_scratch& s) {
  for (int k = 0; k < MAX_LANES; ++k) {
    host_free(s.sums[k]);
    if (s.rows[k] != nullptr) host_free(s.rows[k]);
    if (s.second[k] != nullptr) host_free(s.second[k]);
  }
  if (s.recorded != nullptr) host_free(s.recorded);
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

placement place(const smooth_model* model, double xq) {
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

// Tricube weights of L queries' windows, one query per lane, point by
// point in ascending order; times the robustness weights `r` when Robust.
// Each point also gets the query's own coordinate c = (x - q) / h, in which
// the polynomial is fitted: c lies in [-1, 1] wherever the weight is
// nonzero, so the power sums do not cancel however far the data sit from
// zero or however narrow the window is, and the query itself sits at c = 0.
template <int L, bool Robust>
struct tricube {
  using vd = typename lanes_of<L>::d;
  using vi = typename lanes_of<L>::i;
  static constexpr bool robust = Robust;
  vd q;
  vd h;
  const double* const* r;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    const vd c = (x - q) / h;
    // t = d / h with d = |x - q| the distance: rounding is symmetric, so
    // that is |c|. (The model holds no NaN abscissa, so its abscissae
    // ascend and the distance needs no care for points out of order.)
    const vd t = (vd)((vi)c & ~(vi)splat<vd>(-0.0));
    const vd u = 1.0 - t * t * t;
    // Weight 0 (all bits clear) unless t < 1, i.e. h > d: where d / h
    // rounds to 1 the weight is 0 either way.
    vd w = (vd)((vi)(u * u * u) & (vi)(t < 1.0));
    if constexpr (Robust) w = w * gather<vd>(r, i);
    return {w, c};
  }

  tricube<L, false> unweighted() const { return {q, h, r}; }
};

// The same weights for queries that may lie outside the span [lo, hi] of
// their window's abscissae (beyond the data, or across a gap). There every
// point lies to one side of the query and (x - q) / h would crowd them
// near -1 or 1, where the power sums cancel again; so the coordinate is
// c = (x - z) / s, z the middle of the span and s the larger of z - lo and
// hi - z, which spreads the points over [-1, 1], and the value is the
// polynomial at the query's own c. For a query inside its span, z is the
// query itself and this is exactly the coordinate above.
template <int L, bool Robust>
struct anchored {
  using vd = typename lanes_of<L>::d;
  static constexpr bool robust = Robust;
  tricube<L, Robust> tri;
  vd z;
  vd s;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    weighted_point<vd> p = tri(i, x);
    p.c = (x - z) / s;
    return p;
  }

  anchored<L, false> unweighted() const { return {tri.unweighted(), z, s}; }
};

// The weights and coordinates of `Plain` (the functor without robustness
// weights), times the model weights when Robust, as the robust functor
// forms them, with each point's T and c kept for the variances' sums.
template <int L, bool Robust, typename Plain>
struct recorded {
  using vd = typename lanes_of<L>::d;
  Plain plain;
  const double* const* r;
  double* store;

  weighted_point<vd> operator()(std::int32_t i, const vd& x) {
    weighted_point<vd> p = plain(i, x);
    double* at = store + static_cast<std::int64_t>(i) * (2 * L);
    std::memcpy(at, &p.w, sizeof p.w);
    std::memcpy(at + L, &p.c, sizeof p.c);
    if constexpr (Robust) p.w = p.w * gather<vd>(r, i);
    return p;
  }
};

// The fit of one lane from its sums. At cq = 0 (its query inside its
// window's span) the value is the constant coefficient, and `row`, when not
// null, receives the inverse's first row. Elsewhere the value is the
// polynomial at cq and `row` receives v(cq)' M^-1: the value is row . b.
double solve_at(fit_scratch& s, const double* sums, fit_trouble& t, double* row, bool at_zero,
                double cq) {
  const std::int32_t n = s.ncoef;
  fill_normal_system(s.normal, n, sums, 1.0);
  t = gauss_jordan(s.normal, s.work, s.inverse, n);
  if (t.singular) return FIT_FAILED;
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
  const poly_fit fit{n, coef};
  return eval_polynomial(&fit, cq);
}

// Fewer distinct weighted abscissae than coefficients: singular in exact
// arithmetic, whatever pivot rounding would leave, so no solve is tried.
double rank_deficient(fit_trouble& t) {
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
  constexpr int SLOTS = NC > 0 ? 2 * NC - 1 : 2 * MAX_NCOEF - 1;
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
double variance_of(const double* a, const double* m2, std::int32_t n) {
  double v = 0.0;
  for (std::int32_t r = 0; r < n; ++r) {
    double t = 0.0;
    for (std::int32_t c = 0; c < n; ++c) t += m2[r + c] * a[c];
    v += a[r] * t;
  }
  return v;
}

// Whether each lane's window holds at least `need` distinct abscissae among
// its points of nonzero (or NaN) weight. The weights are the very ones the
// sums use (the same functor from the same start); abscissae ascend, so a
// new value is one unequal to the last weighted one. The scan stops once
// both lanes have enough, which for ordinary data is within the first few
// points, so it costs next to nothing beside the sums over the whole window.
template <int L, typename Weight>
void rank_test(const Weight& weights, std::int32_t window, const double* const xs[L],
               std::int32_t need, bool full[L]) {
  Weight weight = weights;  // its own copy: the weights carry state
  double last[L];
  std::int32_t count[L];
  for (int k = 0; k < L; ++k) {
    last[k] = __builtin_nan("");
    count[k] = 0;
  }
  std::int32_t least = 0;
  for (std::int32_t i = 0; i < window && least < need; ++i) {
    const auto x = gather<typename lanes_of<L>::d>(xs, i);
    const auto w = weight(i, x).w;
    least = need;
    for (int k = 0; k < L; ++k) {
      if (w[k] != 0.0) {
        if (x[k] != last[k]) ++count[k];
        last[k] = x[k];
      }
      if (count[k] < least) least = count[k];
    }
  }
  for (int k = 0; k < L; ++k) full[k] = count[k] >= need;
}

// What a group of lanes returns beside the values, when Influence: per
// lane, the variance factor and the leverage of its own point own[k].
struct lane_influence {
  bool second;  // whether the variances are wanted
  std::int32_t own[MAX_LANES];
  double variance[MAX_LANES];
  double leverage[MAX_LANES];
};

// Fits L queries at once, their troubles into t[0..L-1]; only the first
// `used` lanes' results are wanted (the others repeat a query and are
// neither solved nor noted). A group with a query outside its window's
// span fits each query alone (Anchored, two lanes of one query): such
// queries are few, and the others keep their bits, since inside its span
// a query's anchored coordinate is its own.
template <int L, bool Influence, bool Anchored = false>
void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
               double out[L], fit_trouble t[L], lane_influence* li) {
  using vd = typename lanes_of<L>::d;
  const double* xs[L];
  const double* ys[L];
  const double* rs[L];
  vd q;
  vd h;
  vd z;       // Anchored: the query moved into its window's span
  vd sc;      // Anchored: the coordinate's scale
  double cq[L];  // Anchored: the query's own coordinate
  bool at_zero[L];  // whether the query lies inside its window's span
  std::int32_t start[L];
  bool outside = false;
  for (int k = 0; k < L; ++k) {
    const placement p = place(model, xq[k]);
    start[k] = p.start;
    xs[k] = model->x + p.start;
    ys[k] = model->y + p.start;
    rs[k] = model->weights != nullptr ? model->weights + p.start : nullptr;
    q[k] = xq[k];
    h[k] = p.h;
    at_zero[k] = !(xq[k] < p.lo || xq[k] > p.hi);
    outside = outside || (k < used && !at_zero[k]);
    const double at = at_zero[k] ? xq[k] : p.lo + (p.hi - p.lo) * 0.5;
    z[k] = at;
    sc[k] = (at - p.lo) > (p.hi - at) ? (at - p.lo) : (p.hi - at);
    cq[k] = at_zero[k] ? 0.0 : (xq[k] - at) / sc[k];
  }
  if constexpr (!Anchored) {
    if (outside) {
      for (int k = 0; k < used; ++k) {
        const double pair[2] = {xq[k], xq[k]};
        double value[2];
        fit_trouble trouble[2];
        lane_influence alone{};
        alone.second = li->second;
        alone.own[0] = alone.own[1] = li->own[k];
        fit_group<2, Influence, true>(model, s, pair, 1, value, trouble, &alone);
        out[k] = value[0];
        t[k] = trouble[0];
        if constexpr (Influence) {
          li->variance[k] = alone.variance[0];
          li->leverage[k] = alone.leverage[0];
        }
      }
      return;
    }
  }
  const bool second = Influence && li->second;
  bool full[L] = {};
  bool any = false;
  bool all = used == L;
  const auto sums_if_needed = [&](const auto& weight, auto& sums_point) {
    rank_test<L>(weight, model->window, xs, s.ncoef, full);
    for (int k = 0; k < used; ++k) {
      any = any || full[k];
      all = all && full[k];
    }
    if (any) normal_sums<L>(s.ncoef, model->window, xs, ys, sums_point, s.sums);
  };
  const auto sums_by = [&](auto weight) {
    if constexpr (Influence) {
      if (second) {
        using plain_t = decltype(weight.unweighted());
        recorded<L, decltype(weight)::robust, plain_t> recording{weight.unweighted(), rs,
                                                                 s.recorded};
        sums_if_needed(weight, recording);
        return;
      }
    }
    sums_if_needed(weight, weight);
  };
  const bool robust = model->weights != nullptr;
  if constexpr (Anchored) {
    if (robust) {
      sums_by(anchored<L, true>{{q, h, rs}, z, sc});
    } else {
      sums_by(anchored<L, false>{{q, h, rs}, z, sc});
    }
  } else {
    if (robust) {
      sums_by(tricube<L, true>{q, h, rs});
    } else {
      sums_by(tricube<L, false>{q, h, rs});
    }
  }
  double* const* rows = Influence ? s.rows : nullptr;
  if (Anchored || !(all && fit_lanes_from_sums<L>(s.ncoef, s.sums, out, t, rows))) {
    for (int k = 0; k < used; ++k)
      out[k] = full[k] ? solve_at(s, s.sums[k], t[k], Influence ? s.rows[k] : nullptr,
                                  at_zero[k], cq[k])
                       : rank_deficient(t[k]);
  }
  if constexpr (Influence) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < used; ++k) li->variance[k] = li->leverage[k] = none;
    if (!any) return;
    const std::int32_t w = model->window;
    if (second && robust) second_sums_of<L, true>(s.ncoef, w, rs, s.recorded, s.second);
    if (second && !robust) second_sums_of<L, false>(s.ncoef, w, rs, s.recorded, s.second);
    for (int k = 0; k < used; ++k) {
      if (t[k].singular) continue;
      const double* a = s.rows[k];
      if (second) li->variance[k] = variance_of(a, s.second[k], s.ncoef);
      // The own point weighs T = 1 (it lies at the query) times its weight,
      // if the window holds it at all: l = w a . v(cq), which inside the
      // window's span (cq = 0) is w a[0].
      const std::int32_t o = li->own[k];
      const bool inside = o >= start[k] && o < start[k] + model->window && h[k] > 0.0;
      const double own_w = robust && inside ? model->weights[o] : 1.0;
      double av = a[0];
      double power = cq[k];
      for (std::int32_t j = 1; j < s.ncoef && !at_zero[k]; ++j) {
        av += power * a[j];
        power *= cq[k];
      }
      li->leverage[k] = inside ? own_w * av : 0.0;
    }
  }
}

// out[i] = the fit at xq[i] for i < n, its trouble in t[i]. Queries are
// fitted in groups of L consecutive fittable ones; a NaN query has no
// place among the data and gets NaN, with no trouble. When Influence, `inf`
// (its arrays indexed like out) receives the rest.
//
// With `order`, query i is instead *order[i], a pointer into xq, and its
// results go to out[order[i] - xq] (and inf's arrays likewise); t stays
// positional.
template <int L, bool Influence>
void fit_range(const smooth_model* model, fit_scratch& s, const double* xq,
               const double* const* order, std::int64_t n, double* out, fit_trouble* t,
               const fit_influence& inf) {
  double q[L] = {};
  std::int64_t at[L];
  std::int64_t dst[L];
  int held = 0;
  double r[L];
  fit_trouble rt[L];
  lane_influence li{};
  li.second = inf.variance != nullptr;
  const auto flush = [&] {
    for (int k = held; k < L; ++k) q[k] = q[0];
    if constexpr (Influence) {
      for (int k = 0; k < held; ++k) li.own[k] = inf.own != nullptr ? inf.own[dst[k]] : -1;
    }
    fit_group<L, Influence>(model, s, q, held, r, rt, &li);
    for (int k = 0; k < held; ++k) {
      out[dst[k]] = r[k];
      t[at[k]] = rt[k];
      if constexpr (Influence) {
        if (inf.variance != nullptr) inf.variance[dst[k]] = li.variance[k];
        if (inf.leverage != nullptr) inf.leverage[dst[k]] = li.leverage[k];
      }
    }
    held = 0;
  };
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t from = order != nullptr ? order[i] - xq : i;
    const double v = xq[from];
    if (std::isnan(v)) {
      out[from] = std::numeric_limits<double>::quiet_NaN();
      t[i] = fit_trouble{};
      if constexpr (Influence) {
        if (inf.variance != nullptr) inf.variance[from] = out[from];
        if (inf.leverage != nullptr) inf.leverage[from] = out[from];
      }
      continue;
    }
    q[held] = v;
    dst[held] = from;
    at[held++] = i;
    if (held == L) flush();
  }
  if (held > 0) flush();
}

using range_fitter = void (*)(const smooth_model*, fit_scratch&, const double*,
                              const double* const*, std::int64_t, double*, fit_trouble*,
                              const fit_influence&);

// Each lane width's code, the wider ones compiled for their instruction set.
template <bool Influence>
void fit_range_2(const smooth_model* model, fit_scratch& s, const double* xq,
                 const double* const* order, std::int64_t n, double* out, fit_trouble* t,
                 const fit_influence& inf) {
  fit_range<2, Influence>(model, s, xq, order, n, out, t, inf);
}
#if QUIBRA_WIDE_LANES
template <bool Influence>
QUIBRA_AVX2 void fit_range_4(const smooth_model* model, fit_scratch& s, const double* xq,
                             const double* const* order, std::int64_t n, double* out,
                             fit_trouble* t, const fit_influence& inf) {
  fit_range<4, Influence>(model, s, xq, order, n, out, t, inf);
}
template <bool Influence>
QUIBRA_AVX512 void fit_range_8(const smooth_model* model, fit_scratch& s, const double* xq,
                               const double* const* order, std::int64_t n, double* out,
                               fit_trouble* t, const fit_influence& inf) {
  fit_range<8, Influence>(model, s, xq, order, n, out, t, inf);
}
#endif

template <bool Influence>
range_fitter fitter_for(int lanes) {
#if QUIBRA_WIDE_LANES
  if (lanes == 8) return fit_range_8<Influence>;
  if (lanes == 4) return fit_range_4<Influence>;
#endif
  (void)lanes;
  return fit_range_2<Influence>;
}

// One run of fits shared among threads: each worker fits its chunks with
// its own scratch and leaves their troubles in the round's slots; the
// calling thread notes them in query order at the end of every round.
struct fit_job {
  const smooth_model* model;
  const double* xq;
  double* out;
  fit_scratch* scratch;   // one per worker
  fit_trouble* troubles;  // one per query of a round; in ascending order, `chunk` per worker
  std::int64_t round;
  std::int64_t chunk;
  range_fitter fit;
  fit_settings* settings;
  fit_influence influence;  // arrays null when not wanted
  // In ascending order: the queries, as pointers into xq, and each query's
  // trouble by its index in xq, noted in that order once all are fitted.
  const double* const* order;
  std::uint8_t* trouble_kind;
};

// p + offset, or null.
template <typename T>
T* shifted(T* p, std::int64_t offset) {
  return p != nullptr ? p + offset : nullptr;
}

// Trouble kept by query until a run in ascending order is over: one byte
// each, as an unstable fit's offending entry is found again by refitting.
enum : std::uint8_t { TROUBLE_NONE, TROUBLE_SINGULAR, TROUBLE_UNSTABLE };

std::uint8_t trouble_kind_of(const fit_trouble& t) {
  return t.singular ? TROUBLE_SINGULAR : (t.unstable ? TROUBLE_UNSTABLE : TROUBLE_NONE);
}

void fit_chunk(void* context, int worker, std::int64_t begin, std::int64_t end) {
  fit_job& job = *static_cast<fit_job*>(context);
  if (job.order != nullptr) {
    // Each worker keeps its chunk's trouble in its own slots, then by query.
    fit_trouble* t = job.troubles + worker * job.chunk;
    job.fit(job.model, job.scratch[worker], job.xq, job.order + begin, end - begin, job.out, t,
            job.influence);
    for (std::int64_t i = 0; i < end - begin; ++i)
      job.trouble_kind[job.order[begin + i] - job.xq] = trouble_kind_of(t[i]);
  } else {
    fit_influence inf;
    inf.variance = shifted(job.influence.variance, begin);
    inf.leverage = shifted(job.influence.leverage, begin);
    inf.own = shifted(job.influence.own, begin);
    fit_trouble* t = job.troubles + begin % job.round;
    job.fit(job.model, job.scratch[worker], job.xq + begin, nullptr, end - begin,
            job.out + begin, t, inf);
  }
}

void note_round(void* context, std::int64_t begin, std::int64_t end) {
  fit_job& job = *static_cast<fit_job*>(context);
  // A run in ascending order notes its trouble once it is over.
  if (job.order != nullptr) return;
  for (std::int64_t i = begin; i < end; ++i) note_trouble(job.settings, job.troubles[i - begin]);
}

}  // namespace

void fit_many(const smooth_model* model, const double* xq, std::int32_t n, double* out,
              fit_settings* settings) {
  fit_many_influence(model, xq, n, out, settings, nullptr, nullptr);
}

void fit_many_influence(const smooth_model* model, const double* xq, std::int32_t n,
                        double* out, fit_settings* settings, const fit_influence* influence,
                        const double* const* ascending) {
  if (n <= 0) return;
  if (model->count == 0 || model->degree < 0 || model->degree > MAX_DEGREE) {
    // No data, or no fit can be made with that many coefficients.
    const double none =
        model->count == 0 ? std::numeric_limits<double>::quiet_NaN() : FIT_FAILED;
    for (std::int32_t i = 0; i < n; ++i) out[i] = none;
    if (influence != nullptr) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      for (std::int32_t i = 0; i < n; ++i) {
        if (influence->variance != nullptr) influence->variance[i] = nan;
        if (influence->leverage != nullptr) influence->leverage[i] = nan;
      }
    }
    return;
  }
  const bool wanted = influence != nullptr &&
                      (influence->variance != nullptr || influence->leverage != nullptr);
  // Queries in ascending order share their neighbours' windows, so each
  // group of lanes reads nearby data and tends to pivot alike: much faster
  // for small windows. The results land where they belong, and the trouble
  // is noted in query order once all are fitted.
  const bool in_order = ascending != nullptr;
  std::uint8_t* kind = nullptr;
  std::int64_t items = n;
  if (in_order) {
    kind = host_alloc_array<std::uint8_t>(n);
    // Queries outside the order are the NaN ones: no fit, no trouble.
    items = 0;
    for (std::int32_t i = 0; i < n; ++i) {
      kind[i] = TROUBLE_NONE;
      if (std::isnan(xq[i])) {
        out[i] = std::numeric_limits<double>::quiet_NaN();
        if (wanted && influence->variance != nullptr) influence->variance[i] = out[i];
        if (wanted && influence->leverage != nullptr) influence->leverage[i] = out[i];
      } else {
        ++items;
      }
    }
  }
  const run_plan plan = plan_run(settings, items, model->window);
  // Everything the workers use is taken here, on the calling thread.
  fit_scratch* scratch = host_alloc_array<fit_scratch>(plan.threads);
  const bool second = wanted && influence->variance != nullptr;
  for (int t = 0; t < plan.threads; ++t) scratch[t] = new_scratch(model, wanted, second);
  const std::int64_t slots = in_order ? plan.threads * plan.chunk : plan.round;
  fit_trouble* troubles = host_alloc_array<fit_trouble>(slots > 0 ? slots : 1);
  fit_job job{model,      xq,         out, scratch, troubles, plan.round, plan.chunk,
              wanted ? fitter_for<true>(plan.lanes) : fitter_for<false>(plan.lanes), settings,
              wanted ? *influence : fit_influence{}, in_order ? ascending : nullptr, kind};
  if (items > 0) run_parallel(parallel_task{&job, fit_chunk, note_round}, items, plan);
  if (in_order) {
    for (std::int32_t i = 0; i < n; ++i) {
      if (kind[i] == TROUBLE_NONE) continue;
      fit_trouble t;
      t.singular = kind[i] == TROUBLE_SINGULAR;
      if (!t.singular) {
        // Fitted again, alone: the same arithmetic finds the same entry.
        double again;
        job.fit(model, scratch[0], xq + i, nullptr, 1, &again, &t, fit_influence{});
      }
      note_trouble(settings, t);
    }
    host_free(kind);
  }
  host_free(troubles);
  for (int t = 0; t < plan.threads; ++t) free_scratch(scratch[t]);
  host_free(scratch);
}

double fit_at(const smooth_model* model, double xq) {
  double value;
  fit_settings settings;
  fit_many(model, &xq, 1, &value, &settings);
  return value;
}
