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

namespace {

// Moves data that sit far from zero against their spread next to it, where
// the local power sums do not cancel. Within a factor of two of each other
// any two doubles subtract exactly, so every moved abscissa is exact.
void move_near_zero(smooth_model* model) {
  model->origin = 0.0;
  if (model->count == 0) return;
  const double lo = model->x[0];
  const double hi = model->x[model->count - 1];
  if (!(std::isfinite(lo) && std::isfinite(hi))) return;
  if (!((0.0 < lo && hi <= 2.0 * lo) || (hi < 0.0 && 2.0 * hi <= lo))) return;
  model->origin = lo + (hi - lo) * 0.5;
  for (std::int32_t i = 0; i < model->count; ++i) model->x[i] = model->x[i] - model->origin;
}

}  // namespace

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
  move_near_zero(model);
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
  double** normal;     // ncoef + 1 rows: the normal matrix, then its right-hand side
  double** work;       // Gauss-Jordan working copy
  double** inverse;
  double* coef;
  double* moments[MAX_LANES];  // each lane's centred moments; null when not wanted
  double* tricubes;            // the sums' tricube weights, L per window point; null likewise
};

fit_scratch new_scratch(const smooth_model* model, bool influence) {
  fit_scratch s;
  s.ncoef = model->degree + 1;
  for (int k = 0; k < MAX_LANES; ++k) s.sums[k] = host_alloc_array<double>(3 * s.ncoef - 1);
  for (int k = 0; k < MAX_LANES; ++k)
    s.moments[k] = influence ? host_alloc_array<double>(2 * (2 * s.ncoef - 1)) : nullptr;
  s.tricubes =
      influence ? host_alloc_array<double>(static_cast<std::int64_t>(MAX_LANES) * model->window)
                : nullptr;
  s.normal = alloc_rows(s.ncoef + 1, s.ncoef);
  s.work = alloc_rows(s.ncoef, s.ncoef);
  s.inverse = alloc_rows(s.ncoef, s.ncoef);
  s.coef = host_alloc_array<double>(s.ncoef);
  return s;
}

void free_scratch(fit_scratch& s) {
  for (int k = 0; k < MAX_LANES; ++k) host_free(s.sums[k]);
  for (int k = 0; k < MAX_LANES; ++k)
    if (s.moments[k] != nullptr) host_free(s.moments[k]);
  if (s.tricubes != nullptr) host_free(s.tricubes);
  free_rows(s.normal, s.ncoef + 1);
  free_rows(s.work, s.ncoef);
  free_rows(s.inverse, s.ncoef);
  host_free(s.coef);
}

// Where a query's window lies, and its bandwidth.
struct placement {
  std::int32_t start;
  double h;
};

placement place(const smooth_model* model, double xq) {
  const double* xs = model->x;
  placement p{0, 0.0};
  double lo = xs[0];
  double hi = xs[model->count - 1];
  if (model->f < 1.0) {
    p.start = find_window_start(xq, model->window, model->count, xs);
    lo = xs[p.start];
    hi = xs[p.start + model->window - 1];
  }
  // Distance to the farther end, so that end gets weight 0.
  p.h = (xq - lo) > (hi - xq) ? (xq - lo) : (hi - xq);
  return p;
}

// Tricube weights of L queries' windows, one query per lane, point by
// point in ascending order; times the robustness weights `r` when Robust.
template <int L, bool Robust>
struct tricube {
  using vd = typename lanes_of<L>::d;
  using vi = typename lanes_of<L>::i;
  static constexpr bool robust = Robust;
  vd q;
  vd h;
  const double* const* r;
  vi above = {};

  vd operator()(std::int32_t i, const vd& x) {
    // Once a point at or above the query is met, every later point counts
    // as above (a NaN abscissa compares false and so counts as below).
    above |= (vi)(x >= q);
    // d = x - q above the query, q - x below it. Rounding to nearest is
    // symmetric, so q - x is x - q with its sign flipped; the two differ
    // only in the sign of a zero, which needs x == q, and then x is above.
    const vi sign = (vi)splat<vd>(-0.0);
    const vd d = (vd)((vi)(x - q) ^ (sign & ~above));
    const vd t = d / h;
    const vd u = 1.0 - t * t * t;
    // Weight 0 (all bits clear) unless h > d.
    vd w = (vd)((vi)(u * u * u) & (vi)(h > d));
    if constexpr (Robust) w = w * gather<vd>(r, i);
    return w;
  }
};

double solve_at(fit_scratch& s, const double* sums, double xq, fit_trouble& t) {
  fill_normal_system(s.normal, s.ncoef, sums, 1.0);
  t = gauss_jordan(s.normal, s.work, s.inverse, s.ncoef);
  if (t.singular) return FIT_FAILED;
  solve_coefficients(s.inverse, s.normal[s.ncoef], s.coef, s.ncoef);
  const poly_fit fit{s.ncoef, s.coef};
  return eval_polynomial(&fit, xq);
}

