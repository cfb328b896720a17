// The first stage of a call: the data made into a model (the points that
// take part, sorted, weighed, with the window rule applied), and, when the
// columns of ordinates share their fits, those columns put in its order.
#ifndef QUIBRA_SMOOTHER_STAGES_PREPARE_H
#define QUIBRA_SMOOTHER_STAGES_PREPARE_H

#include <cstdint>

#include "smoother/call.h"

// Columns of ordinates beyond the model's own that share its fits (one
// call makes every column's): column c's ordinates in model order at
// y_more[c - 1], and all of them again in blocks (COLUMN_BLOCK).
struct shared_columns {
  std::int32_t columns = 1;
  double** y_more = nullptr;
  double* blocks = nullptr;
  double* scales = nullptr;  // column c's max |y| at c - 1
};

// What the later stages start from.
struct prepared_data {
  smooth_model* model = nullptr;
  // The model's points in the data's order, as pointers into r.x (as many
  // as model->count, `points`); null when no stage needs them.
  const double** sorted = nullptr;
  std::int32_t points = 0;
  // The queries are the data in the model's order (`sorted`), so they need
  // no sort of their own.
  bool reuse = false;
  shared_columns shared;  // one column unless they share
};

// The model of r's first column of ordinates; with `share`, r's other
// columns in its order too.
prepared_data prepare_data(const smooth_request& r, bool share);

// Releases what the stage made but the model, which the outputs take.
void release_prepared(prepared_data* p);

#endif
