// The smoothing model and the local fit at one abscissa.
#ifndef QUIBRA_SMOOTHER_MODEL_H
#define QUIBRA_SMOOTHER_MODEL_H

#include <cstdint>

#include "smoother/settings.h"

// Points sorted ascending by abscissa (ties in input order), with the size
// of every local neighbourhood. `weights` null means every robustness
// weight is 1. Invariant: 1 <= window <= count unless count is 0 (no data
// point took part), and window follows window_size(count, f, degree).
struct smooth_model {
  std::int32_t count;
  double* x;
  double* y;
  double* weights;
  double f;
  std::int32_t degree;
  std::int32_t window;
};

// The value a local fit yields when its polynomial cannot be fitted: the
// largest finite double, so it passes through every caller unchanged.
inline constexpr double FIT_FAILED = 1.7976931348623157e308;

// The highest degree of the local polynomials; fits reject more coefficients.
inline constexpr std::int32_t MAX_DEGREE = MAX_NCOEF - 1;

// Truncates toward zero into the 32-bit range: NaN gives 0, values beyond
// the range give its ends.
std::int32_t to_int32(double v);

// min(count, max(floor(count * f), degree + 1)).
std::int32_t window_size(std::int32_t count, double f, std::int32_t degree);

// Which of the caller's points take part in the smooth. A point whose
// abscissa is NaN never does: it has no place among the others. With
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
// lie in [0, MAX_DEGREE]. With `sorted`, the order it sorted in (pointers
// into `xs` to the points that take part, ascending, ties in input order;
// as many as the model's count) is handed out instead of released, to be
// released by the caller.
smooth_model* build_model(std::int32_t count, const double* xs, const double* ys,
                          const data_choice& choice, double f, std::int32_t degree,
                          const double*** sorted = nullptr);
// The same with every point of a number abscissa taking part.
smooth_model* build_model(std::int32_t count, const double* xs, const double* ys, double f,
                          std::int32_t degree);

// Index of the first of the `window` consecutive sorted points nearest `xq`.
std::int32_t find_window_start(double xq, std::int32_t window, std::int32_t count,
                               const double* xs);

// The locally weighted polynomial estimate at the abscissa `xq`, or
// FIT_FAILED; trouble is written on standard error. Each local polynomial
// is fitted in its query's own coordinate c = (x - xq) / h (h the tricube's
// bandwidth), so the estimate is its constant coefficient. A fit fails when
// its window holds fewer distinct abscissae of nonzero weight than the
// polynomial has coefficients, or its normal matrix meets a zero pivot.
// NaN where `xq` is NaN or the model holds no point (no fit, no trouble).
double fit_at(const smooth_model* model, double xq);

// What a local fit's value owes to each ordinate, beyond the value itself.
// Every local value is linear in the ordinates: value = sum_j l_j y_j, with
// l_j = K_j e' M^-1 v(c_j), K_j the point's tricube weight T_j times its
// model weight w_j, M the weighted normal matrix in the query's coordinate
// c. Both quantities below come from the very inverse that gave the value.
// Each output array, when not null, has one element per query; NaN where
// the value is NaN or FIT_FAILED.
struct fit_influence {
  // sum_j l_j^2 / w_j: the value's variance in units of sigma^2 when the
  // ordinates are independent with variance sigma^2 / w_j.
  double* variance = nullptr;
  // l_o of the query's own point o = own[i] (a model index, or -1 for
  // none, which gives 0): the diagonal element of the smoother matrix when
  // the query is that point's abscissa. Needs `own`.
  double* leverage = nullptr;
  const std::int32_t* own = nullptr;
};

// out[i] = fit_at(model, xq[i]) for i < n, bit for bit, with each fit's
// trouble noted in `settings` in query order. Several queries per vector
// register; shared among settings' threads when the run is large enough
// (smoother/parallel.h), with the same results and lines on any count.
// With a degree beyond MAX_DEGREE every result is FIT_FAILED. With
// `influence`, its arrays are filled too, equally on any count and width.
// `ascending`, when not null, holds every query of xq that is not NaN
// as a pointer into xq, in ascending order of abscissa (ties in any order):
// the fits are then made in that order, faster for small windows,
// with the same results and the same lines in the same order.
void fit_many(const smooth_model* model, const double* xq, std::int32_t n, double* out,
              fit_settings* settings);
void fit_many_influence(const smooth_model* model, const double* xq, std::int32_t n,
                        double* out, fit_settings* settings, const fit_influence* influence,
                        const double* const* ascending);

#endif
