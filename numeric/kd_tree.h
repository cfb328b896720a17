// The nearest points of a query among points in two to four dimensions:
// a k-d tree, so that a query visits the cells near it rather than every
// point. The answer is exact and unique: points are ordered by squared
// Euclidean distance (summed over the dimensions in order), ties by index,
// so the same points come back whatever the tree's shape.
#ifndef QUIBRA_NUMERIC_KD_TREE_H
#define QUIBRA_NUMERIC_KD_TREE_H

#include <cstdint>

inline constexpr std::int32_t KD_MAX_DIMS = 4;

// The points: `n` of `dims` coordinates, coordinate j of point i at
// x[j * n + i] (a column per dimension, as the host lays out a matrix).
// `order` holds the points by cell; each node a range of it and its box.
struct kd_tree {
  const double* x = nullptr;
  std::int32_t n = 0;
  std::int32_t dims = 0;
  std::int32_t* order = nullptr;
  std::int32_t nodes = 0;
  // Per node: its range of `order`, its children (-1 for a leaf), and its
  // box, the least and greatest coordinate of each dimension.
  std::int32_t* begin = nullptr;
  std::int32_t* end = nullptr;
  std::int32_t* low_child = nullptr;
  double* box = nullptr;  // node k's at box + k * 2 * dims: lows, then highs
};

// One point's distance: its square and its index.
struct kd_near {
  double d2;
  std::int32_t index;
};

// A tree over the points; no coordinate may be NaN or infinite. Storage from
// the host, released with free_kd_tree.
kd_tree build_kd_tree(const double* x, std::int32_t n, std::int32_t dims);
void free_kd_tree(kd_tree& t);

// A search's own storage, for a tree of n points: its candidates, and the
// bitmap, ranks and copy that order a window by index.
struct kd_space {
  kd_near* found = nullptr;  // n
  kd_near* sorted = nullptr;  // n
  std::uint64_t* bits = nullptr;  // (n + 63) / 64
  std::int32_t* ranks = nullptr;  // (n + 63) / 64
};
kd_space new_kd_space(std::int32_t n);
void free_kd_space(kd_space& s);

// The k nearest points to q (dims coordinates), 1 <= k <= n, into
// s.found[0, k), ascending by index. Returns the largest squared distance
// among them. Calls no host function: any thread may ask, each with its
// own space.
double kd_nearest(const kd_tree& t, const double* q, std::int32_t k, const kd_space& s);

// Squared distance from point i to q, summed over the dimensions in order.
inline double kd_distance2(const kd_tree& t, std::int32_t i, const double* q) {
  double s = 0.0;
  for (std::int32_t j = 0; j < t.dims; ++j) {
    const double d = t.x[static_cast<std::int64_t>(j) * t.n + i] - q[j];
    s += d * d;
  }
  return s;
}

#endif
