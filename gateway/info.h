// The call's second result, info: how the robustness passes ended, every
// data point's robustness weight, which fits failed, the final window and
// scale, and with the options that ask for them the band and the span's
// search. Gathered only for a call that asks for two results, so that a
// one-result call computes and allocates nothing of it.
#ifndef QUIBRA_GATEWAY_INFO_H
#define QUIBRA_GATEWAY_INFO_H

#include <cstdint>

#include "host/host.h"
#include "smoother/call.h"

// The host arrays the call fills in place (weights shaped like the data's
// ordinates; se, lower and upper like the result, or null without a band).
struct info_arrays {
  bool lowered = false;  // with 'Fallback' 'lower': the flags of lowered fits
  mxArray* weights = nullptr;
  mxArray* se = nullptr;
  mxArray* lower = nullptr;
  mxArray* upper = nullptr;
};

// The arrays for a call of `request`, their data handed to `out`: the
// weights of data_rows-by-data_cols points, the band like the result.
info_arrays new_info_arrays(const smooth_request& request, const fit_settings& settings,
                            std::int32_t data_rows, std::int32_t data_cols, std::int32_t rows,
                            std::int32_t cols, smooth_outputs* out);

// The info struct of a call of `request` whose results are `out` and the
// host array `ys` (before any value stands in for a failed fit).
mxArray* info_array(const smooth_request& request, const smooth_outputs& out,
                    const info_arrays& arrays, const mxArray* ys);

#endif
