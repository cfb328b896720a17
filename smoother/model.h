// The smoothing model: the points that take part, sorted by abscissa, and
// the size of every local neighbourhood (the window rule), with the search
// that places a query's window among them.
#ifndef QUIBRA_SMOOTHER_MODEL_H
#define QUIBRA_SMOOTHER_MODEL_H

#include <bit>
#include <cstdint>

#include "numeric/gallop.h"
#include "numeric/solve.h"

// Points sorted ascending by abscissa (ties in input order), with the size
// of every local neighbourhood. `weights` null means every weight is 1.
// `variance_weights`, null unless a band asks otherwise, replaces the
// weights in the variances' sums (smoother/fits/queries.h): it is w_j^2 u_j for
// ordinates of variance sigma^2 u_j, where the weights are not the
// ordinates' precisions (robust bands). Invariant: 1 <= window <= count unless count is 0 (no data
// point took part), and window follows window_size(count, f, degree).
struct smooth_model {
  std::int32_t count;
  double* x;
  double* y;
  double* weights;
  double* variance_weights;
  double f;
  std::int32_t degree;
  std::int32_t window;
  // max |y| over the finite ordinates (0 when none): what a fit's
  // estimated rounding error is judged against (numeric/value_error.h).
  double y_scale;
};

// Bits, not values: NaN matches itself, and -0 does not match +0.
inline bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// How far the run of abscissae tied with x[i] reaches from i, stepping
// by `dir` (1 up, -1 down) over at most `span` points, i's own included:
// the count of tied points met. x is sorted, so strides double out and
// then halve: a run of any length costs a few dozen comparisons, a short
// one two.
inline std::int32_t tie_reach(const double* x, std::int32_t i, std::int32_t dir,
                              std::int32_t span) {
  const double v = x[i];
  std::int32_t near = 1;
  return first_holding(1, span, [&](std::int32_t k) { return x[i + dir * k] != v; }, near);
}

// How many distinct abscissae the sorted x[0 .. count) hold, counted up
// to `most`.
inline std::int32_t distinct_abscissae(const double* x, std::int32_t count, std::int32_t most) {
  std::int32_t runs = 0;
  for (std::int32_t i = 0; i < count && runs < most; ++runs) i += tie_reach(x, i, 1, count - i);
  return runs;
}

// max |y_i| over the n ordinates that are finite numbers; 0 when none is.
double largest_magnitude(const double* y, std::int32_t n);

// The value a local fit yields when its polynomial cannot be fitted: the
// largest finite double, so it passes through every caller unchanged.
inline constexpr double FIT_FAILED = 1.7976931348623157e308;

// Columns of ordinates beyond a model's own are summed this many at a time,
// one per vector lane: laid out as blocks of COLUMN_BLOCK columns, each
// block `count` points of COLUMN_BLOCK ordinates in the model's order.
inline constexpr int COLUMN_BLOCK = 4;

// The highest degree of the local polynomials; fits reject more coefficients.
inline constexpr std::int32_t MAX_DEGREE = MAX_NCOEF - 1;

// min(count, max(floor(count * f), degree + 1)).
std::int32_t window_size(std::int32_t count, double f, std::int32_t degree);

// The span that gives `model` a window of q points (degree + 1 <= q <=
// count): q / count, raised a double at a time until window_size gives q
// (n * f may round below q); 1 for q = count.
double span_for_window(const smooth_model* model, std::int32_t q);

// 'Window' k: the model's span becomes the one that gives windows of k
// points (all of them when fewer take part), so that the call is, bit for
// bit, the call with that span; robust passes that leave points out then
// shrink the windows as that span's would.
void set_window(smooth_model* model, std::int32_t k);

// Which of the caller's points take part in the smooth. A point whose
// abscissa is NaN or infinite never does: it has no place among the others
// (an infinite one would make every window it enters all NaN). With
// `weights` (finite, >= 0, one per point) those of weight 0 are left out,
// and with `omit_missing` those whose ordinate is NaN.
struct data_choice {
  const double* weights = nullptr;
  bool omit_missing = false;
};

// Whether point i of (xs, ys) takes part: the one place that decides it.
bool takes_part(const data_choice& choice, const double* xs, const double* ys, std::int32_t i);
std::int32_t count_taking_part(const data_choice& choice, std::int32_t count, const double* xs,
                               const double* ys);

// A model of the points among the `count` >= 1 given by unsorted abscissae
// and ordinates that take part (the model may end up with none); their
// prior weights become the model's weights unless all are 1. `degree` must
// lie in [0, MAX_DEGREE]. `order`, when not null, has room for `count`
// pointers and receives the sorted order (pointers into `xs` to the points
// that take part, ascending, ties in input order; as many as the model's
// count).
smooth_model* build_model(std::int32_t count, const double* xs, const double* ys,
                          const data_choice& choice, double f, std::int32_t degree,
                          const double** order = nullptr);

// Releases a model and its arrays; null is ignored.
void free_model(smooth_model* model);

// Index of the first of the `window` consecutive sorted points nearest `xq`.
// Defined here so that every local fit's placement inlines it, in the lane
// width's own instruction set.
inline std::int32_t find_window_start(double xq, std::int32_t window, std::int32_t count,
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

// find_window_start's result, found from `hint` (any index; the last
// window's start serves well for queries in ascending order) in a few
// steps instead of a walk from the first point. The walk stops at a start
// where the window neither moves up (its first point is farther from xq
// than the point after it) nor down (its last point is farther than the
// point before); "up" holds for every start below some a and for none from
// a on, "down" never holds at a, and a start above a stops the walk too
// only if the distances there tie exactly. So a is the answer unless a + 1
// also stops the walk; then, as the walk's path decides between the tied
// starts, the walk is made.
inline std::int32_t find_window_start_near(double xq, std::int32_t window, std::int32_t count,
                                           const double* xs, std::int32_t hint) {
  const std::int64_t q = window;
  const std::int32_t last = count - window;
  const double twice = xq * 2.0;
  // The least start whose window would not gain by moving up (the last
  // start never would): its left end is no farther from the query than
  // the point past its right end.
  const auto stays = [&](std::int32_t s) { return !(s < last && twice - xs[s] > xs[s + q]); };
  const std::int64_t a = first_holding(0, last + 1, stays, hint);
  const bool tied = a < last && !(xs[a + q] > twice - xs[a]);
  if (tied) return find_window_start(xq, window, count, xs);
  return static_cast<std::int32_t>(a);
}

#endif
