#include "smoother/fits/queries.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "numeric/radix_sort.h"
#include "smoother/fits/run.h"

namespace {

// The queries in ascending order: position k is xq[k], or *sorted[k] when
// the queries had to be sorted.
struct ascending_queries {
  const double* xq = nullptr;
  const double* const* sorted = nullptr;

  double at(std::int32_t k) const { return sorted != nullptr ? *sorted[k] : xq[k]; }
  std::int32_t index(std::int32_t k) const {
    return sorted != nullptr ? static_cast<std::int32_t>(sorted[k] - xq) : k;
  }
};

double interpolate(double xa, double va, double xb, double vb, double x) {
  if (va == FIT_FAILED || vb == FIT_FAILED) return FIT_FAILED;
  const double alpha = (x - xa) / (xb - xa);
  return alpha * vb + (1.0 - alpha) * va;
}

// Sets element i of every output asked for; column c > 0 of several
// columns has only values and lowered flags.
void put(const fit_outputs& out, std::int64_t i, double v, double var, double lev, bool lowered,
         bool unstable, std::int32_t c = 0) {
  const std::int64_t at = i + c * out.stride;
  out.value[at] = v;
  if (out.lowered != nullptr) out.lowered[at] = lowered ? 1 : 0;
  if (out.unstable != nullptr) out.unstable[at] = unstable ? 1 : 0;
  if (out.kinds != nullptr && c > 0) out.kinds[at] = TROUBLE_NONE;
  if (c > 0) return;
  if (out.variance != nullptr) out.variance[i] = var;
  if (out.leverage != nullptr) out.leverage[i] = lev;
}

// Which of the n ascending queries 'Delta' fits: after a fit at x_a, the
// last query within x_a + delta (or the next one), ties taking x_a's fit,
// and always the last. Returns how many, their positions in `fitted`.
std::int32_t choose_fits(const ascending_queries& q, std::int32_t n, double delta, std::int32_t* fitted) {
  std::int32_t m = 0;
  for (std::int32_t a = 0; a < n;) {
    fitted[m++] = a;
    const double xa = q.at(a);
    std::int32_t next = a + 1;
    while (next < n && q.at(next) == xa) ++next;  // ties take this fit's value
    if (next == n) break;
    const double cut = xa + delta;
    while (next + 1 < n && q.at(next + 1) <= cut) ++next;
    a = next;
  }
  return m;
}

// 'Delta''s n ascending queries (q): the chosen ones (`fitted`, m of them,
// their abscissae `xs`) are fitted in one run, in ascending order, into
// `fits`; each fit's ties take its results, and the queries between two
// fits the straight line between them, influence included.
struct spaced_fits {
  ascending_queries q;
  std::int32_t n = 0;
  std::int32_t* fitted = nullptr;
  std::int32_t m = 0;
  double* xs = nullptr;
  std::int32_t* own = nullptr;  // each fit's own point, when leverages are wanted
  fit_outputs fits{};
};

// Chooses the queries to fit and makes room for their results.
spaced_fits choose_spaced(const ascending_queries& q, std::int32_t n, const fit_outputs& out,
                          double delta) {
  spaced_fits sp{q, n};
  sp.fitted = host_alloc_array<std::int32_t>(n);
  const std::int32_t m = sp.m = choose_fits(q, n, delta, sp.fitted);
  sp.xs = host_alloc_array<double>(m);
  for (std::int32_t i = 0; i < m; ++i) sp.xs[i] = q.at(sp.fitted[i]);
  fit_outputs& fits = sp.fits;
  fits.derivative = out.derivative;
  fits.centred = out.centred;
  fits.columns = out.columns;
  fits.y_more = out.y_more;
  fits.blocks = out.blocks;
  fits.scales = out.scales;
  fits.stride = m;
  const std::int64_t all = static_cast<std::int64_t>(m) * out.columns;
  fits.value = host_alloc_array<double>(all);
  if (out.variance != nullptr) fits.variance = host_alloc_array<double>(m);
  if (out.lowered != nullptr) fits.lowered = host_alloc_array<std::uint8_t>(all);
  if (out.unstable != nullptr) fits.unstable = host_alloc_array<std::uint8_t>(all);
  if (out.leverage != nullptr) {
    fits.leverage = host_alloc_array<double>(m);
    sp.own = host_alloc_array<std::int32_t>(m);
    for (std::int32_t i = 0; i < m; ++i) sp.own[i] = out.own[q.index(sp.fitted[i])];
    fits.own = sp.own;
  }
  return sp;
}

// Spreads the fits over every query, and releases what choose_spaced made.
void spread_spaced(spaced_fits& sp, const fit_outputs& out) {
  const ascending_queries& q = sp.q;
  const fit_outputs& fits = sp.fits;
  const double* xs = sp.xs;
  const std::int32_t m = sp.m;
  const auto var_at = [&](std::int32_t i) { return fits.variance ? fits.variance[i] : 0.0; };
  const auto lev_at = [&](std::int32_t i) { return fits.leverage ? fits.leverage[i] : 0.0; };
  for (std::int32_t c = 0; c < out.columns; ++c) {
    const double* value = fits.value + c * fits.stride;
    const auto low_at = [&](std::int32_t i) {
      return fits.lowered != nullptr && fits.lowered[i + c * fits.stride];
    };
    const auto unstable_at = [&](std::int32_t i) {
      return fits.unstable != nullptr && fits.unstable[i + c * fits.stride];
    };
    for (std::int32_t i = 0; i < m; ++i) {
      const std::int32_t end = i + 1 < m ? sp.fitted[i + 1] : sp.n;
      std::int32_t k = sp.fitted[i];
      put(out, q.index(k), value[i], var_at(i), lev_at(i), low_at(i), unstable_at(i), c);
      for (++k; k < end && q.at(k) == xs[i]; ++k)
        put(out, q.index(k), value[i], var_at(i), lev_at(i), low_at(i), unstable_at(i), c);
      for (; k < end; ++k) {
        const double x = q.at(k);
        // Ties of the next fit that come before it take its results too:
        // tied queries get one value, a failed neighbour's or not.
        if (x == xs[i + 1]) {
          put(out, q.index(k), value[i + 1], var_at(i + 1), lev_at(i + 1), low_at(i + 1),
              unstable_at(i + 1), c);
          continue;
        }
        put(out, q.index(k), interpolate(xs[i], value[i], xs[i + 1], value[i + 1], x),
            interpolate(xs[i], var_at(i), xs[i + 1], var_at(i + 1), x),
            interpolate(xs[i], lev_at(i), xs[i + 1], lev_at(i + 1), x), low_at(i) || low_at(i + 1),
            unstable_at(i) || unstable_at(i + 1), c);
      }
    }
  }
  host_free(sp.fitted);
  host_free(sp.xs);
  host_free(fits.value);
  host_free(fits.variance);
  host_free(fits.leverage);
  host_free(fits.lowered);
  host_free(fits.unstable);
  host_free(sp.own);
  sp = spaced_fits{};
}

// Every query gets `v` (NaN: no data; FIT_FAILED: no fit can be made), its
// influence NaN.
void fill(const query_set& q, const fit_outputs& out, double v) {
  for (std::int32_t i = 0; i < q.n; ++i) put_none(out, i, v);
}

// Abscissae at or beyond 2^1023 in magnitude: a difference of two of them,
// and the window search's 2 xq, can overflow, and NaN would come of it.
constexpr double HALVE_AT = 0x1p1023;

bool beyond_halving(const smooth_model* model, const query_set& q) {
  bool far =
      std::fabs(model->x[0]) >= HALVE_AT || std::fabs(model->x[model->count - 1]) >= HALVE_AT;
  for (std::int32_t i = 0; i < q.n && !far; ++i)
    far = std::isfinite(q.x[i]) && std::fabs(q.x[i]) >= HALVE_AT;
  return far;
}

// The evaluation with every abscissa (data, queries, Delta) halved: then
// every difference is finite, and the fits, made in the ratio
// (x - z) / h, are the same but where the halves are subnormal.
void fit_halved(const smooth_model* model, const query_set& q, const fit_outputs& out,
                fit_settings* settings) {
  smooth_model half = *model;
  half.x = host_alloc_array<double>(model->count);
  for (std::int32_t i = 0; i < model->count; ++i) half.x[i] = model->x[i] * 0.5;
  double* xq = host_alloc_array<double>(q.n);
  for (std::int32_t i = 0; i < q.n; ++i) xq[i] = q.x[i] * 0.5;
  const double** order = nullptr;
  if (q.ascending != nullptr) {
    // The same order, pointing into the halves; NaN and infinity have none.
    std::int32_t m = 0;
    for (std::int32_t i = 0; i < q.n; ++i) m += std::isfinite(q.x[i]) ? 1 : 0;
    order = host_alloc_array<const double*>(m);
    for (std::int32_t k = 0; k < m; ++k) order[k] = xq + (q.ascending[k] - q.x);
  }
  const double delta = settings->delta;
  settings->delta = delta * 0.5;
  fit_queries(&half, query_set{xq, q.n, order, q.sorted}, out, settings);
  settings->delta = delta;
  // A derivative in halved abscissae is 2^d times the real one.
  for (std::int32_t k = 0; k < out.derivative; ++k) {
    for (std::int32_t c = 0; c < out.columns; ++c)
      for (std::int32_t i = 0; i < q.n; ++i) {
        double& v = out.value[i + c * out.stride];
        if (v != FIT_FAILED) v = v * 0.5;
      }
    for (std::int32_t i = 0; i < q.n && out.variance != nullptr; ++i)
      out.variance[i] = out.variance[i] * 0.25;
  }
  host_free(order);
  host_free(xq);
  host_free(half.x);
}

// The finite queries, counted; the others get NaN. With `order`, pointers
// to the finite ones in input order.
std::int32_t finite_queries(const query_set& q, const fit_outputs& out, const double** order) {
  std::int32_t m = 0;
  for (std::int32_t i = 0; i < q.n; ++i) {
    if (!std::isfinite(q.x[i])) {
      put_none(out, i, std::numeric_limits<double>::quiet_NaN());
    } else {
      if (order != nullptr) order[m] = q.x + i;
      ++m;
    }
  }
  return m;
}

}  // namespace

