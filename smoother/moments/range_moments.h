// The moments of a run of the model's points in a query's coordinate, from
// the moment tree (smoother/moments/moment_tree.h): the run's middle kept from the
// query before (moment_span), the nodes that cover its other whole leaves,
// moved four at a time (one per lane of a 4-double vector), and the ragged
// ends summed four points at a time. Always four, whatever
// the lane width of the run around it, so that every width sums in the
// same order and gives the same bits; in a header, so that each width's
// run compiles it in its own instruction set.
#ifndef QUIBRA_SMOOTHER_RANGE_MOMENTS_H
#define QUIBRA_SMOOTHER_RANGE_MOMENTS_H

#include <cstdint>

#include "numeric/lanes.h"
#include "smoother/moments/moment_tree.h"

namespace local_fit {

// The lanes' partial sums of one run: `stride` vectors, the weights'
// moments, then the weights-times-ordinates', then the variances'.
inline constexpr int MOMENT_SLOTS = 4;
// Aligned as its doubles only, so that it lives in the scratch of doubles.
typedef double moment_vector __attribute__((vector_size(32), aligned(8)));

// Reads as the moments of an absent lane: 0 at every power.
inline constexpr double NO_MOMENTS[32] = {};

// One block of move_sets (powers 0 to TOP, from `offset` of each set) with
// its highest power known when compiled: the very operations of the loop
// in move_sets, in its order, unrolled so that the shifted moments stay in
// registers. A plain fit's blocks take most of a 'fast' query's time.
template <int TOP>
inline void move_block(const double* const* moments, int count, std::int32_t offset,
                       const moment_vector& a, const moment_vector& d, moment_vector* acc) {
  static_assert(TOP < static_cast<int>(sizeof NO_MOMENTS / sizeof NO_MOMENTS[0]));
  static_assert(MOMENT_SLOTS == 4);
  const double* p[MOMENT_SLOTS] = {NO_MOMENTS, NO_MOMENTS, NO_MOMENTS, NO_MOMENTS};
  for (int l = 0; l < count; ++l) p[l] = moments[l] + offset;
  moment_vector work[TOP + 1];
  moment_vector power = splat<moment_vector>(1.0);
#pragma GCC unroll 32
  for (int k = 0; k <= TOP; ++k) {
    const moment_vector m = {p[0][k], p[1][k], p[2][k], p[3][k]};
    work[k] = power * m;
    power = power * a;
  }
#pragma GCC unroll 32
  for (int i = 1; i <= TOP; ++i) {
#pragma GCC unroll 32
    for (int j = TOP; j >= i; --j) work[j] = work[j] + d * work[j - 1];
  }
#pragma GCC unroll 32
  for (int k = 0; k <= TOP; ++k) acc[k] = acc[k] + work[k];
}

// move_block for the highest powers of a plain fit's blocks of degree 0
// to 3; false for any other, which the loop moves (degree 4's top, 17,
// would add half again to the build of every lane width).
inline bool move_known_block(std::int32_t top, const double* const* moments, int count,
                             std::int32_t offset, const moment_vector& a, const moment_vector& d,
                             moment_vector* acc) {
  switch (top) {
    case 9: move_block<9>(moments, count, offset, a, d, acc); return true;
    case 10: move_block<10>(moments, count, offset, a, d, acc); return true;
    case 11: move_block<11>(moments, count, offset, a, d, acc); return true;
    case 12: move_block<12>(moments, count, offset, a, d, acc); return true;
    case 13: move_block<13>(moments, count, offset, a, d, acc); return true;
    case 15: move_block<15>(moments, count, offset, a, d, acc); return true;
    default: return false;
  }
}

// Up to 4 sets' moments (moments[l], in their coordinates (zs[l], ss[l]),
// the other lanes 0) moved into (z, s) and added to acc.
inline void move_sets(const moment_tree& t, const double* const* moments, const double* zs,
                      const double* ss, int count, double z, double s, moment_vector* acc,
                      moment_vector* work) {
  moment_vector a = {};
  moment_vector d = {};
  for (int l = 0; l < count; ++l) {
    a[l] = ss[l] / s;
    d[l] = (zs[l] - z) / s;
  }
  const std::int32_t tops[3] = {t.top, t.top_y, t.top_v};
  std::int32_t offset = 0;
  for (int block = 0; block < 3; ++block) {
    const std::int32_t top = tops[block];
    if (top < 0) break;
    if (move_known_block(top, moments, count, offset, a, d, acc + offset)) {
      offset += top + 1;
      continue;
    }
    moment_vector power = splat<moment_vector>(1.0);
    for (std::int32_t k = 0; k <= top; ++k) {
      moment_vector m = {};
      for (int l = 0; l < count; ++l) m[l] = moments[l][offset + k];
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

// Sets of moments to move into one coordinate, MOMENT_SLOTS at a time.
struct set_batch {
  const double* moments[MOMENT_SLOTS];
  double z[MOMENT_SLOTS];
  double s[MOMENT_SLOTS];
  int held = 0;
};

// Holds a set for the move into (z, s), moving the batch once it is full.
inline void hold_set(const moment_tree& t, set_batch& b, const double* moments, double zs,
                     double ss, double z, double s, moment_vector* acc, moment_vector* work) {
  b.moments[b.held] = moments;
  b.z[b.held] = zs;
  b.s[b.held] = ss;
  if (++b.held == MOMENT_SLOTS) {
    move_sets(t, b.moments, b.z, b.s, b.held, z, s, acc, work);
    b.held = 0;
  }
}

// Holds the tree's nodes that cover the leaves [lo, hi).
inline void hold_leaves(const moment_tree& t, set_batch& b, std::int32_t lo, std::int32_t hi,
                        double z, double s, moment_vector* acc, moment_vector* work) {
  // Every node within whole leaves holds points, so is kept.
  const auto hold = [&](std::int32_t node) {
    const std::int64_t k = node_slot(t, node);
    hold_set(t, b, t.moments + k * t.stride, t.z[k], t.s[k], z, s, acc, work);
  };
  std::int32_t l = lo + t.leaves;
  std::int32_t r = hi + t.leaves;
  while (l < r) {
    if ((l & 1) != 0) hold(l++);
    if ((r & 1) != 0) hold(--r);
    l >>= 1;
    r >>= 1;
  }
}

// The leaves [lo, hi) moved into (z, s) and added to acc.
inline void add_leaves(const moment_tree& t, std::int32_t lo, std::int32_t hi, double z, double s,
                       moment_vector* acc, moment_vector* work) {
  set_batch b;
  hold_leaves(t, b, lo, hi, z, s, acc, work);
  if (b.held > 0) move_sets(t, b.moments, b.z, b.s, b.held, z, s, acc, work);
}

// The lanes' sums in a fixed order, added to the three blocks at m, my, mv.
inline void add_totals(const moment_tree& t, const moment_vector* acc, double* m, double* my,
                       double* mv) {
  const auto total = [&](std::int32_t k) {
    double v = acc[k][0];
    for (int l = 1; l < MOMENT_SLOTS; ++l) v += acc[k][l];
    return v;
  };
  for (std::int32_t k = 0; k <= t.top; ++k) m[k] += total(k);
  for (std::int32_t k = 0; k <= t.top_y; ++k) my[k] += total(t.top + 1 + k);
  for (std::int32_t k = 0; k <= t.top_v; ++k) mv[k] += total(t.top + t.top_y + 2 + k);
}

// The points [first, end), four at a time (the last ones padded with
// weight 0 at the run's first point), in c = (x - z) / s, added to acc.
inline void add_run_points(const moment_tree& t, std::int32_t first, std::int32_t end, double z,
                           double s, moment_vector* acc) {
  for (std::int32_t i = first; i < end; i += MOMENT_SLOTS) {
    // Each vector made whole from its four lanes: built lane by lane on a
    // zeroed vector, the compiler's moves took an encoding valgrind cannot
    // run, and stored lane by lane to be loaded whole, every load waited for
    // its stores (the loads cannot take their data from several stores).
    double cl[MOMENT_SLOTS], wl[MOMENT_SLOTS], wyl[MOMENT_SLOTS], vl[MOMENT_SLOTS];
    for (int l = 0; l < MOMENT_SLOTS; ++l) {
      const std::int32_t p = i + l < end ? i + l : first;
      const double live = i + l < end ? 1.0 : 0.0;
      cl[l] = (t.x[p] - z) / s;
      wl[l] = live * (t.w != nullptr ? t.w[p] : 1.0);
      wyl[l] = live != 0.0 ? wl[l] * t.y[p] : 0.0;
      vl[l] = live * (t.v != nullptr ? t.v[p] : 1.0);
    }
    static_assert(MOMENT_SLOTS == 4);
    const moment_vector c = {cl[0], cl[1], cl[2], cl[3]};
    const moment_vector w = {wl[0], wl[1], wl[2], wl[3]};
    const moment_vector wy = {wyl[0], wyl[1], wyl[2], wyl[3]};
    const moment_vector v = {vl[0], vl[1], vl[2], vl[3]};
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

// Leaves per cell of the grid the kept middles of windows' sides align to:
// a side's leaves are its middle (whole cells, one move) and at most a
// cell less one at each end (a few nodes each). The middle changes only
// when a side's end crosses a cell's border.
inline constexpr std::int32_t SPAN_CELL = 8;

// Adds the moments of the points [first, end) in c = (x - z) / s: m[k] +=
// sum w c^k (k <= top), my[k] += sum w y c^k (k <= top_y), and, when the
// tree keeps them, mv[k] += sum v c^k (k <= top_v). `acc` and `work` have
// room for t.stride vectors each. The run's middle, whole cells of leaves,
// comes from `span` (made there unless it holds them already).
inline void range_moments(const moment_tree& t, std::int32_t first, std::int32_t end, double z,
                          double s, double* m, double* my, double* mv, moment_vector* acc,
                          moment_vector* work, moment_span& span) {
  const auto clear = [&] {
    for (std::int32_t k = 0; k < t.stride; ++k) acc[k] = moment_vector{};
  };
  clear();
  if (end - first < 3 * MOMENT_BLOCK) {
    add_run_points(t, first, end, z, s, acc);
    add_totals(t, acc, m, my, mv);
    return;
  }
  // Whole leaves from the tree, the ragged ends point by point.
  const std::int32_t lo = (first + MOMENT_BLOCK - 1) / MOMENT_BLOCK;
  const std::int32_t hi = end / MOMENT_BLOCK;
  const std::int32_t cell_lo = (lo + SPAN_CELL - 1) / SPAN_CELL * SPAN_CELL;
  const std::int32_t cell_hi = hi / SPAN_CELL * SPAN_CELL;
  if (cell_hi - cell_lo >= SPAN_CELL) {
    if (span.first != cell_lo || span.end != cell_hi) {
      // The middle in its own coordinate, as set_coordinate gives a node's.
      const double x_lo = t.x[cell_lo * MOMENT_BLOCK];
      const double x_hi = t.x[cell_hi * MOMENT_BLOCK - 1];
      span.first = cell_lo;
      span.end = cell_hi;
      span.s = (x_hi - x_lo) * 0.5;
      span.z = x_lo + span.s;
      for (std::int32_t k = 0; k < t.stride; ++k) span.moments[k] = 0.0;
      // All at one abscissa (s = 0): every u is 0 on any scale.
      add_leaves(t, cell_lo, cell_hi, span.z, span.s != 0.0 ? span.s : 1.0, acc, work);
      add_totals(t, acc, span.moments, span.moments + t.top + 1,
                 span.moments + t.top + t.top_y + 2);
      clear();
    }
    set_batch b;
    hold_set(t, b, span.moments, span.z, span.s, z, s, acc, work);
    hold_leaves(t, b, lo, cell_lo, z, s, acc, work);
    hold_leaves(t, b, cell_hi, hi, z, s, acc, work);
    if (b.held > 0) move_sets(t, b.moments, b.z, b.s, b.held, z, s, acc, work);
  } else {
    add_leaves(t, lo, hi, z, s, acc, work);
  }
  add_run_points(t, first, lo * MOMENT_BLOCK, z, s, acc);
  add_run_points(t, hi * MOMENT_BLOCK, end, z, s, acc);
  add_totals(t, acc, m, my, mv);
}

}  // namespace local_fit

#endif
