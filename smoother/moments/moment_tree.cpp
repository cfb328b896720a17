#include "smoother/moments/moment_tree.h"

#include "host/storage.h"
#include "numeric/moments.h"

namespace {

// The points [first, end) of a node, and its coordinate.
struct extent {
  std::int32_t first;
  std::int32_t end;
};

extent leaf_points(const moment_tree& t, std::int32_t leaf) {
  const std::int64_t first = static_cast<std::int64_t>(leaf) * MOMENT_BLOCK;
  const std::int64_t end = first + MOMENT_BLOCK;
  const auto clip = [&](std::int64_t v) {
    return static_cast<std::int32_t>(v < t.count ? v : t.count);
  };
  return {clip(first), clip(end)};
}

// The points of node i (1 the root; leaf j is node leaves + j).
extent node_points(const moment_tree& t, std::int32_t i) {
  std::int32_t lo = i;
  std::int32_t hi = i;
  while (lo < t.leaves) {
    lo = 2 * lo;
    hi = 2 * hi + 1;
  }
  return {leaf_points(t, lo - t.leaves).first, leaf_points(t, hi - t.leaves).end};
}

void set_coordinate(moment_tree& t, std::int64_t i, extent e) {
  if (e.first >= e.end) {
    t.z[i] = 0.0;
    t.s[i] = 0.0;
    return;
  }
  const double lo = t.x[e.first];
  const double hi = t.x[e.end - 1];
  t.s[i] = (hi - lo) * 0.5;
  t.z[i] = lo + t.s[i];
}

// Moves node `from`'s moments into `to`'s coordinate and adds them.
void add_moved(const moment_tree& t, std::int32_t node, double z, double s, double* out,
               double* work) {
  const std::int64_t from = node_slot(t, node);
  if (from < 0) return;
  if (t.s[from] == 0.0 && t.z[from] == 0.0 && t.moments[from * t.stride] == 0.0) return;
  const double a = s != 0.0 ? t.s[from] / s : 0.0;
  const double d = s != 0.0 ? (t.z[from] - z) / s : 0.0;
  const double* m = t.moments + static_cast<std::int64_t>(from) * t.stride;
  move_moments(m, t.top, a, d, work, out);
  move_moments(m + t.top + 1, t.top_y, a, d, work, out + t.top + 1);
  if (t.top_v >= 0)
    move_moments(m + t.top + t.top_y + 2, t.top_v, a, d, work, out + t.top + t.top_y + 2);
}

// Adds the point moments of [first, end) in (z, s) to the three blocks at out.
void add_points(const moment_tree& t, std::int32_t first, std::int32_t end, double z, double s,
                double* out) {
  point_moments(t.x, t.y, t.w, first, end, z, s, t.top, t.top_y, out, out + t.top + 1);
  if (t.top_v >= 0) {
    double* mv = out + t.top + t.top_y + 2;
    point_moments(t.x, t.y, t.v, first, end, z, s, t.top_v, -1, mv, mv);
  }
}

}  // namespace

moment_tree* build_moment_tree(const smooth_model* model, std::int32_t degree, bool variances) {
  moment_tree* t = host_alloc_array<moment_tree>(1);
  const std::int32_t n = degree + 1;
  t->count = model->count;
  t->top = 2 * n - 2 + 9;
  t->top_y = n - 1 + 9;
  t->top_v = variances ? 2 * n - 2 + 18 : -1;
  t->stride = t->top + t->top_y + t->top_v + 3;
  t->x = model->x;
  t->y = model->y;
  t->w = model->weights;
  t->v = variances ? (model->variance_weights != nullptr ? model->variance_weights : model->weights)
                   : nullptr;
  std::int32_t leaves = 1;
  while (static_cast<std::int64_t>(leaves) * MOMENT_BLOCK < t->count) leaves *= 2;
  t->leaves = leaves;
  // The leaves that hold points (one at least), and the nodes above them.
  const std::int64_t filled = t->count > 0 ? (t->count + MOMENT_BLOCK - 1) / MOMENT_BLOCK : 1;
  std::int64_t nodes = 0;
  for (int level = 0; level < 32; ++level) {
    const std::int64_t width = level < 31 ? std::int64_t{1} << level : 0;
    const std::int64_t per = width > 0 && width <= leaves ? leaves / width : 0;
    t->level_count[level] = per > 0 ? static_cast<std::int32_t>((filled + per - 1) / per) : 0;
    t->level_start[level] = nodes;
    nodes += t->level_count[level];
  }
  t->z = host_alloc_array<double>(nodes);
  t->s = host_alloc_array<double>(nodes);
  t->moments = host_alloc_array<double>(nodes * t->stride);
  for (std::int64_t k = 0; k < nodes * t->stride; ++k) t->moments[k] = 0.0;
  double* work = host_alloc_array<double>(t->stride);
  // Leaves from their points, then each node from its children, moved.
  for (std::int32_t j = 0; j < leaves; ++j) {
    const std::int64_t k = node_slot(*t, leaves + j);
    if (k < 0) continue;
    const extent e = leaf_points(*t, j);
    set_coordinate(*t, k, e);
    add_points(*t, e.first, e.end, t->z[k], t->s[k], t->moments + k * t->stride);
  }
  for (std::int32_t i = leaves - 1; i >= 1; --i) {
    const std::int64_t k = node_slot(*t, i);
    if (k < 0) continue;
    set_coordinate(*t, k, node_points(*t, i));
    double* out = t->moments + k * t->stride;
    add_moved(*t, 2 * i, t->z[k], t->s[k], out, work);
    add_moved(*t, 2 * i + 1, t->z[k], t->s[k], out, work);
  }
  host_free(work);
  return t;
}

void free_moment_tree(moment_tree* t) {
  if (t == nullptr) return;
  host_free(t->z);
  host_free(t->s);
  host_free(t->moments);
  host_free(t);
}