// Fewer distinct weighted abscissae than coefficients: singular in exact
// arithmetic, whatever pivot rounding would leave, so no solve is tried.
double rank_deficient(fit_trouble& t) {
  t = fit_trouble{};
  t.singular = true;
  return FIT_FAILED;
}

// The moments of L windows in the scaled offset u = (x - q) / h, which lies
// in [-1, 1] over every point of weight > 0: m[k][j] = sum K u^j and
// m[k][2 nc - 1 + j] = sum K T u^j for j = 0 .. 2 nc - 2, K = T w the
// point's weight in the fit and T its tricube weight, each sum in ascending
// point order from +0.0. NC > 0 fixes nc at compile time.
// `tricubes` holds each point's T for the L lanes, as the sums used them.
// Without Second only m1 is computed (m2 is left as it was).
template <int L, int NC, bool Robust, bool Second>
void centred_moments(std::int32_t nc, std::int32_t npts, const double* const xs[L],
                     const double* const rs[L], const typename lanes_of<L>::d& q,
                     const typename lanes_of<L>::d& h, const double* tricubes, double* const m[L]) {
  using vd = typename lanes_of<L>::d;
  const std::int32_t n = NC > 0 ? NC : nc;
  constexpr int SLOTS = NC > 0 ? 2 * NC - 1 : 2 * MAX_NCOEF - 1;
  vd m1[SLOTS] = {};
  vd m2[Second ? SLOTS : 1] = {};
  const vd scale = 1.0 / h;
  for (std::int32_t i = 0; i < npts; ++i) {
    vd t;
    std::memcpy(&t, tricubes + static_cast<std::int64_t>(i) * L, sizeof t);
    const vd x = gather<vd>(xs, i);
    vd k = t;
    if constexpr (Robust) k = t * gather<vd>(rs, i);
    const vd u = (x - q) * scale;
    vd p1 = k;
#pragma GCC unroll 8
    for (std::int32_t j = 0; j < 2 * n - 1; ++j) {
      m1[j] += p1;
      p1 = p1 * u;
    }
    if constexpr (Second) {
      vd p2 = k * t;
#pragma GCC unroll 8
      for (std::int32_t j = 0; j < 2 * n - 1; ++j) {
        m2[j] += p2;
        p2 = p2 * u;
      }
    }
  }
  for (std::int32_t j = 0; j < 2 * n - 1; ++j) {
    for (int l = 0; l < L; ++l) {
      m[l][j] = m1[j][l];
      if constexpr (Second) m[l][2 * n - 1 + j] = m2[j][l];
    }
  }
}

template <int L, bool Robust, bool Second>
void moments_of(std::int32_t nc, std::int32_t npts, const double* const xs[L],
                const double* const rs[L], typename lanes_of<L>::d q, typename lanes_of<L>::d h,
                const double* tricubes, double* const m[L]) {
  switch (nc) {
    case 1: centred_moments<L, 1, Robust, Second>(nc, npts, xs, rs, q, h, tricubes, m); break;
    case 2: centred_moments<L, 2, Robust, Second>(nc, npts, xs, rs, q, h, tricubes, m); break;
    case 3: centred_moments<L, 3, Robust, Second>(nc, npts, xs, rs, q, h, tricubes, m); break;
    case 4: centred_moments<L, 4, Robust, Second>(nc, npts, xs, rs, q, h, tricubes, m); break;
    default: centred_moments<L, 0, Robust, Second>(nc, npts, xs, rs, q, h, tricubes, m); break;
  }
}

// The tricube weights of the sums, T times the model weights when Robust
// (the very product tricube<L, true> forms), with each point's T kept for
// the moments that follow.
template <int L, bool Robust>
struct recorded_tricube {
  using vd = typename lanes_of<L>::d;
  tricube<L, false> tri;
  double* store;

  vd operator()(std::int32_t i, vd x) {
    const vd t = tri(i, x);
    std::memcpy(store + static_cast<std::int64_t>(i) * L, &t, sizeof t);
    if constexpr (Robust) return t * gather<vd>(tri.r, i);
    return t;
  }
};

