// A run of queries fitted L at a time, for each lane width: the loop every
// width shares, and each width's entry point. The wider ones live in
// sources of their own (fit_range_4.cpp, fit_range_8.cpp), compiled for
// their instruction set, so that a build compiles them side by side.
#ifndef QUIBRA_SMOOTHER_FIT_RANGE_H
#define QUIBRA_SMOOTHER_FIT_RANGE_H

#include <cmath>
#include <cstdint>
#include <limits>

#include "numeric/lanes.h"
#include "smoother/kernel/local_fit.h"
#include "smoother/fits/queries.h"

namespace fit_ranges {

using local_fit::fit_scratch;
using local_fit::lane_extra;

// out.value[i] = the fit at xq[i] for i < n, its trouble in t[i]. Queries
// are fitted in groups of L consecutive fittable ones; a NaN or infinite
// query has no place among the data and gets NaN, with no trouble.
//
// With `order`, query i is instead *order[i], a pointer into xq, and its
// results go to position order[i] - xq of out's arrays; t stays positional.
template <int L, bool Influence>
void fit_range(const smooth_model* model, fit_scratch& s, const double* xq,
               const double* const* order, std::int64_t n, const fit_outputs& out, fit_trouble* t) {
  double q[L] = {};
  std::int64_t at[L];
  std::int64_t dst[L];
  int held = 0;
  double r[L];
  fit_trouble rt[L];
  lane_extra li;
  li.lower = s.lower;
  li.second = out.variance != nullptr;
  li.derivative = out.derivative;
  // A value's fits are their own smooth: only a derivative's make it apart.
  li.smooth = Influence && out.smooth.value != nullptr && out.derivative > 0;
  const bool to_model = Influence && out.smooth.value != nullptr;
  li.columns = out.columns;
  li.y_more = out.y_more;
  li.blocks = out.blocks;
  li.scales = out.scales;
  // Column c's element of the outputs at position i.
  const auto column = [&](std::int64_t i, std::int32_t c) { return i + c * out.stride; };
  // Lane k's results to query `d` of the outputs, its trouble to t[a].
  const auto put = [&](int k, std::int64_t d, std::int64_t a) {
    out.value[d] = r[k];
    t[a] = rt[k];
    if (out.lowered != nullptr) out.lowered[d] = li.lowered[k];
    if (out.unstable != nullptr) out.unstable[d] = trouble_kind_of(rt[k]) == TROUBLE_UNSTABLE;
    for (std::int32_t c = 1; c < out.columns; ++c) {
      const std::int64_t at_c = column(d, c);
      const std::uint8_t kind = trouble_kind_of(s.more_trouble[(c - 1) * L + k]);
      out.value[at_c] = s.more[(c - 1) * L + k];
      out.kinds[at_c] = kind;
      if (out.lowered != nullptr) out.lowered[at_c] = li.lowered[k];
      if (out.unstable != nullptr) out.unstable[at_c] = kind == TROUBLE_UNSTABLE;
    }
    if constexpr (Influence) {
      if (out.variance != nullptr) out.variance[d] = li.variance[k];
      if (out.leverage != nullptr) out.leverage[d] = li.leverage[k];
      const std::int32_t own = li.own[k];
      if (to_model && own >= 0) {
        out.smooth.value[own] = li.smooth ? li.smooth_value[k] : r[k];
        out.smooth.variance[own] = li.smooth ? li.smooth_variance[k] : li.variance[k];
        out.smooth.leverage[own] = li.smooth ? li.smooth_leverage[k] : li.leverage[k];
      }
    }
  };
  // Fits the held queries; those whose moment sums were too coarse are
  // fitted again from direct sums, as the direct method fits them. One
  // call of fit_group, so that it is compiled once.
  const auto flush = [&] {
    const moment_tree* tree = s.tree;
    int count = held;
    for (;;) {
      for (int k = count; k < L; ++k) q[k] = q[0];
      if constexpr (Influence) {
        for (int k = 0; k < count; ++k) li.own[k] = out.own != nullptr ? out.own[dst[k]] : -1;
      }
      local_fit::fit_group<L, Influence>(model, s, q, count, r, rt, &li);
      int again = 0;  // lanes kept for the direct fits, moved to the front
      for (int k = 0; k < count; ++k) {
        if (rt[k].recheck && s.tree != nullptr) {
          q[again] = q[k];
          dst[again] = dst[k];
          at[again++] = at[k];
        } else {
          put(k, dst[k], at[k]);
        }
      }
      if (again == 0) break;
      s.tree = nullptr;
      count = again;
    }
    s.tree = tree;
    held = 0;
  };
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t from = order != nullptr ? order[i] - xq : i;
    const double v = xq[from];
    if (!std::isfinite(v)) {
      t[i] = fit_trouble{};
      put_none(out, from, std::numeric_limits<double>::quiet_NaN());
    } else {
      q[held] = v;
      dst[held] = from;
      at[held++] = i;
    }
    // The last group goes through the same call: each call inlines the
    // whole fit once more, for the compiler to work through.
    if (held == L || (i + 1 == n && held > 0)) flush();
  }
}

