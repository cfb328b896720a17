// A column of a call by R's rules ('Convention' 'lowess' or 'loess'): the
// data taking part, R's fits and reweightings at them, then each query's
// value, with what a second result reports.
#ifndef QUIBRA_SMOOTHER_CONVENTIONS_H
#define QUIBRA_SMOOTHER_CONVENTIONS_H

#include "smoother/call.h"

// One column of ordinates (r.columns is 1) by r.rules, not native.
void r_convention_column(const smooth_request& r, const fit_settings* settings, smooth_outputs* o);

#endif
