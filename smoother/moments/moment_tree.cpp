#include "smoother/moments/moment_tree.h"

#include <bit>

#include "host/storage.h"
#include "numeric/moments.h"
#include "smoother/fits/parallel.h"

namespace {

// Subtrees per thread: a thread that is slow to start or wake holds up
// the others by one subtree at most.
constexpr int SUBTREES_PER_THREAD = 16;
// A point's share of the tree costs about as much as 64 (query x window
// point) pairs of a direct fit (smoother/fits/parallel.h).
constexpr std::int64_t POINT_PAIRS = 64;

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

// Node i from its points (a leaf) or from its two children, moved. A node
// depends on its children alone, so it gets the same bits whichever
// thread makes it, once they are made.
void make_node(moment_tree& t, std::int32_t i, double* work) {
  const std::int64_t k = node_slot(t, i);
  if (k < 0) return;
  double* out = t.moments + k * t.stride;
  for (std::int32_t p = 0; p < t.stride; ++p) out[p] = 0.0;
  if (i >= t.leaves) {
    const extent e = leaf_points(t, i - t.leaves);
    set_coordinate(t, k, e);
    add_points(t, e.first, e.end, t.z[k], t.s[k], out);
    return;
  }
  set_coordinate(t, k, node_points(t, i));
  add_moved(t, 2 * i, t.z[k], t.s[k], out, work);
  add_moved(t, 2 * i + 1, t.z[k], t.s[k], out, work);
}

// Nodes [first, end) of one level and all below them down `depth` levels,
// the lowest level first.
void make_nodes(moment_tree& t, std::int32_t first, std::int32_t end, int depth, double* work) {
  for (int d = depth; d >= 0; --d)
    for (std::int32_t i = first << d; i < end << d; ++i) make_node(t, i, work);
}

// The subtrees under nodes [base + begin, base + end) of one level, each
// worker with its own room to move moments in.
struct subtree_job {
  moment_tree* t;
  std::int32_t base;
  int depth;
  double* work;  // `stride` doubles per worker
};

void make_subtrees(void* context, int worker, std::int64_t begin, std::int64_t end) {
  const subtree_job& job = *static_cast<subtree_job*>(context);
  make_nodes(*job.t, job.base + static_cast<std::int32_t>(begin),
             job.base + static_cast<std::int32_t>(end), job.depth,
             job.work + static_cast<std::int64_t>(worker) * job.t->stride);
}

// Every node: the subtrees under one level are shared among the threads,
// enough of them to balance the load; the calling thread then makes the
// few nodes above them.
void make_tree(moment_tree& t, const fit_settings* settings) {
  const int leaf_level = std::countr_zero(static_cast<std::uint32_t>(t.leaves));
  const int wanted = requested_threads(settings);
  int level = 0;
  while (level < leaf_level && (1 << level) < SUBTREES_PER_THREAD * wanted && wanted > 1) ++level;
  const std::int64_t subtrees = t.level_count[level];
  const run_plan plan = plan_items(settings, subtrees, t.count * POINT_PAIRS / subtrees);
  double* work = host_alloc_array<double>(static_cast<std::int64_t>(plan.threads) * t.stride);
  subtree_job job{&t, std::int32_t{1} << level, leaf_level - level, work};
  run_parallel(parallel_task{&job, make_subtrees, nullptr}, subtrees, plan);
  make_nodes(t, 1, 2, level - 1, work);
  host_free(work);
}

}  // namespace

moment_tree* build_moment_tree(const smooth_model* model, std::int32_t degree, bool variances,
                               const fit_settings* settings) {
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
  make_tree(*t, settings);
  return t;
}

void free_moment_tree(moment_tree* t) {
  if (t == nullptr) return;
  host_free(t->z);
  host_free(t->s);
  host_free(t->moments);
  host_free(t);
}
