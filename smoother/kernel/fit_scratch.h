// What a run of local fits works in and hands between its steps: the
// scratch one thread fits with (power sums, the normal system and its
// inverse, the rows behind the bands and the other columns), and what a
// group of L queries takes and returns beside its values.
#ifndef QUIBRA_SMOOTHER_FIT_SCRATCH_H
#define QUIBRA_SMOOTHER_FIT_SCRATCH_H

#include <cstdint>

#include "host/storage.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/solve.h"
#include "numeric/value_error.h"
#include "smoother/model.h"
#include "smoother/moments/moment_tree.h"

namespace local_fit {

// What an edge fit's sums depend on: its points, the ordinates and
// weights they were read from, and (with more than one coefficient) the
// coordinate; null `y`: none summed yet.
struct edge_key {
  const double* y = nullptr;
  const double* weights = nullptr;
  std::int32_t first = 0;
  std::int32_t end = 0;
  std::int32_t n = 0;
  double z = 0.0;
  double sc = 0.0;
};

// Scratch for a run of local fits on one model.
struct fit_scratch {
  std::int32_t ncoef;
  double* sums[MAX_LANES];  // power sums of each lane
  double** normal;          // ncoef + 1 rows: the normal matrix, then its right-hand side
  double** work;            // Gauss-Jordan working copy
  double** inverse;
  // With influence: each lane's first row of the inverse; null otherwise.
  double* rows[MAX_LANES];
  // With a derivative's influence: each lane's row of its value (see
  // lane_extra::smooth); null otherwise.
  double* value_rows[MAX_LANES];
  // With variances: each lane's sums of K T c^j, and per window point the
  // lanes' T and c as the sums used them (2 L doubles); null otherwise.
  double* second[MAX_LANES];
  double* recorded;
  double* lowered;  // room for a lowered fit's sums
  // The last edge fit's sums (edge_fit) and what they were summed from.
  double* edge_sums;
  edge_key edge;
  double* more;                 // with several columns: the other columns' values, L each
  fit_trouble* more_trouble;    // and their troubles, L each
  double* powers;               // with several columns: a window's powers (lane_powers)
  bool centred;                 // a derivative's: sums of centred ordinates (group_sums)
  double centre[MAX_LANES];     // what each lane's ordinates were centred on (0: not)
  double* inverses[MAX_LANES];  // with several columns: each lane's whole inverse
  error_limit limit;            // how the values' rounding is judged (numeric/value_error.h)
  bool lower;                   // 'Fallback' 'lower': see lowered_fit
  // Whether a group's windows may be summed as one run (share_run): the
  // model's ordinates and weights are finite, and its abscissae and the
  // queries moderate (numbers whose coordinates cannot overflow).
  bool shared_ok;
  // The last window's start: where the next query's search starts.
  std::int32_t window_hint;
  // 'Method' 'fast': the run's moment tree (shared, read only) and this
  // scratch's room for its sums, and each side's middle kept from the last
  // query (range_moments); null: the direct sums.
  const moment_tree* tree;
  double* fast_work;
  moment_span spans[2];
  search_hints hints;
  // Per lane, the weight of the points whose sums came from the tree (0:
  // direct sums), and the same of the variances' weights: what their
  // rounding is judged by (numeric/value_error.h).
  double moment_weight[MAX_LANES];
  double moment_vweight[MAX_LANES];
};

// `columns` > 1: the fits serve that many columns of ordinates (see
// share_columns), which needs the rows and the recorded points too.
// `derivative`: the fits are a derivative's, summed from centred ordinates.
inline fit_scratch new_scratch(const smooth_model* model, bool influence, bool second, bool lower,
                               std::int32_t columns = 1, bool derivative = false) {
  fit_scratch s;
  s.lower = lower;
  s.shared_ok = false;
  s.window_hint = 0;
  s.tree = nullptr;
  s.fast_work = nullptr;
  for (moment_span& m : s.spans) m = moment_span{-1, -1, 0.0, 0.0, nullptr};
  s.hints = search_hints{};
  for (int k = 0; k < MAX_LANES; ++k) s.moment_weight[k] = s.moment_vweight[k] = 0.0;
  s.ncoef = model->degree + 1;
  const bool shared = columns > 1;
  for (int k = 0; k < MAX_LANES; ++k) {
    s.sums[k] = host_alloc_array<double>(3 * s.ncoef - 1);
    s.rows[k] = influence || shared ? host_alloc_array<double>(s.ncoef) : nullptr;
    s.value_rows[k] = influence && derivative ? host_alloc_array<double>(s.ncoef) : nullptr;
    s.centre[k] = 0.0;
    s.second[k] = second ? host_alloc_array<double>(2 * s.ncoef - 1) : nullptr;
  }
  s.recorded =
      second || shared
          ? host_alloc_array<double>(static_cast<std::int64_t>(2 * MAX_LANES) * model->window)
          : nullptr;
  s.more = shared ? host_alloc_array<double>(static_cast<std::int64_t>(columns - 1) * MAX_LANES)
                  : nullptr;
  s.more_trouble =
      shared ? host_alloc_array<fit_trouble>(static_cast<std::int64_t>(columns - 1) * MAX_LANES)
             : nullptr;
  for (int k = 0; k < MAX_LANES; ++k)
    s.inverses[k] = shared ? host_alloc_array<double>(s.ncoef * s.ncoef) : nullptr;
  s.powers = shared ? host_alloc_array<double>(static_cast<std::int64_t>(s.ncoef) * model->window)
                    : nullptr;
  s.centred = derivative;
  s.normal = alloc_rows(s.ncoef + 1, s.ncoef);
  s.work = alloc_rows(s.ncoef, s.ncoef);
  s.inverse = alloc_rows(s.ncoef, s.ncoef);
  s.lowered = host_alloc_array<double>(3 * s.ncoef - 1);
  s.edge_sums = host_alloc_array<double>(3 * s.ncoef - 1);
  s.edge = edge_key{};
  return s;
}

inline void free_scratch(fit_scratch& s) {
  for (int k = 0; k < MAX_LANES; ++k) {
    host_free(s.sums[k]);
    host_free(s.rows[k]);
    host_free(s.value_rows[k]);
    host_free(s.second[k]);
  }
  host_free(s.recorded);
  host_free(s.lowered);
  host_free(s.edge_sums);
  host_free(s.more);
  host_free(s.more_trouble);
  host_free(s.fast_work);
  for (int k = 0; k < MAX_LANES; ++k) host_free(s.inverses[k]);
  host_free(s.powers);
  free_rows(s.normal, s.ncoef + 1);
  free_rows(s.work, s.ncoef);
  free_rows(s.inverse, s.ncoef);
}

// What a group of lanes takes and returns beside the queries and values:
// whether a window that cannot determine the polynomial takes a lower
// degree, and per lane whether its fit was lowered; with Influence the
// variance factor and the leverage of its own point own[k].
struct lane_extra {
  bool lower = false;   // 'Fallback' 'lower'
  bool second = false;  // whether the variances are wanted
  // The order of the derivative the values are (smoother/kernel/derivative.h),
  // with their variances; 0 for the values themselves.
  std::int32_t derivative = 0;
  // Several columns of ordinates on the model's points: the model holds the
  // first, y_more[c - 1] column c (model order), and `blocks` the others
  // again, COLUMN_BLOCK columns at a time (column_blocks); the values of
  // the others land in s.more, column c's L at (c - 1) L.
  std::int32_t columns = 1;
  const double* const* y_more = nullptr;
  const double* blocks = nullptr;
  const double* scales = nullptr;  // column c's max |y| at c - 1
  std::int32_t own[MAX_LANES] = {};
  bool lowered[MAX_LANES] = {};
  double variance[MAX_LANES] = {};
  double leverage[MAX_LANES] = {};
  // With a derivative and fit_outputs::smooth: the value of each lane's
  // polynomial at its query, its variance factor and its own point's
  // leverage, from the derivative's solve.
  bool smooth = false;
  double smooth_value[MAX_LANES] = {};
  double smooth_variance[MAX_LANES] = {};
  double smooth_leverage[MAX_LANES] = {};
};

}  // namespace local_fit

#endif
