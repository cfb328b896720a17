// The call's second result, info: how the robustness passes ended, every
// data point's robustness weight, which fits failed, the final window and
// scale. Gathered only for a call that asks for two results, so that a
// one-result call computes and allocates nothing of it.
#ifndef QUIBRA_GATEWAY_INFO_H
#define QUIBRA_GATEWAY_INFO_H

#include <cstdint>

#include "host/host.h"
#include "smoother/model.h"
#include "smoother/robust.h"

// What a two-result call gathers while it runs.
struct call_info {
  std::int32_t points;        // model points as built
  std::int32_t* input_index;  // for each of them, its index in the data
  robust_report robust;       // weights: one per model point as built, in model order
  std::uint8_t* failed;       // for each element of X: 1 where its fit failed
};

// Room for `data` data points and `n` elements of X.
call_info new_call_info(std::int32_t data, std::int32_t n);

// The info struct, from what `info` gathered and the final model.
// `robust`: whether the passes ran. The weights are shaped
// data_rows-by-data_cols (the data's ordinates), `failed` rows-by-cols
// (the result).
mxArray* info_array(const call_info& info, bool robust, const smooth_model* model,
                    std::int32_t data_rows, std::int32_t data_cols, std::int32_t rows,
                    std::int32_t cols);

void free_call_info(call_info& info);

#endif
