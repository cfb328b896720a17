// The local fit at one abscissa, written out one fit at a time in plain
// scalar code on the reference polynomial fit (numeric/reference/polyfit.h):
// the reference that the module's grouped, vectorised local fits
// (smoother/kernel/local_fit.h) are tested against, values and diagnostic lines
// alike. Built into the tests, never into the module.
#ifndef QUIBRA_SMOOTHER_REFERENCE_FIT_AT_H
#define QUIBRA_SMOOTHER_REFERENCE_FIT_AT_H

#include "smoother/model.h"

// The locally weighted polynomial estimate at `xq`, or FIT_FAILED (with
// its line on standard error); NaN where xq is NaN or infinite or the model holds no
// point.
double fit_at(const smooth_model* model, double xq);

#endif
