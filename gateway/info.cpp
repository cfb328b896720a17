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

call_info new_call_info(std::int32_t data, std::int32_t n) {
  call_info info;
  info.points = 0;
  // What stands when no pass can run, with no data point taking part.
  info.robust.outcome = robust_outcome::abandoned;
  info.robust.scale = std::numeric_limits<double>::quiet_NaN();
  info.input_index = host_alloc_array<std::int32_t>(data);
  info.robust.weights = host_alloc_array<double>(data);
  info.failed = host_alloc_array<std::uint8_t>(n);
  return info;
}

mxArray* info_array(const call_info& info, bool robust, const smooth_model* model,
                    std::int32_t data_rows, std::int32_t data_cols, std::int32_t rows,
                    std::int32_t cols) {
  const robust_report& r = info.robust;
  // Data points outside the model took no part and keep weight 0.
  mxArray* weights = host_create_matrix(data_rows, data_cols);
  double* w = host_data(weights);
  for (std::int32_t j = 0; j < info.points; ++j)
    w[info.input_index[j]] = robust ? r.weights[j] : 1.0;

  const std::uint8_t converged = robust && r.outcome == robust_outcome::exhausted ? 0 : 1;
  const char* const names[] = {"outcome", "passes", "converged", "weights",
                               "failed",  "window", "scale"};
  mxArray* const values[] = {
      host_create_string(outcome_name(robust, r.outcome)),
      host_create_scalar(robust ? r.passes : 0),
      host_create_logical(1, 1, &converged),
      weights,
      host_create_logical(rows, cols, info.failed),
      host_create_scalar(model->window),
      host_create_scalar(robust ? r.scale : std::numeric_limits<double>::quiet_NaN()),
  };
  return host_create_struct(static_cast<int>(std::size(names)), names, values);
}

void free_call_info(call_info& info) {
  host_free(info.input_index);
  host_free(info.robust.weights);
  host_free(info.failed);
}