void put_none(const fit_outputs& out, std::int64_t i, double v) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::int32_t c = 0; c < out.columns; ++c) put(out, i, v, nan, nan, false, false, c);
}

void fit_queries(const smooth_model* model, const query_set& q, const fit_outputs& out,
                 fit_settings* settings) {
  if (q.n <= 0) return;
  if (model->count == 0) return fill(q, out, std::numeric_limits<double>::quiet_NaN());
  if (model->degree < 0 || model->degree > MAX_DEGREE) return fill(q, out, FIT_FAILED);
  if (beyond_halving(model, q)) return fit_halved(model, q, out, settings);
  const bool spaced = settings->delta > 0.0;
  // The fast sums keep each side's middle for the next query, whose
  // window shares it when the queries ascend: they are fitted in that order.
  const bool ordered = spaced || settings->fast;
  const double* const* ascending = q.sorted ? nullptr : q.ascending;
  const double** order = nullptr;
  std::int32_t m = q.n;
  if (ordered && !q.sorted && ascending == nullptr) {
    // NaN and infinity have no place in the order: they get NaN, and the rest is sorted.
    order = host_alloc_array<const double*>(q.n);
    m = finite_queries(q, out, order);
    // Stable, so ties keep their input order.
    sort_double_ptrs(order, static_cast<std::uint64_t>(m));
    ascending = order;
  } else if (spaced && !q.sorted) {
    m = finite_queries(q, out, nullptr);
  }
  // One run of fits: at every query, or with 'Delta' at the chosen ones.
  const double* xs = q.x;
  std::int32_t fits = q.n;
  fit_outputs into = out;
  spaced_fits sp;
  if (spaced) {
    sp = choose_spaced(ascending_queries{q.x, ascending}, m, out, settings->delta);
    xs = sp.xs;
    fits = sp.m;
    ascending = nullptr;
    into = sp.fits;
  }
  run_fits(model, xs, fits, ascending, into, settings);
  if (spaced) spread_spaced(sp, out);
  host_free(order);
}

void fit_own_points(const smooth_model* model, fit_settings* settings, const fit_outputs& outputs) {
  const std::int32_t n = model->count;
  if (n == 0) return;
  std::int32_t* own = host_alloc_array<std::int32_t>(n);
  for (std::int32_t i = 0; i < n; ++i) own[i] = i;
  fit_outputs out = outputs;
  out.own = own;
  fit_queries(model, query_set{model->x, n, nullptr, true}, out, settings);
  host_free(own);
}
