#include "gateway/info.h"

#include <iterator>
#include <limits>

namespace {

const char* outcome_name(bool robust, robust_outcome o) {
  if (!robust) return "plain";
  switch (o) {
    case robust_outcome::converged: return "converged";
    case robust_outcome::exact: return "exact";
    case robust_outcome::abandoned: return "abandoned";
    case robust_outcome::exhausted: return "exhausted";
  }
  return "";
}

}  // namespace

call_info new_call_info(std::int32_t data) {
  call_info info;
  info.points = 0;
  // What stands when no pass can run, with no data point taking part.
  info.robust.outcome = robust_outcome::abandoned;
  info.robust.scale = std::numeric_limits<double>::quiet_NaN();
  info.robust.weights = host_alloc_array<double>(data);
  return info;
}

mxArray* info_array(const call_info& info, bool robust, const smooth_model* model,
                    const double* const* sorted, const double* data_x, std::int32_t data_rows,
                    std::int32_t data_cols, const double* out, std::int32_t rows,
                    std::int32_t cols) {
  const robust_report& r = info.robust;
  // Data points outside the model took no part and keep weight 0.
  mxArray* weights = host_create_matrix(data_rows, data_cols);
  double* w = host_data(weights);
  for (std::int32_t j = 0; j < info.points; ++j)
    w[sorted[j] - data_x] = robust ? r.weights[j] : 1.0;

  // A failed fit, or a point interpolated next to one, holds FIT_FAILED.
  mxArray* failed = host_create_logical(rows, cols);
  const std::int64_t n = static_cast<std::int64_t>(rows) * cols;
  for (std::int64_t i = 0; i < n; ++i)
    if (out[i] == FIT_FAILED) host_set_logical(failed, i, true);
  mxArray* converged = host_create_logical(1, 1);
  host_set_logical(converged, 0, !(robust && r.outcome == robust_outcome::exhausted));

  constexpr int MOST_FIELDS = 15;
  const char* names[MOST_FIELDS] = {"outcome", "passes", "converged", "weights",
                                    "failed",  "window", "scale"};
  mxArray* values[MOST_FIELDS] = {
      host_create_string(outcome_name(robust, r.outcome)),
      host_create_scalar(robust ? r.passes : 0),
      converged,
      weights,
      failed,
      host_create_scalar(model->window),
      host_create_scalar(robust ? r.scale : std::numeric_limits<double>::quiet_NaN()),
  };
  int fields = 7;
  const auto add = [&](const char* name, mxArray* value) {
    names[fields] = name;
    values[fields++] = value;
  };
  if (info.bands) {
    const smoother_summary& s = info.band.summary;
    add("se", info.band.se);
    add("lower", info.band.lower);
    add("upper", info.band.upper);
    add("sigma", host_create_scalar(s.sigma));
    add("enp", host_create_scalar(s.enp));
    add("dof", host_create_scalar(s.dof));
  }
  if (info.chosen) {
    const span_search& c = info.search;
    add("span", host_create_scalar(c.span));
    // Two columns: each span tried, ascending, and its criterion.
    mxArray* criterion = host_create_matrix(c.count, 2);
    double* v = host_data(criterion);
    for (std::int32_t k = 0; k < c.count; ++k) {
      v[k] = c.spans[k];
      v[c.count + k] = c.values[k];
    }
    add("criterion", criterion);
  }
  return host_create_struct(fields, names, values);
}

void free_call_info(call_info& info) {
  host_free(info.robust.weights);
  if (info.chosen) {
    host_free(info.search.spans);
    host_free(info.search.values);
  }
}
