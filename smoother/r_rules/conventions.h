// A column of a call by R's rules ('Convention' 'lowess' or 'loess'): the
// data taking part, R's fits and reweightings at them, then each query's
// value, with what a second result reports.
#ifndef QUIBRA_SMOOTHER_CONVENTIONS_H
#define QUIBRA_SMOOTHER_CONVENTIONS_H

#include "smoother/call.h"

// The whole call by r.rules, not native, a column at a time, in the
// shape smooth_call takes and gives.
void r_convention_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o);

#endif
