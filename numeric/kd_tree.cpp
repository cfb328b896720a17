#include "numeric/kd_tree.h"

#include <algorithm>
#include <bit>

#include "host/storage.h"

namespace {

// Cells of at most this many points: a few cache lines of coordinates,
// enough that a query's visits are not mostly descents.
constexpr std::int32_t LEAF = 16;

double coordinate(const kd_tree& t, std::int32_t j, std::int32_t i) {
  return t.x[static_cast<std::int64_t>(j) * t.n + i];
}

// The greater of two candidates: the farther, or at equal distance the one
// of higher index, so that the k nearest are one set.
bool nearer(const kd_near& a, const kd_near& b) {
  return a.d2 < b.d2 || (a.d2 == b.d2 && a.index < b.index);
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

// Candidates gathered leaf by leaf, nearer cells first. Once k are in
// hand, the k-th nearest of them bounds the answer: cells beyond it are
// skipped and points beyond it dropped, and one selection at the end picks
// the k. Cheaper than keeping a heap of k when k is a good part of n.
struct search {
  const kd_tree& t;
  const double* q;
  std::int32_t k;
  kd_near* found;  // room for n
  std::int32_t count;
  bool bounded;
  double bound;  // with `bounded`: the k-th nearest distance so far

  void tighten() {
    std::nth_element(found, found + (k - 1), found + count, nearer);
    bound = found[k - 1].d2;
    bounded = true;
  }

  void visit(std::int32_t node) {
    const std::int32_t child = t.low_child[node];
    if (child < 0) {
      for (std::int32_t p = t.begin[node]; p < t.end[node]; ++p) {
        const std::int32_t i = t.order[p];
        const double d2 = kd_distance2(t, i, q);
        if (!bounded || !(d2 > bound)) found[count++] = kd_near{d2, i};
      }
      if (!bounded && count >= k) tighten();
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
};

// found[0, k) in ascending index: by a bitmap of the n indices when k is
// a good part of n, else by sorting.
void order_by_index(std::int32_t k, std::int32_t n, const kd_space& s) {
  kd_near* found = s.found;
  std::uint64_t* bits = s.bits;
  if (static_cast<std::int64_t>(k) * 16 < n) {
    std::sort(found, found + k, [](const kd_near& a, const kd_near& b) { return a.index < b.index; });
    return;
  }
  const std::int32_t words = (n + 63) / 64;
  for (std::int32_t w = 0; w < words; ++w) bits[w] = 0;
  // The distances ride along in the indices' order: a second pass lays
  // them out by the bitmap's rank of each index.
  for (std::int32_t p = 0; p < k; ++p)
    bits[found[p].index >> 6] |= std::uint64_t{1} << (found[p].index & 63);
  std::int32_t* rank = s.ranks;
  std::int32_t r = 0;
  for (std::int32_t w = 0; w < words; ++w) {
    rank[w] = r;
    r += std::popcount(bits[w]);
  }
  kd_near* sorted = s.sorted;
  for (std::int32_t p = 0; p < k; ++p) {
    const std::int32_t i = found[p].index;
    const std::uint64_t below = bits[i >> 6] & ((std::uint64_t{1} << (i & 63)) - 1);
    sorted[rank[i >> 6] + std::popcount(below)] = found[p];
  }
  std::copy(sorted, sorted + k, found);
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
  t.begin = host_alloc_array<std::int32_t>(most);
  t.end = host_alloc_array<std::int32_t>(most);
  t.low_child = host_alloc_array<std::int32_t>(most);
  t.box = host_alloc_array<double>(most * 2 * dims);
  for (std::int32_t i = 0; i < n; ++i) t.order[i] = i;
  t.nodes = 1;
  make_node(t, 0, 0, n);
  return t;
}

void free_kd_tree(kd_tree& t) {
  host_free(t.order);
  host_free(t.begin);
  host_free(t.end);
  host_free(t.low_child);
  host_free(t.box);
  t = kd_tree{};
}

kd_space new_kd_space(std::int32_t n) {
  const std::int64_t words = (static_cast<std::int64_t>(n) + 63) / 64;
  kd_space s;
  s.found = host_alloc_array<kd_near>(n);
  s.sorted = host_alloc_array<kd_near>(n);
  s.bits = host_alloc_array<std::uint64_t>(words);
  s.ranks = host_alloc_array<std::int32_t>(words);
  return s;
}

void free_kd_space(kd_space& s) {
  host_free(s.found);
  host_free(s.sorted);
  host_free(s.bits);
  host_free(s.ranks);
  s = kd_space{};
}

double kd_nearest(const kd_tree& t, const double* q, std::int32_t k, const kd_space& space) {
  kd_near* found = space.found;
  search s{t, q, k, found, 0, false, 0.0};
  s.visit(0);
  // The k nearest to the front, ties by index.
  if (s.count > k) std::nth_element(found, found + (k - 1), found + s.count, nearer);
  double farthest = 0.0;
  for (std::int32_t p = 0; p < k; ++p) farthest = found[p].d2 > farthest ? found[p].d2 : farthest;
  order_by_index(k, t.n, space);
  return farthest;
}
