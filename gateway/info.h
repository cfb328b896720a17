// The call's second result, info: how the robustness passes ended, every
// data point's robustness weight, which fits failed, the final window and
// scale. Gathered only for a call that asks for two results, so that a
// one-result call computes and allocates nothing of it.
#ifndef QUIBRA_GATEWAY_INFO_H
#define QUIBRA_GATEWAY_INFO_H

#include <cstdint>

#include "host/host.h"
#include "smoother/intervals.h"
#include "smoother/model.h"
#include "smoother/robust.h"
#include "smoother/span.h"

// A call's band at X (arrays shaped like the result) and the summary of
// the smooth at its data points.
struct info_band {
  mxArray* se = nullptr;
  mxArray* lower = nullptr;
  mxArray* upper = nullptr;
  smoother_summary summary;
};

// What a two-result call gathers while it runs.
struct call_info {
  std::int32_t points;   // model points as built
  robust_report robust;  // weights: one per model point as built, in model order
  bool bands = false;    // with Intervals: the band's fields
  info_band band;
  bool chosen = false;   // with an automatic span: the search's fields
  span_search search{};
};

// Room for a call of `data` data points.
call_info new_call_info(std::int32_t data);

// The info struct, from what `info` gathered and the final model. `robust`:
// whether the passes ran. `sorted`: the model's points as built, in its
// order, as pointers into the data's abscissae `data_x`; the weights come
// out shaped data_rows-by-data_cols (the data's ordinates) and in the
// data's order, points that took no part at 0. `out`: the results, before
// any value stands in for a failed fit, shaped rows-by-cols.
mxArray* info_array(const call_info& info, bool robust, const smooth_model* model,
                    const double* const* sorted, const double* data_x, std::int32_t data_rows,
                    std::int32_t data_cols, const double* out, std::int32_t rows,
                    std::int32_t cols);

void free_call_info(call_info& info);

#endif
