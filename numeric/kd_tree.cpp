#include "numeric/kd_tree.h"

#include <algorithm>
#include <cmath>

#include "host/storage.h"

namespace {

// Cells of at most this many points, scanned without a branch: at n =
// 5000 and windows of 1500, 64 took 0.95 the time of 32 and 0.86 that of
// 16 (and no more than 32 at windows of 250).
constexpr std::int32_t LEAF = 64;

double coordinate(const kd_tree& t, std::int32_t j, std::int32_t i) {
  return t.x[static_cast<std::int64_t>(j) * t.n + i];
}

void set_box(kd_tree& t, std::int32_t k) {
  double* low = t.box + static_cast<std::int64_t>(k) * 2 * t.dims;
  double* high = low + t.dims;
  for (std::int32_t j = 0; j < t.dims; ++j) {
    low[j] = coordinate(t, j, t.order[t.begin[k]]);
    high[j] = low[j];
    for (std::int32_t p = t.begin[k] + 1; p < t.end[k]; ++p) {
      const double v = coordinate(t, j, t.order[p]);
      low[j] = v < low[j] ? v : low[j];
      high[j] = v > high[j] ? v : high[j];
    }
  }
}

// Makes node k over order[b, e) and the subtree below it.
void make_node(kd_tree& t, std::int32_t k, std::int32_t b, std::int32_t e) {
  t.begin[k] = b;
  t.end[k] = e;
  t.low_child[k] = -1;
  set_box(t, k);
  if (e - b <= LEAF) return;
  // Split across the widest side, at the median (ties by index).
  const double* low = t.box + static_cast<std::int64_t>(k) * 2 * t.dims;
  std::int32_t wide = 0;
  for (std::int32_t j = 1; j < t.dims; ++j)
    if (low[t.dims + j] - low[j] > low[t.dims + wide] - low[wide]) wide = j;
  if (!(low[t.dims + wide] > low[wide])) return;  // all points coincide
  const std::int32_t mid = b + (e - b) / 2;
  std::nth_element(t.order + b, t.order + mid, t.order + e, [&](std::int32_t p, std::int32_t q) {
    const double a = coordinate(t, wide, p);
    const double c = coordinate(t, wide, q);
    return a < c || (a == c && p < q);
  });
  const std::int32_t child = t.nodes;
  t.nodes += 2;
  t.low_child[k] = child;
  make_node(t, child, b, mid);
  make_node(t, child + 1, mid, e);
}

double box_distance2(const kd_tree& t, std::int32_t k, const double* q) {
  const double* low = t.box + static_cast<std::int64_t>(k) * 2 * t.dims;
  double s = 0.0;
  for (std::int32_t j = 0; j < t.dims; ++j) {
    double d = 0.0;
    if (q[j] < low[j]) d = low[j] - q[j];
    if (q[j] > low[t.dims + j]) d = q[j] - low[t.dims + j];
    s += d * d;
  }
  return s;
}

// A leaf's points within `bound` appended to out[count...) in the tree's
// order; returns the new count. Each is written, and kept by the count:
// no branch to mispredict at the edge of the ball (out has room for n).
template <int D>
std::int32_t scan_leaf(const kd_tree& t, std::int32_t node, const double* q, double bound,
                       kd_near* out, std::int32_t count) {
  const std::int64_t n = t.n;
  double at[D];
  for (int j = 0; j < D; ++j) at[j] = q[j];
  const double* xs = t.xs;
  const std::int32_t* order = t.order;
  for (std::int32_t p = t.begin[node], e = t.end[node]; p < e; ++p) {
    double d2 = 0.0;
    for (int j = 0; j < D; ++j) {
      const double d = xs[j * n + p] - at[j];
      d2 += d * d;
    }
    out[count] = kd_near{d2, order[p], p};
    count += d2 <= bound ? 1 : 0;
  }
  return count;
}

// Candidates gathered leaf by leaf, nearer cells first, none beyond the
// bound once there is one: the k-th nearest of those in hand, or a bound
// known beforehand. One selection at the end picks the k. Cheaper than
// keeping a heap of k when k is a good part of n.
struct search {
  const kd_tree& t;
  const double* q;
  std::int32_t k;
  kd_space& s;
  std::int32_t count = 0;
  bool bounded = false;
  double bound = 0.0;
  std::int32_t next_tighten = 0;

