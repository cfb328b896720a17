// The call's second result, info: how the robustness passes ended, every
// data point's robustness weight, which fits failed, the final window and
// scale, and with the options that ask for them the band, the lowered fits
// and the span's search. Gathered only for a call that asks for two
// results, so that a one-result call computes and allocates nothing of it.
// With several columns of ordinates, a field of one value per data point or
// query holds a column per signal, and one of one value per call a row of
// one entry per signal (a cell row for text and matrices).
#ifndef QUIBRA_GATEWAY_INFO_H
#define QUIBRA_GATEWAY_INFO_H

#include <cstdint>

#include "host/host.h"
#include "smoother/call.h"

// The host arrays the call fills in place (weights shaped like the data's
// ordinates; se, lower and upper like the result, or null without a band),
// the lowered flags (host storage, like the result) with 'Fallback', and
// the unstable flags.
struct info_arrays {
  mxArray* weights = nullptr;
  mxArray* se = nullptr;
  mxArray* lower = nullptr;
  mxArray* upper = nullptr;
  std::uint8_t* lowered = nullptr;
  std::uint8_t* unstable = nullptr;
};

// The arrays for a call of `request`, their columns handed to `out` (one
// smooth_outputs per column): the weights of data_rows-by-data_cols points,
// the band like the rows-by-cols result.
info_arrays new_info_arrays(const smooth_request& request, const fit_settings& settings,
                            std::int32_t data_rows, std::int32_t data_cols, std::int32_t rows,
                            std::int32_t cols, smooth_outputs* out);

// The info struct of a call of `request` whose results are `out` (one per
// column) and the host array `ys` (before any value stands in for a failed
// fit). Releases the lowered and unstable flags.
mxArray* info_array(const smooth_request& request, const smooth_outputs* out,
                    const info_arrays& arrays, const mxArray* ys);

#endif
