// The band stage: the smooth judged at its own data points (the summary
// whose sigma and degrees of freedom a band needs), then every page's band
// from the variance factors the evaluation left at the queries. The
// summary's fits at the data come from the evaluation when the queries are
// the data and it can give them; otherwise they are made here, apart and
// silently (their trouble is not that of the call's result).
#ifndef QUIBRA_SMOOTHER_STAGES_BAND_H
#define QUIBRA_SMOOTHER_STAGES_BAND_H

#include <cstdint>

#include "smoother/call.h"
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
  bool made = false;  // whether the evaluation made them
};

// Readies a band before the evaluation: room for the fits at the data, and
// after robust passes the model's variance weights, which the variance
// factors at the queries are summed with.
data_fits begin_band(const smooth_request& r, const prepared_data& p, const robust_report& robust);

// Each column's summary into o[c].summary, and every page's se, lower and
// upper, their se holding the variance factors (column 0's, which serve
// every column) until then. Releases what begin_band made.
void finish_band(const smooth_request& r, const prepared_data& p, fit_settings* settings,
                 data_fits* fits, smooth_outputs* o);

#endif
