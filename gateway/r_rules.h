// What R's conventions ('Convention' 'lowess' or 'loess') make of the
// arguments: the options they have no counterpart of, their defaults for
// the degree and the span, and the windows R's loess needs.
#ifndef QUIBRA_GATEWAY_R_RULES_H
#define QUIBRA_GATEWAY_R_RULES_H

#include "gateway/options.h"

// After the options of a call under R's rules are read: ends the call with
// the convention's error on one it has no counterpart of (`derivative`: a
// derivative was asked for), and takes 'Delta' and 'MaxPasses' as R's
// delta and reweightings.
void check_r_options(call_options* o, bool derivative);

// R's degree and span where the call gives none (`f_default`), and its
// limits on a degree given.
void r_defaults(smooth_request* r, bool degree_given, bool f_default);

// Ends the call where R's loess windows of the points of ordinates `y`
// taking part (points of weight 0 count) cannot determine the polynomial.
void check_loess_windows(const smooth_request& r, const double* y);

#endif