  // The k-th smallest distance in hand as the bound, and the candidates
  // beyond it dropped, the others kept in the order met.
  void tighten() {
    for (std::int32_t p = 0; p < count; ++p) s.d2s[p] = s.found[p].d2;
    std::nth_element(s.d2s, s.d2s + (k - 1), s.d2s + count);
    bound = s.d2s[k - 1];
    bounded = true;
    std::int32_t kept = 0;
    for (std::int32_t p = 0; p < count; ++p)
      if (!(s.found[p].d2 > bound)) s.found[kept++] = s.found[p];
    count = kept;
    next_tighten = 2 * count > k + 64 ? 2 * count : k + 64;
  }

  void visit(std::int32_t node) {
    const std::int32_t child = t.low_child[node];
    if (child < 0) {
      switch (t.dims) {
        case 2: count = scan_leaf<2>(t, node, q, bounded ? bound : INFINITY, s.found, count); break;
        case 3: count = scan_leaf<3>(t, node, q, bounded ? bound : INFINITY, s.found, count); break;
        default:
          count = scan_leaf<4>(t, node, q, bounded ? bound : INFINITY, s.found, count);
          break;
      }
      if (count >= next_tighten) tighten();
      return;
    }
    // A point's distance is never below its box's, in rounding too.
    const double d_low = box_distance2(t, child, q);
    const double d_high = box_distance2(t, child + 1, q);
    const bool high_first = d_high < d_low;
    const std::int32_t first = high_first ? child + 1 : child;
    const double d_second = high_first ? d_low : d_high;
    if (!bounded || !((high_first ? d_high : d_low) > bound)) visit(first);
    if (!bounded || !(d_second > bound)) visit(first == child ? child + 1 : child);
  }

  void run(bool hinted, double hint) {
    count = 0;
    bounded = hinted;
    bound = hint;
    next_tighten = hinted ? 2 * k + 64 : k;
    visit(0);
  }
};

// The k-th smallest of the count candidates' distances, all at most
// `bound` (< 0: unknown): counted into buckets of the distance first, so
// that only the bucket holding the k-th is selected in. A value, so how
// it is found changes nothing.
double kth_distance(const kd_near* found, std::int32_t count, std::int32_t k, double bound,
                    const kd_space& s) {
  constexpr int BUCKETS = KD_BUCKETS;
  if (bound < 0.0) {
    bound = 0.0;
    for (std::int32_t p = 0; p < count; ++p) bound = found[p].d2 > bound ? found[p].d2 : bound;
  }
  const double scale = BUCKETS / bound;
  std::int32_t m = 0;
  if (bound > 0.0 && std::isfinite(scale)) {
    std::int32_t* tally = s.tally;
    for (int b = 0; b < BUCKETS; ++b) tally[b] = 0;
    const auto bucket = [&](double d2) {
      const double at = d2 * scale;
      return at < BUCKETS - 1 ? static_cast<int>(at) : BUCKETS - 1;
    };
    for (std::int32_t p = 0; p < count; ++p) ++tally[bucket(found[p].d2)];
    int b = 0;
    std::int32_t before = 0;
    while (before + tally[b] < k) before += tally[b++];
    for (std::int32_t p = 0; p < count; ++p) {
      s.d2s[m] = found[p].d2;
      m += bucket(found[p].d2) == b ? 1 : 0;
    }
    k -= before;
  } else {
    for (std::int32_t p = 0; p < count; ++p) s.d2s[p] = found[p].d2;
    m = count;
  }
  std::nth_element(s.d2s, s.d2s + (k - 1), s.d2s + m);
  return s.d2s[k - 1];
}

// The last answer's k points lie within its distance of its query, so
// within that plus the step of this one: a bound, a hair wide for the
// rounding of the distances. Only worth it for a query near the last.
bool hint_from_last(const kd_space& s, const double* q, std::int32_t dims, double* bound) {
  if (!s.has_last) return false;
  double step2 = 0.0;
  for (std::int32_t j = 0; j < dims; ++j) {
    const double d = q[j] - s.last_q[j];
    step2 += d * d;
  }
  const double reach = std::sqrt(s.last_d2);
  const double step = std::sqrt(step2);
  if (!(step <= reach)) return false;
  const double r = (reach + step) * (1.0 + 1e-12);
  *bound = r * r;
  return std::isfinite(*bound);
}

}  // namespace

