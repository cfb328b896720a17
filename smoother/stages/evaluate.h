// The evaluation stage of a call: the smooth at the queries, page after
// page (one per derivative order), for one column or for several that share
// their fits, and with a band the summary of the smooth at the data points
// that its sigma and degrees of freedom come from.
#ifndef QUIBRA_SMOOTHER_STAGES_EVALUATE_H
#define QUIBRA_SMOOTHER_STAGES_EVALUATE_H

#include <cstdint>

#include "smoother/call.h"

// Columns of ordinates beyond the model's own that share its fits (see
// smooth_shared): column c's ordinates in model order at y_more[c - 1],
// and all of them again in blocks (COLUMN_BLOCK).
struct shared_columns {
  std::int32_t columns = 1;
  double** y_more = nullptr;
  double* blocks = nullptr;
  double* scales = nullptr;  // column c's max |y| at c - 1
};

// The evaluation at the queries, page after page, each order's into its
// own: with a band only for a call that reports it. `o` holds a column's
// outputs each, and `shared` the columns beyond the first when they share
// the fits (null: one column). `sorted` is the model's order of the data
// (`points` of them); `reuse`: the queries are the data in that order.
void evaluate_pages(const smooth_request& r, smooth_model* model, const double* const* sorted,
                    std::int32_t points, bool reuse, fit_settings* settings, smooth_outputs* o,
                    const shared_columns* shared = nullptr);

#endif
