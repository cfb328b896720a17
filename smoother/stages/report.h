// The last stage of a call: what a second result says of the data (each
// point's robustness weight, in the data's order) and of the window; it
// hands the model to the outputs and releases the rest of what the first
// stage made.
#ifndef QUIBRA_SMOOTHER_STAGES_REPORT_H
#define QUIBRA_SMOOTHER_STAGES_REPORT_H

#include <cstdint>

#include "smoother/call.h"
#include "smoother/stages/prepare.h"

// Each column's robustness weights (with r.report) and final window into
// o; the model goes to the last column's outputs.
void report(const smooth_request& r, prepared_data* p, const double* robust_weights,
            smooth_outputs* o);

// Each data point's robustness weight into `weights` (room for r.count),
// in the data's order: the model's points are `sorted`, pointers into
// r.x, their weights `robust_weights` (null: all 1); the others took no
// part and weigh 0.
void data_weights(const smooth_request& r, const double* const* sorted, std::int32_t points,
                  const double* robust_weights, double* weights);

#endif
