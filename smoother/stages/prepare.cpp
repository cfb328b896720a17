#include "smoother/stages/prepare.h"

#include "host/storage.h"

namespace {

// A spaced evaluation takes the queries in ascending order, and a plain
// one runs faster in it. When the queries are the data and every point of
// a number abscissa takes part, that is the model's own sorted order, so
// they need not be sorted a second time.
bool reuses_order(const smooth_request& r) {
  return r.at_data && r.choice.weights == nullptr && !r.choice.omit_missing;
}

// r's columns after the first, in the model's order, for fits that sum
// only the right-hand sides per column.
shared_columns share_columns(const smooth_request& r, const prepared_data& p) {
  shared_columns shared;
  const std::int32_t points = p.points;
  const std::int32_t more = r.columns - 1;
  shared.columns = r.columns;
  shared.y_more = host_alloc_array<double*>(more);
  shared.scales = host_alloc_array<double>(more);
  const std::int64_t width = (more + COLUMN_BLOCK - 1) / COLUMN_BLOCK * COLUMN_BLOCK;
  shared.blocks = host_alloc_array<double>(width * points);
  // The last block's unused lanes are summed too, and thrown away.
  for (std::int64_t i = 0; i < width * points; ++i) shared.blocks[i] = 0.0;
  for (std::int32_t c = 1; c < r.columns; ++c) {
    const double* y = r.y + static_cast<std::int64_t>(c) * r.count;
    double* y_c = shared.y_more[c - 1] = host_alloc_array<double>(points);
    const std::int32_t first = (c - 1) / COLUMN_BLOCK * COLUMN_BLOCK;
    double* block = shared.blocks + static_cast<std::int64_t>(first) * points + (c - 1 - first);
    for (std::int32_t j = 0; j < points; ++j) {
      y_c[j] = y[p.sorted[j] - r.x];
      block[static_cast<std::int64_t>(j) * COLUMN_BLOCK] = y_c[j];
    }
    shared.scales[c - 1] = largest_magnitude(y_c, points);
  }
  return shared;
}

}  // namespace

prepared_data prepare_data(const smooth_request& r, bool share) {
  prepared_data p;
  p.reuse = reuses_order(r);
  // The model's order also says where each point came from, for the
  // weights reported and the shared columns.
  if (p.reuse || r.report || share) p.sorted = host_alloc_array<const double*>(r.count);
  p.model = build_model(r.count, r.x, r.y, r.choice, r.f, r.degree, p.sorted);
  if (r.window_points > 0) set_window(p.model, r.window_points);
  p.points = p.model->count;
  if (share) p.shared = share_columns(r, p);
  return p;
}

void release_prepared(prepared_data* p) {
  for (std::int32_t c = 0; c + 1 < p->shared.columns; ++c) host_free(p->shared.y_more[c]);
  host_free(p->shared.y_more);
  host_free(p->shared.blocks);
  host_free(p->shared.scales);
  host_free(p->sorted);
  p->shared = shared_columns{};
  p->sorted = nullptr;
}
