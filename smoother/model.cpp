#include "smoother/model.h"

#include <cmath>
#include <limits>

#include "host/host.h"
#include "numeric/compare.h"
#include "numeric/matrix.h"
#include "numeric/normal_sums.h"
#include "numeric/merge_sort.h"
#include "numeric/polyfit.h"

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
  merge_sort(static_cast<void*>(order), static_cast<std::uint64_t>(kept), sizeof(const double*),
             less_double_ptr);
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
  double* sums[2];  // power sums of the two lanes
  double** normal;     // ncoef + 1 rows: the normal matrix, then its right-hand side
  double** work;       // Gauss-Jordan working copy
  double** inverse;
  double* coef;
};

fit_scratch new_scratch(const smooth_model* model) {
  fit_scratch s;
  s.ncoef = model->degree + 1;
  for (int k = 0; k < 2; ++k) s.sums[k] = host_alloc_array<double>(3 * s.ncoef - 1);
  s.normal = alloc_rows(s.ncoef + 1, s.ncoef);
  s.work = alloc_rows(s.ncoef, s.ncoef);
  s.inverse = alloc_rows(s.ncoef, s.ncoef);
  s.coef = host_alloc_array<double>(s.ncoef);
  return s;
}

void free_scratch(fit_scratch& s) {
  for (int k = 0; k < 2; ++k) host_free(s.sums[k]);
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

// Tricube weights of two queries' windows, one query per lane, point by
// point in ascending order; times the robustness weights when Robust.
template <bool Robust>
struct tricube {
  v2d q;
  v2d h;
  const double* ra;
  const double* rb;
  v2i above = {0, 0};

  v2d operator()(std::int32_t i, v2d x) {
    // Once a point at or above the query is met, every later point counts
    // as above (a NaN abscissa compares false and so counts as below).
    above |= (v2i)(x >= q);
    // d = x - q above the query, q - x below it. Rounding to nearest is
    // symmetric, so q - x is x - q with its sign flipped; the two differ
    // only in the sign of a zero, which needs x == q, and then x is above.
    const v2i sign = (v2i)v2d{-0.0, -0.0};
    const v2d d = (v2d)((v2i)(x - q) ^ (sign & ~above));
    const v2d t = d / h;
    const v2d u = 1.0 - t * t * t;
    // Weight 0 (all bits clear) unless h > d.
    v2d w = (v2d)((v2i)(u * u * u) & (v2i)(h > d));
    if constexpr (Robust) w = w * v2d{ra[i], rb[i]};
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

// Whether each lane's window holds at least `need` distinct abscissae among
// its points of nonzero (or NaN) weight. The weights are the very ones the
// sums use (the same functor from the same start); abscissae ascend, so a
// new value is one unequal to the last weighted one. The scan stops once
// both lanes have enough, which for ordinary data is within the first few
// points, so it costs next to nothing beside the sums over the whole window.
template <typename Weight>
void rank_test(Weight weight, std::int32_t window, const double* const xs[2], std::int32_t need,
               bool full[2]) {
  double last[2] = {__builtin_nan(""), __builtin_nan("")};
  std::int32_t count[2] = {0, 0};
  for (std::int32_t i = 0; i < window && (count[0] < need || count[1] < need); ++i) {
    const v2d x = {xs[0][i], xs[1][i]};
    const v2d w = weight(i, x);
    for (int k = 0; k < 2; ++k) {
      if (w[k] == 0.0) continue;
      if (x[k] != last[k]) ++count[k];
      last[k] = x[k];
    }
  }
  full[0] = count[0] >= need;
  full[1] = count[1] >= need;
}

// Fits two queries at once (abscissae already moved by the model's origin);
// the second lane's result is skipped (no solve, no trouble) when `both` is
// false.
void fit_two(const smooth_model* model, fit_scratch& s, const double xq[2], double out[2],
             bool both, fit_settings* settings) {
  const placement p[2] = {place(model, xq[0]), place(model, xq[1])};
  const double* const xs[2] = {model->x + p[0].start, model->x + p[1].start};
  const double* const ys[2] = {model->y + p[0].start, model->y + p[1].start};
  const v2d q = {xq[0], xq[1]};
  const v2d h = {p[0].h, p[1].h};
  bool full[2];
  if (model->weights != nullptr) {
    tricube<true> weight{q, h, model->weights + p[0].start, model->weights + p[1].start};
    rank_test(weight, model->window, xs, s.ncoef, full);
    if (full[0] || (both && full[1])) normal_sums(s.ncoef, model->window, xs, ys, weight, s.sums);
  } else {
    tricube<false> weight{q, h, nullptr, nullptr};
    rank_test(weight, model->window, xs, s.ncoef, full);
    if (full[0] || (both && full[1])) normal_sums(s.ncoef, model->window, xs, ys, weight, s.sums);
  }
  fit_trouble t[2];
  if (!(full[0] && both && full[1] && fit_pair_from_sums(s.ncoef, s.sums, xq, out, t))) {
    out[0] = full[0] ? solve_at(s, s.sums[0], xq[0], t[0]) : rank_deficient(t[0]);
    if (both) out[1] = full[1] ? solve_at(s, s.sums[1], xq[1], t[1]) : rank_deficient(t[1]);
  }
  note_trouble(settings, t[0]);
  if (both) note_trouble(settings, t[1]);
}

}  // namespace

void fit_many(const smooth_model* model, const double* xq, std::int32_t n, double* out,
              fit_settings* settings) {
  const double none = std::numeric_limits<double>::quiet_NaN();
  if (model->count == 0) {
    for (std::int32_t i = 0; i < n; ++i) out[i] = none;
    return;
  }
  fit_scratch s = new_scratch(model);
  // Queries are fitted in pairs of consecutive fittable ones, in order, so
  // their trouble is noted in query order.
  double q[2];
  std::int32_t at[2];
  int held = 0;
  double r[2];
  for (std::int32_t i = 0; i < n; ++i) {
    const double v = xq[i] - model->origin;
    if (std::isnan(v)) {
      out[i] = none;  // a NaN abscissa has no place among the data
      continue;
    }
    q[held] = v;
    at[held++] = i;
    if (held == 2) {
      fit_two(model, s, q, r, true, settings);
      out[at[0]] = r[0];
      out[at[1]] = r[1];
      held = 0;
    }
  }
  if (held == 1) {
    q[1] = q[0];
    fit_two(model, s, q, r, false, settings);
    out[at[0]] = r[0];
  }
  free_scratch(s);
}

double fit_at(const smooth_model* model, double xq) {
  double value;
  fit_settings settings;
  fit_many(model, &xq, 1, &value, &settings);
  return value;
}
