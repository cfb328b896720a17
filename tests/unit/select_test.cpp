// Rank selection by median of medians, including arrays with NaN.
#include <algorithm>
#include <limits>
#include <vector>

#include "numeric/reference/select.h"
#include "numeric/select.h"
#include "smoother/model.h"
#include "unit_support.h"

namespace {

const double nan_value = std::numeric_limits<double>::quiet_NaN();

struct wide {  // 24 bytes: the returned index must divide by the element size
  double pad, key, more;
};
int less_wide(const void* a, const void* b) {
  return static_cast<const wide*>(a)->key < static_cast<const wide*>(b)->key;
}

TEST(SelectRank, TypedDoubleSelectionGivesTheGenericIndex) {
  lcg r(12);
  for (int n : {1, 2, 5, 6, 31, 500}) {
    std::vector<double> v(n);
    for (double& d : v) d = r.below(7) == 0 ? nan_value : r.below(5);
    const auto o = standin::within_call([&] {
      for (int k = -1; k <= n; ++k) {
        EXPECT_EQ(select_rank_double(v.data(), k, n),
                  select_rank(v.data(), k, n, sizeof(double), less_double))
            << n << " " << k;
      }
    });
    EXPECT_EQ(o.blocks_left, 0u);
  }
}

TEST(SelectRank, FindsEveryRankOfRandomArraysLeavingThemUntouched) {
  lcg r(11);
  std::vector<int> sizes = {99, 100, 257, 1000, 5003};
  for (int n = 1; n <= 60; ++n) sizes.push_back(n);
  for (int n : sizes) {
    std::vector<double> v(n);  // all equal, many ties, or (nearly) distinct
    for (double& d : v) d = n % 3 == 0 ? 4.25 : n % 3 == 1 ? r.below(n / 3 + 1) : r.unit();
    std::vector<wide> w;
    for (double d : v) w.push_back({0.0, d, 0.0});
    const auto before = bits(v);
    auto sorted = v;
    std::sort(sorted.begin(), sorted.end());
    const auto o = standin::within_call([&] {
      for (int k = 0; k < n; ++k) {
        if (n > 100 && k > 2 && k < n - 3 && k % 97 != 0 && k != n / 2) continue;
        const int i = select_rank(v.data(), k, n, sizeof(double), less_double);
        ASSERT_TRUE(i >= 0 && i < n) << n << " " << k;
        ASSERT_EQ(v[i], sorted[k]) << "n=" << n << " rank=" << k;
        const int j = select_rank(w.data(), k, n, sizeof(wide), less_wide);
        ASSERT_TRUE(j >= 0 && j < n) << n << " " << k;
        ASSERT_EQ(w[j].key, sorted[k]) << "n=" << n << " rank=" << k;
      }
    });
    EXPECT_EQ(bits(v), before);
    EXPECT_EQ(o.blocks_left, 0u);
    EXPECT_TRUE(o.faults.empty());
    EXPECT_EQ(o.console, "");
  }
}

TEST(SelectRank, ScratchStaysLinearOnSortedAndReversedInput) {
  // A pivot that is not the median of medians degrades to quadratic work on
  // presorted data, and its live scratch grows with the recursion depth.
  const int n = 4000;
  std::vector<double> up(n), down(n);
  for (int i = 0; i < n; ++i) up[i] = i, down[i] = n - i;
  for (const auto* v : {&up, &down}) {
    for (int k : {7, n / 3, n / 2, n - 9}) {
      const auto o = standin::within_call([&] { select_rank(v->data(), k, n, 8, less_double); });
      EXPECT_LT(o.allocations, 400u) << k;
      EXPECT_LT(o.peak_bytes, 24u * n) << k;
    }
  }
}

TEST(SelectRank, OutOfRangeRequestPrintsOnTheConsoleAndReturnsMinusOne) {
  const std::vector<double> v(7, 1.0);
  std::vector<int> got;
  const auto o = standin::within_call([&] {
    got.push_back(select_rank(v.data(), 7, 7, 8, less_double));
    got.push_back(select_rank(v.data(), -1, 7, 8, less_double));
    got.push_back(select_rank(v.data(), 0, 0, 8, less_double));
  });
  EXPECT_EQ(got, std::vector<int>(3, -1));
  EXPECT_EQ(o.console,
            "Cannot select item of rank 7 among 7 elements.\n"
            "Cannot select item of rank -1 among 7 elements.\n"
            "Cannot select item of rank 0 among 0 elements.\n");
  EXPECT_EQ(o.allocations, 0u);
}

TEST(SelectRank, FailedFitsRankAboveEveryFiniteResidualAndInfinityAboveThem) {
  const double F = FIT_FAILED, inf = std::numeric_limits<double>::infinity();
  const std::vector<double> v = {0.5, F, 3.0, 0.25, F, 2.0, 7.0, F, 1.0, inf, 6.0, 0.75, F};
  const std::vector<double> want = {0.25, 0.5, 0.75, 1.0, 2.0, 3.0, 6.0, 7.0, F, F, F, F, inf};
  standin::within_call([&] {
    for (int k = 0; k < 13; ++k) {
      EXPECT_EQ(v[select_rank(v.data(), k, 13, 8, less_double)], want[k]) << k;
    }
  });
}

// Runs median_of_five on every 5-tuple over `values` (pointers to the
// tuple's own slots) and calls check(tuple, values at positions 0..4).
template <class F>
void for_each_group(const std::vector<double>& values, F check) {
  const int m = static_cast<int>(values.size());
  double t[5];
  for (int code = 0; code < m * m * m * m * m; ++code) {
    for (int i = 0, c = code; i < 5; ++i, c /= m) t[i] = values[c % m];
    const void* g[5] = {&t[0], &t[1], &t[2], &t[3], &t[4]};
    median_of_five(g, less_double);
    std::vector<const void*> moved(g, g + 5);
    std::sort(moved.begin(), moved.end());
    ASSERT_EQ(moved, (std::vector<const void*>{&t[0], &t[1], &t[2], &t[3], &t[4]})) << code;
    double at[5];
    for (int i = 0; i < 5; ++i) at[i] = *static_cast<const double*>(g[i]);
    check(t, at);
    if (testing::Test::HasFatalFailure()) return;
  }
}

int comparisons = 0;
int counting_less(const void* a, const void* b) {
  ++comparisons;
  return less_double(a, b);
}

TEST(MedianOfFive, PutsTheMedianInTheMiddleForEveryOrderedGroupInSixComparisons) {
  for_each_group({1, 2, 3, 4, 5}, [](const double* in, const double* at) {
    std::vector<double> s(in, in + 5);
    std::sort(s.begin(), s.end());
    ASSERT_EQ(at[2], s[2]);
    ASSERT_TRUE(at[0] <= at[2] && at[1] <= at[2] && at[3] >= at[2] && at[4] >= at[2]);
  });
  double t[5] = {5, 1, 4, 2, 3};
  const void* g[5] = {&t[0], &t[1], &t[2], &t[3], &t[4]};
  median_of_five(g, counting_less);
  EXPECT_EQ(comparisons, 6);
}

// The partition's progress rests on this: in the pivot's own group one of
// positions 0 and 1 is not above position 2, so it joins the lower side and
// the upper side shrinks, even where NaN compares false both ways.
TEST(MedianOfFive, NeverLeavesBothLowerPositionsAboveTheMiddleEvenWithNaN) {
  for_each_group({1, 2, 3, 4, 5, nan_value}, [](const double*, const double* at) {
    ASSERT_FALSE(at[2] < at[0] && at[2] < at[1]);
  });
}

TEST(SelectRank, TerminatesWithAnIndexInRangeOnArraysWithNaN) {
  lcg r(13);
  std::vector<int> sizes = {150, 600, 2001};
  for (int n = 1; n <= 80; ++n) sizes.push_back(n);
  for (int n : sizes) {
    for (int nan_share : {10, 50, 90, 100}) {
      std::vector<double> v(n);
      for (double& d : v) d = r.below(100) < nan_share ? nan_value : r.below(7);
      const auto o = standin::within_call([&] {
        for (int k = 0; k < n; k += n <= 80 ? 1 : 37) {
          const int i = select_rank(v.data(), k, n, sizeof(double), less_double);
          ASSERT_TRUE(i >= 0 && i < n) << "n=" << n << " rank=" << k;
        }
      });
      EXPECT_EQ(o.blocks_left, 0u);
    }
  }
}

}  // namespace
