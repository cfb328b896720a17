// The model's points kept as power moments of blocks, for the fast sums of
// the local fits ('Method' 'fast'): leaves of BLOCK consecutive points, and
// a binary tree over them whose every node holds the moments of its points
// in its own coordinate u = (x - z) / s (z the middle of its abscissae, s
// their half-width). The moments of any run of points in any coordinate
// then come from the O(log n) nodes that cover it, each moved by the
// binomial theorem (numeric/moments.h), and the run's ragged ends summed
// point by point; no node is wider than the run it serves, so nothing
// large cancels.
#ifndef QUIBRA_SMOOTHER_MOMENT_TREE_H
#define QUIBRA_SMOOTHER_MOMENT_TREE_H

#include <bit>
#include <cstdint>

#include "smoother/model.h"
#include "smoother/settings.h"

// Points per leaf: a run shorter than a few leaves is summed point by point.
inline constexpr std::int32_t MOMENT_BLOCK = 16;

struct moment_tree {
  std::int32_t count;   // the model's points
  std::int32_t leaves;  // a power of two, at least count / MOMENT_BLOCK
  // Highest powers kept: of the weights, of weights times ordinates, and
  // of the variances' weights (-1: none kept).
  std::int32_t top;
  std::int32_t top_y;
  std::int32_t top_v;
  std::int32_t stride;  // doubles per node: (top + 1) + (top_y + 1) + (top_v + 1)
  // Only nodes that hold points are kept, level after level from the root:
  // level L (nodes 2^L to 2^(L+1) - 1) keeps its first level_count[L], from
  // slot level_start[L] (node_slot). The nodes of no point beyond the
  // last leaf would take up to half the storage.
  std::int64_t level_start[32];
  std::int32_t level_count[32];
  double* z;  // per kept node: its coordinate
  double* s;
  double* moments;  // per kept node, `stride` doubles
  // The model's arrays (not owned): abscissae, ordinates, weights (null:
  // all 1), the variances' weights (null: none kept).
  const double* x;
  const double* y;
  const double* w;
  const double* v;
};

// Where node i (1 the root; leaf j is node leaves + j) is kept, or -1 for
// a node of no point.
inline std::int64_t node_slot(const moment_tree& t, std::int32_t i) {
  const int level = static_cast<int>(std::bit_width(static_cast<std::uint32_t>(i))) - 1;
  if (level < 0) return -1;  // no node 0
  const std::int32_t j = i - (std::int32_t{1} << level);
  return j < t.level_count[level] ? t.level_start[level] + j : -1;
}

// Whole leaves [first, end) of a tree gathered in a coordinate of their
// own (z, s): the middle of a window's side, which the windows of
// neighbouring queries share, kept between them. What it holds depends on
// [first, end) alone, never on the queries before.
// Where a run's last window's searches ended (its first point at or past
// the query, its core's and its heavy points' bounds): where the next
// query's, near it when queries come in order, start galloping. Any
// values give the same answers, only faster or slower.
struct search_hints {
  std::int32_t lo = 0;
  std::int32_t inner = 0;
  std::int32_t outer = 0;
  std::int32_t core_lo = 0;
  std::int32_t core_hi = 0;
};

struct moment_span {
  std::int32_t first;
  std::int32_t end;
  double z;
  double s;
  double* moments;  // `stride` doubles, laid out as a node's
};

// The tree of a model's points for fits of `degree`, with the moments the
// variances' sums need when `variances` (of model->variance_weights, else
// of its weights). Built in O(n) of the call's storage, on as many of the
// call's threads as its size is worth (settings->threads); the same bits
// on any number.
moment_tree* build_moment_tree(const smooth_model* model, std::int32_t degree, bool variances,
                               const fit_settings* settings);
void free_moment_tree(moment_tree* t);

#endif
