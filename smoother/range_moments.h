// The moments of a run of the model's points in a query's coordinate, from
// the moment tree (smoother/moment_tree.h): the nodes that cover the run's
// whole leaves, moved four at a time (one per lane of a 4-double vector),
// and the ragged ends summed four points at a time. Always four, whatever
// the lane width of the run around it, so that every width sums in the
// same order and gives the same bits; in a header, so that each width's
// run compiles it in its own instruction set.
#ifndef QUIBRA_SMOOTHER_RANGE_MOMENTS_H
#define QUIBRA_SMOOTHER_RANGE_MOMENTS_H

#include <cstdint>

#include "numeric/lanes.h"
#include "smoother/moment_tree.h"

namespace local_fit {

// The lanes' partial sums of one run: `stride` vectors, the weights'
// moments, then the weights-times-ordinates', then the variances'.
inline constexpr int MOMENT_SLOTS = 4;
// Aligned as its doubles only, so that it lives in the scratch of doubles.
typedef double moment_vector __attribute__((vector_size(32), aligned(8)));

// Up to 4 nodes' moments (from nodes[0 .. count - 1], the other lanes 0)
// moved into (z, s) and added to acc.
inline void move_nodes(const moment_tree& t, const std::int32_t* nodes, int count, double z,
                       double s, moment_vector* acc, moment_vector* work) {
  moment_vector a = {};
  moment_vector d = {};
  for (int l = 0; l < count; ++l) {
    a[l] = t.s[nodes[l]] / s;
    d[l] = (t.z[nodes[l]] - z) / s;
  }
  const std::int32_t tops[3] = {t.top, t.top_y, t.top_v};
  std::int32_t offset = 0;
  for (int block = 0; block < 3; ++block) {
    const std::int32_t top = tops[block];
    if (top < 0) break;
    moment_vector power = splat<moment_vector>(1.0);
    for (std::int32_t k = 0; k <= top; ++k) {
      moment_vector m = {};
      for (int l = 0; l < count; ++l)
        m[l] = t.moments[static_cast<std::int64_t>(nodes[l]) * t.stride + offset + k];
      work[k] = power * m;
      power = power * a;
    }
    // Horner's Taylor shift by d: index j is complete after step j.
    for (std::int32_t i = 1; i <= top; ++i)
      for (std::int32_t j = top; j >= i; --j) work[j] = work[j] + d * work[j - 1];
    for (std::int32_t k = 0; k <= top; ++k) acc[offset + k] = acc[offset + k] + work[k];
    offset += top + 1;
  }
}

// The points [first, end), four at a time (the last ones padded with
// weight 0 at the run's first point), in c = (x - z) / s, added to acc.
inline void add_run_points(const moment_tree& t, std::int32_t first, std::int32_t end, double z,
                           double s, moment_vector* acc) {
  for (std::int32_t i = first; i < end; i += MOMENT_SLOTS) {
    moment_vector c = {};
    moment_vector w = {};
    moment_vector wy = {};
    moment_vector v = {};
    for (int l = 0; l < MOMENT_SLOTS; ++l) {
      const std::int32_t p = i + l < end ? i + l : first;
      const double live = i + l < end ? 1.0 : 0.0;
      c[l] = (t.x[p] - z) / s;
      w[l] = live * (t.w != nullptr ? t.w[p] : 1.0);
      wy[l] = live != 0.0 ? w[l] * t.y[p] : 0.0;
      if (t.v != nullptr) v[l] = live * t.v[p];
    }
    moment_vector pw = w;
    moment_vector py = wy;
    for (std::int32_t k = 0; k <= t.top; ++k) {
      acc[k] = acc[k] + pw;
      if (k <= t.top_y) acc[t.top + 1 + k] = acc[t.top + 1 + k] + py;
      pw = pw * c;
      py = py * c;
    }
    moment_vector pv = v;
    for (std::int32_t k = 0; k <= t.top_v; ++k) {
      acc[t.top + t.top_y + 2 + k] = acc[t.top + t.top_y + 2 + k] + pv;
      pv = pv * c;
    }
  }
}

// Adds the moments of the points [first, end) in c = (x - z) / s: m[k] +=
// sum w c^k (k <= top), my[k] += sum w y c^k (k <= top_y), and, when the
// tree keeps them, mv[k] += sum v c^k (k <= top_v). `acc` and `work` have
// room for t.stride vectors each.
inline void range_moments(const moment_tree& t, std::int32_t first, std::int32_t end, double z,
                          double s, double* m, double* my, double* mv, moment_vector* acc,
                          moment_vector* work) {
  for (std::int32_t k = 0; k < t.stride; ++k) acc[k] = moment_vector{};
  if (end - first < 3 * MOMENT_BLOCK) {
    add_run_points(t, first, end, z, s, acc);
  } else {
    // Whole leaves from the tree, the ragged ends point by point.
    const std::int32_t lo = (first + MOMENT_BLOCK - 1) / MOMENT_BLOCK;
    const std::int32_t hi = end / MOMENT_BLOCK;
    add_run_points(t, first, lo * MOMENT_BLOCK, z, s, acc);
    add_run_points(t, hi * MOMENT_BLOCK, end, z, s, acc);
    std::int32_t nodes[MOMENT_SLOTS];
    int held = 0;
    std::int32_t l = lo + t.leaves;
    std::int32_t r = hi + t.leaves;
    while (l < r) {
      if ((l & 1) != 0) nodes[held++] = l++;
      if (held == MOMENT_SLOTS) {
        move_nodes(t, nodes, held, z, s, acc, work);
        held = 0;
      }
      if ((r & 1) != 0) nodes[held++] = --r;
      if (held == MOMENT_SLOTS) {
        move_nodes(t, nodes, held, z, s, acc, work);
        held = 0;
      }
      l >>= 1;
      r >>= 1;
    }
    if (held > 0) move_nodes(t, nodes, held, z, s, acc, work);
  }
  // The lanes' sums in a fixed order.
  const auto total = [&](std::int32_t k) {
    return ((acc[k][0] + acc[k][1]) + acc[k][2]) + acc[k][3];
  };
  for (std::int32_t k = 0; k <= t.top; ++k) m[k] += total(k);
  for (std::int32_t k = 0; k <= t.top_y; ++k) my[k] += total(t.top + 1 + k);
  for (std::int32_t k = 0; k <= t.top_v; ++k) mv[k] += total(t.top + t.top_y + 2 + k);
}

}  // namespace local_fit

#endif