// From one lane's moments: in the u basis the query sits at u = 0, so the
// value is e0' M^-1 b and l_j = K_j a . v(u_j) with a the first row of
// M^-1. Hence sum l_j^2 / w_j = a' M2 a (M2 the Hankel matrix of sum K T
// u^k), and a point at the query itself (T = 1) has l = w a[0].
// False when M is singular. Prints nothing; the scratch's solve matrices
// are reused, the fit having been made.
bool influence_of(fit_scratch& s, const double* m, bool second, double& variance, double& a0) {
  const std::int32_t n = s.ncoef;
  const double* m2 = m + (2 * n - 1);
  for (std::int32_t r = 0; r < n; ++r)
    for (std::int32_t c = 0; c < n; ++c) s.normal[r][c] = m[r + c];
  if (gauss_jordan(s.normal, s.work, s.inverse, n).singular) return false;
  const double* a = s.inverse[0];
  a0 = a[0];
  if (!second) return true;
  double v = 0.0;
  for (std::int32_t r = 0; r < n; ++r) {
    double t = 0.0;
    for (std::int32_t c = 0; c < n; ++c) t += m2[r + c] * a[c];
    v += a[r] * t;
  }
  variance = v;
  return true;
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
    const auto w = weight(i, x);
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

// Fits L queries at once (abscissae already moved by the model's origin),
// their troubles into t[0..L-1]; only the first `used` lanes' results are
// wanted (the others repeat a query and are neither solved nor noted).
template <int L, bool Influence>
void fit_group(const smooth_model* model, fit_scratch& s, const double xq[L], int used,
               double out[L], fit_trouble t[L], lane_influence* li) {
  using vd = typename lanes_of<L>::d;
  const double* xs[L];
  const double* ys[L];
  const double* rs[L];
  vd q;
  vd h;
  std::int32_t start[L];
  for (int k = 0; k < L; ++k) {
    const placement p = place(model, xq[k]);
    start[k] = p.start;
    xs[k] = model->x + p.start;
    ys[k] = model->y + p.start;
    rs[k] = model->weights != nullptr ? model->weights + p.start : nullptr;
    q[k] = xq[k];
    h[k] = p.h;
  }
  bool full[L] = {};
  bool any = false;
  bool all = used == L;
  const auto sums_if_needed = [&](const auto& weight, auto& sums_weight) {
    rank_test<L>(weight, model->window, xs, s.ncoef, full);
    for (int k = 0; k < used; ++k) {
      any = any || full[k];
      all = all && full[k];
    }
    if (any) normal_sums<L>(s.ncoef, model->window, xs, ys, sums_weight, s.sums);
  };
  const auto sums_by = [&](auto weight) {
    if constexpr (Influence) {
      recorded_tricube<L, decltype(weight)::robust> recording{{q, h, rs}, s.tricubes};
      sums_if_needed(weight, recording);
    } else {
      sums_if_needed(weight, weight);
    }
  };
  if (model->weights != nullptr) {
    sums_by(tricube<L, true>{q, h, rs});
  } else {
    sums_by(tricube<L, false>{q, h, rs});
  }
  if (!(all && fit_lanes_from_sums<L>(s.ncoef, s.sums, xq, out, t))) {
    for (int k = 0; k < used; ++k)
      out[k] = full[k] ? solve_at(s, s.sums[k], xq[k], t[k]) : rank_deficient(t[k]);
  }
  if constexpr (Influence) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < used; ++k) li->variance[k] = li->leverage[k] = none;
    if (!any) return;
    const bool second = li->second;
    const bool robust = model->weights != nullptr;
    const std::int32_t w = model->window;
    if (robust && second) moments_of<L, true, true>(s.ncoef, w, xs, rs, q, h, s.tricubes, s.moments);
    if (robust && !second) moments_of<L, true, false>(s.ncoef, w, xs, rs, q, h, s.tricubes, s.moments);
    if (!robust && second) moments_of<L, false, true>(s.ncoef, w, xs, rs, q, h, s.tricubes, s.moments);
    if (!robust && !second) moments_of<L, false, false>(s.ncoef, w, xs, rs, q, h, s.tricubes, s.moments);
    double a0s[L];
    double variances[L];
    const bool together = first_row_lanes<L>(s.ncoef, s.moments, second, a0s, variances);
    for (int k = 0; k < used; ++k) {
      double a0 = 0.0;
      if (t[k].singular) continue;
      if (together) {
        a0 = a0s[k];
        if (second) li->variance[k] = variances[k];
      } else if (!influence_of(s, s.moments[k], second, li->variance[k], a0)) {
        continue;
      }
      // The own point weighs T = 1 (it lies at the query) times its weight,
      // if the window holds it at all.
      const std::int32_t o = li->own[k];
      const bool inside = o >= start[k] && o < start[k] + model->window && h[k] > 0.0;
      const double own_w = robust && inside ? model->weights[o] : 1.0;
      li->leverage[k] = inside ? own_w * a0 : 0.0;
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
  lane_influence li;
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
    const double v = xq[from] - model->origin;
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
  for (int t = 0; t < plan.threads; ++t) scratch[t] = new_scratch(model, wanted);
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
