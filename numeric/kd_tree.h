// The nearest points of a query among points in two to four dimensions:
// a k-d tree, so that a query visits the cells near it rather than every
// point. The answer is exact and unique: points are ordered by squared
// Euclidean distance (summed over the dimensions in order), ties by index,
// so the same points come back whatever the tree's shape.
#ifndef QUIBRA_NUMERIC_KD_TREE_H
#define QUIBRA_NUMERIC_KD_TREE_H

#include <cstdint>

inline constexpr std::int32_t KD_MAX_DIMS = 4;
// Buckets of distance a search counts its candidates into (kd_space).
inline constexpr int KD_BUCKETS = 256;

// The points: `n` of `dims` coordinates, coordinate j of point i at
// x[j * n + i] (a column per dimension, as the host lays out a matrix).
// `order` holds the points by cell, and `xs` their coordinates in that
// order (xs[j * n + p] of point order[p]), so that a cell's are read in a
// row; each node a range of it and its box.
struct kd_tree {
  const double* x = nullptr;
  std::int32_t n = 0;
  std::int32_t dims = 0;
  std::int32_t* order = nullptr;
  double* xs = nullptr;
  std::int32_t nodes = 0;
  // Per node: its range of `order`, its children (-1 for a leaf), and its
  // box, the least and greatest coordinate of each dimension.
  std::int32_t* begin = nullptr;
  std::int32_t* end = nullptr;
  std::int32_t* low_child = nullptr;
  double* box = nullptr;  // node k's at box + k * 2 * dims: lows, then highs
};

// One point's distance: its square, its index, and its place in the
// tree's order.
struct kd_near {
  double d2;
  std::int32_t index;
  std::int32_t at;
};

// A tree over the points; no coordinate may be NaN or infinite. Storage from
// the host, released with free_kd_tree.
kd_tree build_kd_tree(const double* x, std::int32_t n, std::int32_t dims);
void free_kd_tree(kd_tree& t);

// A search's answer, a field per array (so that its users read each in
// vector lanes): each point's squared distance, index and place in the
// tree's order.
struct kd_window {
  double* d2 = nullptr;
  std::int32_t* index = nullptr;
  std::int32_t* at = nullptr;
};

// A search's own storage, for a tree of n points: its candidates, room to
// select among their distances and ties, and the last answer, which bounds
// the next one near it (never changing that answer, only its cost).
struct kd_space {
  kd_near* found = nullptr;       // n: the candidates
  kd_window near;                 // n each: the answer
  double* d2s = nullptr;          // n
  std::int32_t* ties = nullptr;   // n
  std::int32_t* tally = nullptr;  // KD_BUCKETS
  double last_q[KD_MAX_DIMS] = {};
  double last_d2 = 0.0;
  bool has_last = false;
};
kd_space new_kd_space(std::int32_t n);
void free_kd_space(kd_space& s);

// The k nearest points to q (dims coordinates), 1 <= k <= n, into
// s.near's [0, k), in the order the search meets them: cells nearer q
// first, which depends on the tree and q alone. Returns the largest
// squared distance among them. Calls no host function: any thread may
// ask, each with its own space.
double kd_nearest(const kd_tree& t, const double* q, std::int32_t k, kd_space& s);

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