kd_tree build_kd_tree(const double* x, std::int32_t n, std::int32_t dims) {
  kd_tree t;
  t.x = x;
  t.n = n;
  t.dims = dims;
  if (n <= 0) return t;
  // Every split leaves at least LEAF / 2 points a side.
  const std::int64_t most = 2 * (static_cast<std::int64_t>(n) / (LEAF / 2) + 1);
  t.order = host_alloc_array<std::int32_t>(n);
  t.xs = host_alloc_array<double>(static_cast<std::int64_t>(n) * dims);
  t.begin = host_alloc_array<std::int32_t>(most);
  t.end = host_alloc_array<std::int32_t>(most);
  t.low_child = host_alloc_array<std::int32_t>(most);
  t.box = host_alloc_array<double>(most * 2 * dims);
  for (std::int32_t i = 0; i < n; ++i) t.order[i] = i;
  t.nodes = 1;
  make_node(t, 0, 0, n);
  for (std::int32_t j = 0; j < dims; ++j)
    for (std::int32_t p = 0; p < n; ++p)
      t.xs[static_cast<std::int64_t>(j) * n + p] = coordinate(t, j, t.order[p]);
  return t;
}

void free_kd_tree(kd_tree& t) {
  host_free(t.order);
  host_free(t.xs);
  host_free(t.begin);
  host_free(t.end);
  host_free(t.low_child);
  host_free(t.box);
  t = kd_tree{};
}

kd_space new_kd_space(std::int32_t n) {
  kd_space s;
  s.found = host_alloc_array<kd_near>(n);
  s.near.d2 = host_alloc_array<double>(n);
  s.near.index = host_alloc_array<std::int32_t>(n);
  s.near.at = host_alloc_array<std::int32_t>(n);
  s.d2s = host_alloc_array<double>(n);
  s.ties = host_alloc_array<std::int32_t>(n);
  s.tally = host_alloc_array<std::int32_t>(KD_BUCKETS);
  return s;
}

void free_kd_space(kd_space& s) {
  host_free(s.found);
  host_free(s.near.d2);
  host_free(s.near.index);
  host_free(s.near.at);
  host_free(s.d2s);
  host_free(s.ties);
  host_free(s.tally);
  s = kd_space{};
}

double kd_nearest(const kd_tree& t, const double* q, std::int32_t k, kd_space& space) {
  search s{t, q, k, space};
  double hint = 0.0;
  const bool hinted = hint_from_last(space, q, t.dims, &hint);
  s.run(hinted, hint);
  // Fewer than k within the bound: it was short (it cannot be, but for
  // rounding beyond the margin), and the search runs unbounded.
  if (s.count < k) s.run(false, 0.0);
  kd_near* found = space.found;
  const std::int32_t count = s.count;
  // The k-th distance, and the points within it, ties at it by index.
  const double kth = kth_distance(found, count, k, s.bounded ? s.bound : -1.0, space);
  // Those within it, in the order met; more than k only where points tie
  // at it, and then those of the lowest indices among the ties stay.
  // (Into another array: a copy within one would wait on its own stores.)
  kd_window& near = space.near;
  std::int32_t kept = 0;
  for (std::int32_t p = 0; p < count; ++p) {
    near.d2[kept] = found[p].d2;
    near.index[kept] = found[p].index;
    near.at[kept] = found[p].at;
    kept += found[p].d2 <= kth ? 1 : 0;
  }
  if (kept > k) {
    std::int32_t tied = 0;
    for (std::int32_t p = 0; p < kept; ++p)
      if (near.d2[p] == kth) space.ties[tied++] = near.index[p];
    const std::int32_t room = tied - (kept - k);
    std::nth_element(space.ties, space.ties + (room - 1), space.ties + tied);
    const std::int32_t last_tie = space.ties[room - 1];
    std::int32_t within = 0;
    for (std::int32_t p = 0; p < kept; ++p) {
      if (near.d2[p] < kth || near.index[p] <= last_tie) {
        near.d2[within] = near.d2[p];
        near.index[within] = near.index[p];
        near.at[within++] = near.at[p];
      }
    }
  }
  for (std::int32_t j = 0; j < t.dims; ++j) space.last_q[j] = q[j];
  space.last_d2 = kth;
  space.has_last = true;
  return kth;
}
