// A call over two to four predictors: the points taking part, scaled
// (smooth_request::normalize), their tree, the fits at them and R's
// loess reweightings when robust, then each query's value.
#ifndef QUIBRA_SMOOTHER_SURFACE_CALL_H
#define QUIBRA_SMOOTHER_SURFACE_CALL_H

#include "smoother/call.h"

// The whole call of r.dims >= 2 predictors, a column at a time, in the
// shape smooth_call takes and gives: r.x and r.xq hold a column per
// predictor (r.count and r.n rows). Points with a coordinate that is no
// finite number take no part; points of weight 0 do, as in R's loess.
// The points of column c of r's ordinates that take part.
std::int32_t surface_points_taking_part(const smooth_request& r, std::int32_t c);

void surface_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o);

#endif
