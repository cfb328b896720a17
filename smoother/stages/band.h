// The band stage: the smooth judged at its own data points (the summary
// whose sigma and degrees of freedom a band needs), then every page's band
// from the variance factors the evaluation left at the queries. begin_band
// makes room for the fits at the data, the evaluation fills it
// (stages/evaluate.h), and finish_band summarises and fills the bands.
#ifndef QUIBRA_SMOOTHER_STAGES_BAND_H
#define QUIBRA_SMOOTHER_STAGES_BAND_H

#include <cstdint>

#include "smoother/call.h"
#include "smoother/stages/intervals.h"
#include "smoother/stages/prepare.h"

// The smooth's fits at the model's own points, in model order: what the
// summary is made of.
struct data_fits {
  double* value = nullptr;  // a column's after another, FIT_FAILED where none
  double* leverage = nullptr;
  double* variance = nullptr;
  // After robust passes that reweighted the points: each model point's
  // prior weight (the band's noise scale is then a robust one); else null.
  double* prior = nullptr;
  // Each data point's model point (locate_points), when the queries are
  // the data or there are prior weights to find; else null.
  std::int32_t* slot = nullptr;
  bool made = false;  // whether a page's fits at the queries gave them
};

// Readies a band before the evaluation: room for the fits at the data, and
// after robust passes the model's variance weights, which the variance
// factors at the queries are summed with.
data_fits begin_band(const smooth_request& r, const prepared_data& p, const robust_report& robust);

// Once the evaluation has made the fits at the data: each column's summary
// into o[c].summary, and every page's se, lower and upper, their se
// holding the variance factors (column 0's, which serve every column)
// until then. Releases what begin_band made.
void finish_band(const smooth_request& r, const prepared_data& p, data_fits* fits,
                 smooth_outputs* o);

// slot[i] for each of the `count` data points given to build_model (xs,
// ys, with `sorted` the order it handed out, `sorted_count` long): the
// point's index in `model`, or -1 where the model does not hold it (it
// took no part, or robust passes pruned it). The model's points must be
// those build_model made, or a subsequence of them in order, as the robust
// passes leave; equal points (the same abscissa and ordinate bits) are
// pruned together, so matching in order is exact.
void locate_points(const smooth_model* model, std::int32_t count, const double* xs,
                   const double* ys, const double* const* sorted, std::int32_t sorted_count,
                   std::int32_t* slot);

// Student's t quantile for a two-sided interval of probability `level` on
// `dof` degrees of freedom; NaN unless 0 < level < 1 and dof > 0.
double t_quantile(double level, double dof);

// The band around n values. With `prediction` the standard error is that
// of a new observation of weight 1 there: se = sigma sqrt(variance + 1);
// otherwise that of the smooth's value: se = sigma sqrt(variance). lower
// and upper are value -/+ t se. NaN where the fit failed or the value is NaN.
void fill_band(std::int32_t n, const double* value, const double* variance, double sigma, double t,
               bool prediction, double* se, double* lower, double* upper);

#endif
