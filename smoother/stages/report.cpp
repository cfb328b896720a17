#include "smoother/stages/report.h"

void report(const smooth_request& r, prepared_data* p, const double* robust_weights,
            smooth_outputs* o) {
  const std::int32_t columns = p->shared.columns;
  for (std::int32_t c = 0; c < columns; ++c) {
    if (r.report) data_weights(r, p->sorted, p->points, robust_weights, o[c].weights);
    o[c].window = p->model->window;
  }
  // One model outlives the call, the last column's.
  o[columns - 1].model = p->model;
  release_prepared(p);
}

void data_weights(const smooth_request& r, const double* const* sorted, std::int32_t points,
                  const double* robust_weights, double* weights) {
  for (std::int32_t i = 0; i < r.count; ++i) weights[i] = 0.0;
  for (std::int32_t j = 0; j < points; ++j)
    weights[sorted[j] - r.x] = robust_weights != nullptr ? robust_weights[j] : 1.0;
}
