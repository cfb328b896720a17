// The one way to evaluate a model: the smooth at a set of queries, with
// what each value owes to the ordinates when asked. It owns what every
// evaluation needs once: a model with no point, queries that are no finite
// number, the order the queries are fitted in, and 'Delta'
// (smoother/settings.h), which fits only some queries in ascending order
// and interpolates the rest.
#ifndef QUIBRA_SMOOTHER_QUERIES_H
#define QUIBRA_SMOOTHER_QUERIES_H

#include <cstdint>

#include "smoother/model.h"
#include "smoother/settings.h"

// The abscissae to evaluate at.
struct query_set {
  const double* x;
  std::int32_t n;
  // Every finite query in ascending order of abscissa (ties in
  // input order), as pointers into x, when it is known (build_model's
  // order when the queries are the data); fits then run in that order,
  // faster for small windows, with the same results and lines.
  const double* const* ascending = nullptr;
  // x itself ascends and holds only finite numbers (the model's own abscissae).
  bool sorted = false;
};

// Where the results go, each array indexed like the queries.
//
// Every local value is linear in the ordinates: value = sum_j l_j y_j, with
// l_j = K_j a . v(c_j), K_j the point's tricube weight T_j times its model
// weight w_j, c_j its coordinate in the fit and a the row of the inverse
// normal matrix that gives the value. Both quantities below come from the
// very inverse that gave the value; NaN where the value is NaN or
// FIT_FAILED.
struct fit_outputs {
  double* value;
  // The order of the derivative of each local polynomial that `value`
  // holds, at the query (smoother/kernel/derivative.h), and `variance` its; 0:
  // the polynomial's value. The leverage is the value's only.
  std::int32_t derivative = 0;
  // The values of a derivative call's smooth: summed from centred
  // ordinates as the derivative's fits are, so that they are, bit for bit,
  // the values those fits give beside it (`smooth`).
  bool centred = false;
  // sum_j l_j^2 / w_j: the value's variance in units of sigma^2 when the
  // ordinates are independent with variance sigma^2 / w_j. Null: not wanted.
  double* variance = nullptr;
  // l_o of the query's own point o = own[i] (a model index, or -1 for
  // none, which gives 0): the diagonal element of the smoother matrix when
  // the query is that point's abscissa. Null: not wanted; needs `own`.
  double* leverage = nullptr;
  const std::int32_t* own = nullptr;
  // 1 where the value came from a lowered fit (fit_settings::lower), or is
  // interpolated next to one; 0 elsewhere. Null: not wanted.
  std::uint8_t* lowered = nullptr;
  // 1 where the fit was unstable (its inverse failed the product check, or
  // rounding may have moved its value by more than TRUSTED_ERROR of the
  // data's magnitude), or the value is interpolated next to such a fit.
  // Null: not wanted.
  std::uint8_t* unstable = nullptr;
  // Several columns of ordinates on the same points: the model holds the
  // first, y_more[c - 1] column c in model order (and `blocks` the same in
  // blocks), and column c's values (and lowered flags) go `stride`
  // elements after column c - 1's. Their fits share all but the
  // right-hand sides; each column gets the bits and lines of an evaluation
  // with that column alone, lines column after column. The influence,
  // which depends on the points alone, is given once, for every column.
  std::int32_t columns = 1;
  const double* const* y_more = nullptr;
  const double* blocks = nullptr;  // the same columns in blocks (COLUMN_BLOCK)
  const double* scales = nullptr;  // column c's max |y| (smooth_model::y_scale) at c - 1
  std::int64_t stride = 0;
  // With several columns, filled by each run of fits: the trouble kind
  // (TROUBLE_*) of column c > 0's fit i at kinds[i + c stride]; column 0's
  // comes with the fit's own trouble. Null otherwise.
  std::uint8_t* kinds = nullptr;
  // With one column and no 'Delta': the smooth's value at each query (a
  // derivative's fits give it beside the derivative, from the same solve),
  // its variance factor and the leverage of its own point o = own[i],
  // where a band's sigma at the data needs them: at element o, in model
  // order (the queries' order when they are the data, so the writes run in
  // order); none where o is -1. Null: not wanted.
  struct {
    double* value = nullptr;
    double* variance = nullptr;
    double* leverage = nullptr;
  } smooth;
};

// Element i of every column of `out` gets v (NaN: no fit), its influence
// NaN and its lowered flag 0.
void put_none(const fit_outputs& out, std::int64_t i, double v);

// The locally weighted polynomial estimate at every query, or FIT_FAILED
// where the fit fails: its window holds fewer distinct abscissae of nonzero
// weight than the polynomial has coefficients, or its normal matrix meets
// a zero pivot. Each fit's trouble is noted in `settings` in ascending
// order of query (with 'Delta', of the queries actually fitted); a query
// that 'Delta' interpolates next to a failed fit is FIT_FAILED too. NaN
// where the query is NaN or infinite or the model holds no point (no fit,
// no trouble).
// Shared among the settings' threads when the run is large enough, with
// the same results and lines on any thread count and lane width.
void fit_queries(const smooth_model* model, const query_set& queries, const fit_outputs& out,
                 fit_settings* settings);

// The fits at the model's own points, in model order: their values,
// leverages and (when out.variance is not null) variance factors, in
// `out` (whose `own` it sets). The settings' Delta applies, so with
// Delta > 0 the leverages and variances between fits are interpolated like
// the values. Trouble is noted in `settings`.
void fit_own_points(const smooth_model* model, fit_settings* settings, const fit_outputs& out);

#endif
