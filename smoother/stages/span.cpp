#include "smoother/stages/span.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/fits/queries.h"
#include "smoother/stages/intervals.h"

namespace {

// Windows on the coarse grid; new windows on each side of the best one per
// refining round; rounds. The grid's steps are at most (n / 4)^(1/9) apart,
// about 2.4 for n = 10^4, and each round cuts the bracket's ratio to its
// cube root, so two rounds leave neighbours about 10% apart, where the
// criteria are flat. The largest spans cost the most, so every further
// candidate near a large best span costs nearly a smooth of its own.
constexpr std::int32_t GRID = 10;
constexpr std::int32_t SIDE = 2;
constexpr std::int32_t ROUNDS = 2;
constexpr std::int32_t MOST = GRID + 2 * SIDE * ROUNDS;
static_assert(MOST == SPAN_MOST_CANDIDATES);

struct search {
  window_judge judge;
  std::int32_t count = 0;
  std::int32_t windows[MOST] = {};
  double values[MOST] = {};

  bool tried(std::int32_t q) const {
    for (std::int32_t k = 0; k < count; ++k)
      if (windows[k] == q) return true;
    return false;
  }

  void evaluate(std::int32_t q) {
    if (count == MOST || tried(q)) return;
    const double c = judge.criterion(judge.context, q);
    // Kept ascending by window.
    std::int32_t k = count++;
    for (; k > 0 && windows[k - 1] > q; --k) {
      windows[k] = windows[k - 1];
      values[k] = values[k - 1];
    }
    windows[k] = q;
    values[k] = c;
  }

  // Index of the least value (the smaller window on ties), or -1 when none is finite.
  std::int32_t best() const {
    std::int32_t b = -1;
    for (std::int32_t k = 0; k < count; ++k)
      if (std::isfinite(values[k]) && (b < 0 || values[k] < values[b])) b = k;
    return b;
  }

  // Up to `m` windows strictly between a and b, spaced geometrically.
  void between(std::int32_t a, std::int32_t b, std::int32_t m) {
    for (std::int32_t j = 1; j <= m; ++j) {
      const double t = static_cast<double>(j) / static_cast<double>(m + 1);
      std::int32_t q = static_cast<std::int32_t>(
          std::lround(static_cast<double>(a) * std::pow(static_cast<double>(b) / a, t)));
      if (q <= a) q = a + 1;
      if (q >= b) q = b - 1;
      if (q > a) evaluate(q);
    }
  }
};

}  // namespace

double span_criterion(span_rule rule, std::int32_t n, double rss, double enp) {
  const double nn = static_cast<double>(n);
  const double inf = std::numeric_limits<double>::infinity();
  if (rule == span_rule::aicc) {
    const double room = (nn - enp) - 2.0;
    if (!(room > 0.0)) return inf;
    return (std::log(rss / nn) + 1.0) + (2.0 * (enp + 1.0)) / room;
  }
  const double room = nn - enp;
  if (!(room > 0.0)) return inf;
  return (nn * rss) / (room * room);
}

namespace {

// A curve's candidate: the model with window q, judged at its points.
struct curve_search {
  smooth_model* model;
  span_rule rule;
  fit_settings quiet;
  double* value;     // per model point
  double* leverage;  // per model point
};

double curve_criterion(void* context, std::int32_t q) {
  curve_search& c = *static_cast<curve_search*>(context);
  set_window(c.model, q);
  fit_outputs out;
  out.value = c.value;
  out.leverage = c.leverage;
  fit_own_points(c.model, &c.quiet, out);
  const smoother_summary s = summarise(c.model, c.value, c.leverage, nullptr);
  // A span whose fits fail somewhere does not smooth all the data.
  if (s.points != c.model->count) return std::numeric_limits<double>::infinity();
  return span_criterion(c.rule, s.points, s.rss, s.enp);
}

}  // namespace

window_choice choose_window(std::int32_t q_lo, std::int32_t q_hi, const window_judge& judge) {
  search s;
  s.judge = judge;
  s.evaluate(q_lo);
  s.evaluate(q_hi);
  s.between(q_lo, q_hi, GRID - 2);
  for (std::int32_t round = 0; round < ROUNDS; ++round) {
    const std::int32_t b = s.best();
    if (b < 0) break;
    const std::int32_t a = b > 0 ? s.windows[b - 1] : s.windows[b];
    const std::int32_t c = b + 1 < s.count ? s.windows[b + 1] : s.windows[b];
    const std::int32_t before = s.count;
    const std::int32_t q = s.windows[b];
    s.between(a, q, SIDE);
    s.between(q, c, SIDE);
    if (s.count == before) break;
  }
  window_choice w;
  const std::int32_t b = s.best();
  w.window = b >= 0 ? s.windows[b] : s.windows[s.count - 1];
  w.count = s.count;
  for (std::int32_t k = 0; k < s.count; ++k) {
    w.windows[k] = s.windows[k];
    w.values[k] = s.values[k];
  }
  return w;
}

span_search search_report(const window_choice& w, double span,
                          double (*span_of)(void* context, std::int32_t q), void* context) {
  span_search out{span, w.count, nullptr, nullptr};
  out.spans = host_alloc_array<double>(w.count);
  out.values = host_alloc_array<double>(w.count);
  for (std::int32_t k = 0; k < w.count; ++k) {
    out.spans[k] = span_of(context, w.windows[k]);
    out.values[k] = w.values[k];
  }
  return out;
}

namespace {

double model_span(void* context, std::int32_t q) {
  return span_for_window(static_cast<const smooth_model*>(context), q);
}

}  // namespace

span_search choose_span(smooth_model* model, span_rule rule, double lo, double hi,
                        const fit_settings* settings) {
  const std::int32_t n = model->count;
  if (n <= 0) return span_search{hi, 0, host_alloc_array<double>(0), host_alloc_array<double>(0)};
  curve_search c{model, rule, quiet_settings(*settings), host_alloc_array<double>(n),
                 host_alloc_array<double>(n)};
  const std::int32_t least = model->degree + 2 < n ? model->degree + 2 : n;
  std::int32_t q_lo = window_size(n, lo, model->degree);
  if (q_lo < least) q_lo = least;
  std::int32_t q_hi = window_size(n, hi, model->degree);
  if (q_hi < q_lo) q_hi = q_lo;
  const window_choice w = choose_window(q_lo, q_hi, window_judge{&c, curve_criterion});
  set_window(model, w.window);
  host_free(c.value);
  host_free(c.leverage);
  return search_report(w, model->f, model_span, model);
}