// A stand-in for the fits' inner work at L lanes, to time the widths
// against each other (smoother/kernel/widths.cpp): the sums of `reps` groups of L
// queries over one window of the n points (x, y), x ascending, as a plain
// smooth of the default degree (2) makes them. Returns a sum of the
// results, so the work cannot be left out.
template <int L>
double sums_run(const double* x, const double* y, std::int32_t n, std::int32_t reps) {
  using vd = typename lanes_of<L>::d;
  // The coefficient count is hidden from the compiler, as a call's is:
  // code folded for a constant one ran the 4-lane sums faster than any
  // call runs them, and the timing chose 4 lanes where 8 run calls in two
  // thirds of the time.
  std::int32_t ncoef = 3;
  asm volatile("" : "+r"(ncoef));
  shared_pieces<L> pieces;
  pieces.count = 1;
  pieces.cut[0] = 0;
  pieces.cut[1] = n;
  pieces.mask[0] = typename lanes_of<L>::i{} - 1;
  pieces.all[0] = true;
  // Room for any count, which is all the compiler knows of it.
  double store[L][3 * MAX_NCOEF - 1];
  double* sums[L];
  for (int k = 0; k < L; ++k) sums[k] = store[k];
  // The two sums read below, set for a count the sums would refuse.
  store[0][0] = store[L - 1][4] = 0.0;
  double total = 0.0;
  for (std::int32_t r = 0; r < reps; ++r) {
    vd q;
    for (int k = 0; k < L; ++k) q[k] = x[n / 2 + (r + k) % 8];
    const vd h = splat<vd>(x[n - 1] - x[0]);
    local_fit::tricube<L, false, true> point{q, h, splat<vd>(1.0) / h, nullptr};
    normal_sums_shared<L>(ncoef, pieces, x, y, point, sums);
    total += store[0][0] + store[L - 1][4];
  }
  return total;
}

using sums_timer = double (*)(const double*, const double*, std::int32_t, std::int32_t);

using range_fitter = void (*)(const smooth_model*, fit_scratch&, const double*,
                              const double* const*, std::int64_t, const fit_outputs&, fit_trouble*);

// Each lane width's code, the wider ones compiled for their instruction set.
template <bool Influence>
void fit_range_2(const smooth_model* model, fit_scratch& s, const double* xq,
                 const double* const* order, std::int64_t n, const fit_outputs& out,
                 fit_trouble* t);
double sums_run_2(const double* x, const double* y, std::int32_t n, std::int32_t reps);
#if QUIBRA_WIDE_LANES
QUIBRA_AVX2 double sums_run_4(const double* x, const double* y, std::int32_t n, std::int32_t reps);
QUIBRA_AVX512 double sums_run_8(const double* x, const double* y, std::int32_t n,
                                std::int32_t reps);
template <bool Influence>
QUIBRA_AVX2 void fit_range_4(const smooth_model* model, fit_scratch& s, const double* xq,
                             const double* const* order, std::int64_t n, const fit_outputs& out,
                             fit_trouble* t);
template <bool Influence>
QUIBRA_AVX512 void fit_range_8(const smooth_model* model, fit_scratch& s, const double* xq,
                               const double* const* order, std::int64_t n, const fit_outputs& out,
                               fit_trouble* t);
#endif

// Defines fit_range_W (declared above) for W lanes under the attributes
// ATTR, with and without influence: one line in each width's source.
// ATTR is a list of attributes, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define QUIBRA_DEFINE_FIT_RANGE(W, ATTR)                                                          \
  template <bool Influence>                                                                       \
  ATTR void fit_range_##W(const smooth_model* model, fit_scratch& s, const double* xq,            \
                          const double* const* order, std::int64_t n, const fit_outputs& out,     \
                          fit_trouble* t) {                                                       \
    fit_range<W, Influence>(model, s, xq, order, n, out, t);                                      \
  }                                                                                               \
  template void fit_range_##W<false>(const smooth_model*, fit_scratch&, const double*,            \
                                     const double* const*, std::int64_t, const fit_outputs&,      \
                                     fit_trouble*);                                               \
  template void fit_range_##W<true>(const smooth_model*, fit_scratch&, const double*,             \
                                    const double* const*, std::int64_t, const fit_outputs&,       \
                                    fit_trouble*);                                                \
  ATTR double sums_run_##W(const double* x, const double* y, std::int32_t n, std::int32_t reps) { \
    return sums_run<W>(x, y, n, reps);                                                            \
  }
// The moment sums of one window for W lanes, under the same attributes.
#define QUIBRA_DEFINE_FAST_WINDOW_SUMS(W, ATTR)                                                  \
  namespace local_fit {                                                                          \
  ATTR void fast_window_sums_##W(const moment_tree& t, std::int32_t nc, std::int32_t first,      \
                                 std::int32_t end, double q, double h, double z, double sc,      \
                                 double* sums, double* second, double* work, moment_span* spans, \
                                 search_hints& hints, double weight[2]) {                        \
    fast_window_sums(t, nc, first, end, q, h, z, sc, sums, second, work, spans, hints, weight);  \
  }                                                                                              \
  }
// NOLINTEND(bugprone-macro-parentheses)

}  // namespace fit_ranges

#endif
