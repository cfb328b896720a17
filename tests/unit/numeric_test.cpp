// Merge sort, weighted polynomial least squares and the smoothness penalty.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "numeric/gallop.h"
#include "numeric/kd_tree.h"
#include "numeric/lane_solve.h"
#include "numeric/matrix.h"
#include "numeric/radix_sort.h"
#include "numeric/reference/merge_sort.h"
#include "numeric/reference/polyfit.h"
#include "numeric/reference/quotients.h"
#include "unit_support.h"

namespace {

struct wide {  // 24 bytes: the sort must not assume pointer-sized elements
  std::int32_t key, seq;
  double pad[2];
};
int less_wide(const void* a, const void* b) {
  return static_cast<const wide*>(a)->key < static_cast<const wide*>(b)->key;
}

TEST(MergeSort, MatchesStableSortWithManyTiesAtEverySize) {
  lcg r(1);
  std::vector<std::size_t> sizes = {127, 128, 129, 1000, 4099};
  for (std::size_t n = 0; n <= 70; ++n) sizes.push_back(n);
  const double values[] = {-0.0, 0.0, 2, 3, 4};  // -0.0 and +0.0 tie: their order shows
  for (std::size_t n : sizes) {
    std::vector<double> d(n);
    std::vector<wide> w(n);
    for (std::size_t i = 0; i < n; ++i) {
      d[i] = values[r.below(5)];
      w[i] = {r.below(4), static_cast<std::int32_t>(i), {}};
    }
    auto want_d = d;
    auto want_w = w;
    std::stable_sort(want_d.begin(), want_d.end());
    std::stable_sort(want_w.begin(), want_w.end(), [](wide a, wide b) { return a.key < b.key; });
    const auto o = standin::within_call([&] {
      merge_sort(d.data(), n, sizeof(double), less_double);
      merge_sort(w.data(), n, sizeof(wide), less_wide);
    });
    EXPECT_EQ(bits(d), bits(want_d)) << "n=" << n;
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(w[i].seq, want_w[i].seq) << n << " " << i;
    EXPECT_EQ(o.blocks_left, 0u);
  }
}

TEST(RadixSort, GivesTheMergeSortOrder) {
  // Ties (-0 and +0 among them) show stability; signs, infinities and
  // subnormals show that the keys order like the doubles.
  const double values[] = {-0.0,
                           0.0,
                           1.0,
                           -1.0,
                           2.5,
                           -2.5,
                           1e300,
                           -1e300,
                           5e-324,
                           -5e-324,
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  lcg r(2);
  for (std::size_t n : {0u, 1u, 2u, 7u, 64u, 1001u, 5000u}) {
    for (std::size_t spread : {2u, 12u}) {
      std::vector<double> v(n);
      for (double& d : v) d = values[r.below(spread)];
      std::vector<const double*> a(n), b(n);
      for (std::size_t i = 0; i < n; ++i) a[i] = b[i] = &v[i];
      const auto o = standin::within_call([&] {
        merge_sort(a.data(), n, sizeof(const double*), less_double_ptr);
        sort_double_ptrs(b.data(), n);
      });
      EXPECT_EQ(a, b) << n << " " << spread;
      EXPECT_EQ(o.blocks_left, 0u);
    }
  }
  // Input already in order, and one out-of-order value at the end.
  std::vector<double> v = {-3, -0.0, 0.0, 0.0, 1, 1, 7};
  for (int tail : {0, 1}) {
    if (tail == 1) v.push_back(-5);
    std::vector<const double*> a(v.size()), b(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) a[i] = b[i] = &v[i];
    standin::within_call([&] {
      merge_sort(a.data(), a.size(), sizeof(const double*), less_double_ptr);
      sort_double_ptrs(b.data(), b.size());
    });
    EXPECT_EQ(a, b) << tail;
  }
}

const std::string singular_line = "Error: Singular matrix inversion attempted.\n";

// One fit_polynomial call: coefficients (empty when it failed) and stderr.
struct fit_run {
  std::vector<double> coef;
  std::string err;
};
fit_run fit(int ncoef, const std::vector<double>& x, const std::vector<double>& y,
            const std::vector<double>& w, double lambda = 0.0, double lo = 0.0, double hi = 0.0) {
  fit_run r;
  const auto o = quiet_call(
      [&] {
        poly_fit* p = fit_polynomial(ncoef, static_cast<int>(x.size()), x.data(), y.data(),
                                     w.data(), lambda, lo, hi);
        if (p == nullptr) return;
        r.coef.assign(p->coef, p->coef + p->ncoef);
        free_polynomial(p);
      },
      &r.err);
  EXPECT_EQ(o.blocks_left, 0u);  // failures release everything too
  return r;
}

struct sample {
  std::vector<double> x, y, w;
};
sample noisy(int n, std::uint64_t seed) {
  lcg r(seed);
  sample s;
  for (int i = 0; i < n; ++i) {
    s.x.push_back(i + 0.5 * r.unit());
    s.y.push_back(std::sin(i) + r.unit());
    s.w.push_back(0.25 + 1.5 * r.unit());
  }
  return s;
}

TEST(Polyfit, OneCoefficientIsTheWeightedMeanThroughTheGaussJordanReciprocal) {
  const sample s = noisy(7, 2);
  double sw = 0.0, swy = 0.0;
  for (int i = 0; i < 7; ++i) sw += s.w[i];
  for (int i = 0; i < 7; ++i) swy += s.w[i] * s.y[i];
  EXPECT_EQ(bits(fit(1, s.x, s.y, s.w).coef), bits(std::vector<double>{(1.0 / sw) * swy}));
}

TEST(Polyfit, ReproducesPolynomialDataOfLowerDegree) {
  const sample s = noisy(12, 3);
  const double truth[] = {2.0, -3.0, 0.5, 0.125};
  for (int degree = 0; degree <= 3; ++degree) {
    std::vector<double> y;
    for (double x : s.x) {
      double v = 0.0;
      for (int k = degree; k >= 0; --k) v = v * x + truth[k];
      y.push_back(v);
    }
    for (int ncoef = degree + 1; ncoef <= degree + 2; ++ncoef) {
      const fit_run r = fit(ncoef, s.x, y, s.w);
      ASSERT_EQ(r.coef.size(), static_cast<std::size_t>(ncoef));
      for (int k = 0; k < ncoef; ++k) EXPECT_NEAR(r.coef[k], k <= degree ? truth[k] : 0.0, 1e-8);
    }
  }
}

TEST(Polyfit, CoefficientCountsBeyondTheLimitAreRejected) {
  // More coefficients than the fixed accumulators hold: no fit, no
  // storage, no line (and no write past the accumulators).
  const sample s = noisy(300, 4);
  for (const int ncoef : {MAX_NCOEF + 1, 110, 1000}) {
    const fit_run r = fit(ncoef, s.x, s.y, s.w);
    EXPECT_TRUE(r.coef.empty()) << ncoef;
    EXPECT_EQ(r.err, "") << ncoef;
    std::string err;
    quiet_call(
        [&] {
          EXPECT_EQ(normal_equations(ncoef, 300, s.x.data(), s.y.data(), s.w.data(), 0, 0, 0),
                    nullptr);
        },
        &err);
  }
  EXPECT_EQ(fit(MAX_NCOEF, s.x, s.y, s.w).coef.size(), static_cast<std::size_t>(MAX_NCOEF));
}

TEST(Polyfit, ZeroWeightsAreSingularWithOneLine) {
  const sample s = noisy(6, 4);
  const fit_run r = fit(3, s.x, s.y, std::vector<double>(6, 0.0));
  EXPECT_TRUE(r.coef.empty());
  EXPECT_EQ(r.err, singular_line);
}

TEST(Polyfit, UnstableSystemWarnsWithTheSignedCheckValueAndStillFits) {
  // Two points, three coefficients: singular in exact arithmetic, but
  // rounding leaves a tiny pivot that the product check catches.
  const fit_run r = fit(3, {23.0, 23.0 + 0.37}, {1.0, 2.0}, {0.3, 0.7});
  EXPECT_EQ(r.coef.size(), 3u);
  EXPECT_EQ(r.err, "Warning: Unstable equation system [-16384.000000]\n");
}

// invert_matrix on a matrix the test owns: the inverse (empty if singular).
std::vector<std::vector<double>> invert(std::vector<std::vector<double>> a, std::string* err) {
  const auto before = a;
  std::vector<double*> rows;
  for (auto& row : a) rows.push_back(row.data());
  const int n = static_cast<int>(a.size());
  std::vector<std::vector<double>> out;
  const auto o = quiet_call(
      [&] {
        double** inv = invert_matrix(rows.data(), n);
        if (inv == nullptr) return;
        for (int i = 0; i < n; ++i) out.emplace_back(inv[i], inv[i] + n);
        free_rows(inv, n);
      },
      err);
  EXPECT_EQ(a, before) << "the input matrix was modified";
  EXPECT_EQ(o.blocks_left, 0u);
  return out;
}

TEST(InvertMatrix, PivotTieKeepsTheLowerRowAndFailureReleasesEverything) {
  // |1| ties |-1| in column 0. Without an exchange inv[0][0] comes out as
  // 1 - 1/3; pivoting on row 1 would give 2/3, which rounds differently.
  std::string err;
  const auto inv = invert({{1.0, 1.0}, {-1.0, 2.0}}, &err);
  ASSERT_NE(bits(1.0 - 1.0 / 3.0), bits(2.0 / 3.0));
  EXPECT_EQ(bits(inv.at(0)[0]), bits(1.0 - 1.0 / 3.0));
  EXPECT_EQ(err, "");
  // The second column cancels exactly after one step: rows already worked on go too.
  EXPECT_TRUE(invert({{1, 2, 0}, {2, 4, 1}, {3, 6, 5}}, &err).empty());
  EXPECT_EQ(err, singular_line);
}

TEST(Smoothness, FullWeightFallsBackToTheLineOrTheMeanAndFailsForTwoCoefficients) {
  const sample s = noisy(9, 6);
  const auto line = bits(fit(2, s.x, s.y, s.w).coef);
  EXPECT_EQ(bits(fit(3, s.x, s.y, s.w, 1.0, 0.0, 9.0).coef), line);
  EXPECT_EQ(bits(fit(5, s.x, s.y, s.w, 1.0, 0.0, 9.0).coef), line);
  EXPECT_EQ(bits(fit(1, s.x, s.y, s.w, 1.0, 0.0, 9.0).coef), bits(fit(1, s.x, s.y, s.w).coef));
  const fit_run two = fit(2, s.x, s.y, s.w, 1.0, 0.0, 9.0);
  EXPECT_TRUE(two.coef.empty());
  EXPECT_EQ(two.err, singular_line);
}

TEST(Smoothness, PartialWeightLeavesAStraightLineUnchangedUpToRounding) {
  const sample s = noisy(9, 7);
  const auto line = fit(2, s.x, s.y, s.w).coef;
  for (double lambda : {0.25, 0.5, 0.999}) {
    const auto c = fit(2, s.x, s.y, s.w, lambda, 0.0, 9.0).coef;
    ASSERT_EQ(c.size(), 2u);
    for (int k = 0; k < 2; ++k) EXPECT_NEAR(c[k], line[k], 1e-11 * std::fabs(line[k]) + 1e-12);
  }
}

std::vector<std::vector<double>> system_of(int ncoef, const sample& s, double lambda, double lo,
                                           double hi) {
  std::vector<std::vector<double>> out;
  standin::within_call([&] {
    double** m = normal_equations(ncoef, static_cast<int>(s.x.size()), s.x.data(), s.y.data(),
                                  s.w.data(), lambda, lo, hi);
    for (int r = 0; r <= ncoef; ++r) out.emplace_back(m[r], m[r] + ncoef);
  });
  return out;
}

TEST(Smoothness, ZeroWeightOrAnEmptyIntervalAddsNoPenalty) {
  const sample s = noisy(8, 8);
  const auto plain = system_of(3, s, 0.0, 0.0, 0.0);
  EXPECT_EQ(system_of(3, s, 0.0, -7.0, 13.0), plain);
  EXPECT_EQ(system_of(3, s, -0.0, -7.0, 13.0), plain);
  // Only the data term remains, scaled by 1 - lambda.
  const auto scaled = system_of(3, s, 0.3, 5.0, 5.0);
  for (int r = 0; r <= 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(bits(scaled[r][c]), bits(plain[r][c] * (1.0 - 0.3)));
}

TEST(Smoothness, PenaltyIsTheIntegralOfTheSecondDerivativeProducts) {
  // Zero weights leave only the penalty. Over [1, 2] with lambda 0.5:
  // x^2: int 2*2 = 4; x^2 with x^3: int 2*6x = 18; x^3: int 36x^2 = 84; halved.
  sample s = noisy(5, 9);
  s.w.assign(5, 0.0);
  const std::vector<std::vector<double>> want = {
      {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 2, 9}, {0, 0, 9, 42}, {0, 0, 0, 0}};
  EXPECT_EQ(system_of(4, s, 0.5, 1.0, 2.0), want);
}

TEST(Smoothness, WeightOutsideTheUnitIntervalIsRejected) {
  const sample s = noisy(6, 10);
  const auto line = [](const char* v) {
    return "Confounding weighting (" + std::string(v) + ") of smoothness requirement.\n";
  };
  for (double lambda : {-0.5, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
    const fit_run r = fit(3, s.x, s.y, s.w, lambda, 0.0, 5.0);
    EXPECT_TRUE(r.coef.empty());
    // How NaN prints is the C library's business.
    const std::string want = lambda < 0 ? line("-0.500000") : lambda > 1 ? line("1.500000") : "";
    EXPECT_TRUE(r.err == want || (want.empty() && (r.err == line("nan") || r.err == line("-nan"))))
        << r.err;
  }
}

}  // namespace

// A group of lanes' fits against one lane's solve (fill_normal_system,
// gauss_jordan, first_coefficient), bit for bit: the values and the
// inverse's first rows that the bands use. Lanes get sums of different
// scales so that they pick different pivot rows.
TEST(LaneSolve, EveryLaneFitsAsTheOneLaneSolve) {
  lcg r(5);
  for (int n = 1; n <= 4; ++n) {
    std::vector<std::vector<double>> m(8, std::vector<double>(3 * n - 1));
    std::vector<std::vector<double>> row_store(8, std::vector<double>(n));
    const double* lanes[8];
    double* rows[8];
    for (int k = 0; k < 8; ++k) {
      for (double& v : m[k]) v = (r.below(1000) + 1) * (k % 3 == 0 ? 1e-3 : 1.0);
      lanes[k] = m[k].data();
      rows[k] = row_store[k].data();
    }
    double value[8];
    fit_trouble trouble[8];
    ASSERT_TRUE(fit_lanes_from_sums<8>(n, lanes, value, trouble, rows, error_limit{})) << n;
    double value_2[2];
    fit_trouble trouble_2[2];
    ASSERT_TRUE(fit_lanes_from_sums<2>(n, lanes, value_2, trouble_2, nullptr, error_limit{}));
    for (int k = 0; k < 8; ++k) {
      double store[5][4];
      double inv_store[2][4][4];
      double* sys[5] = {store[0], store[1], store[2], store[3], store[4]};
      double* w[4] = {inv_store[0][0], inv_store[0][1], inv_store[0][2], inv_store[0][3]};
      double* inv[4] = {inv_store[1][0], inv_store[1][1], inv_store[1][2], inv_store[1][3]};
      fill_normal_system(sys, n, m[k].data(), 1.0);
      const fit_trouble t = gauss_jordan(sys, w, inv, n);
      ASSERT_FALSE(t.singular);
      const double v = lane_solve::first_coefficient<double>(inv[0], sys[n], n);
      EXPECT_EQ(bits(value[k]), bits(v)) << n << " " << k;
      EXPECT_EQ(trouble[k].unstable, t.unstable) << n << " " << k;
      for (int c = 0; c < n; ++c) EXPECT_EQ(bits(rows[k][c]), bits(inv[0][c])) << n << " " << k;
      if (k < 2) {
        EXPECT_EQ(bits(value_2[k]), bits(v)) << n << " " << k;
      }
    }
  }
}

#if QUIBRA_WIDE_LANES
// The wide paths' quotient is the division to the bit where they use it
// (operands of magnitude within [2^-392, 2^341], and 0 over anything): on
// random operands, divisors whose significand is nearly all ones, and
// quotients as close to a halfway point between doubles as any can be,
// where a last rounding most easily goes astray.
TEST(Quotient, IsTheDivisionToTheBitOnRandomAndHardOperands) {
  if (supported_lanes() < 4) GTEST_SKIP() << "no wide path on this processor";
  lcg r(67);
  std::vector<double> a, b;
  const auto bits_of = [](std::uint64_t hi, std::uint64_t lo) { return (hi << 32) | lo; };
  while (a.size() < 200000) {
    const std::uint64_t ma = bits_of(r.next(), r.next()) & ((1ULL << 52) - 1);
    std::uint64_t mb = bits_of(r.next(), r.next()) & ((1ULL << 52) - 1);
    if (r.below(2) == 0) mb |= ((1ULL << 52) - 1) ^ r.below(256);
    const std::uint64_t ea = 1023 - 390 + r.below(730);
    const std::uint64_t eb = 1023 - 390 + r.below(730);
    a.push_back(std::bit_cast<double>((ea << 52) | ma) * (r.below(2) == 0 ? -1.0 : 1.0));
    b.push_back(std::bit_cast<double>((eb << 52) | mb));
  }
  // a / b = M / 4 - t / (4 B): within t / (4 B) of the halfway point M / 4
  // (M odd, 54 bits), B and A 53-bit significands with A 2^54 = B M - t.
  while (a.size() < 400000) {
    const std::uint64_t big = (1ULL << 53) - 1;
    const std::uint64_t B = (bits_of(r.next(), r.next()) | (1ULL << 52) | 1ULL) & big;
    std::uint64_t inverse = B;  // of B modulo 2^64, by Newton's iteration
    for (int k = 0; k < 6; ++k) inverse *= 2 - B * inverse;
    const std::int64_t t = static_cast<std::int64_t>(r.below(64)) - 32;
    if (t == 0) continue;
    const unsigned __int128 two54 = static_cast<unsigned __int128>(1) << 54;
    const std::uint64_t M =
        static_cast<std::uint64_t>((static_cast<unsigned __int128>(t * inverse)) % two54);
    if ((M & 1) == 0 || M < (1ULL << 53)) continue;
    const __int128 num = static_cast<__int128>(static_cast<unsigned __int128>(B) * M) - t;
    if (num % static_cast<__int128>(two54) != 0) continue;
    const __int128 A = num / static_cast<__int128>(two54);
    if (A < (static_cast<__int128>(1) << 52) || A > static_cast<__int128>(big)) continue;
    const double scale = std::ldexp(1.0, r.below(400) - 200);
    a.push_back(static_cast<double>(static_cast<std::uint64_t>(A)) * scale);
    b.push_back(std::ldexp(static_cast<double>(B), -52) * scale);
  }
  for (int k = 0; k < 16; ++k) {  // 0 over anything
    a.push_back(0.0);
    b.push_back(b[k]);
  }
  std::vector<double> want(a.size());
  for (std::size_t i = 0; i < a.size(); ++i) want[i] = a[i] / b[i];
  std::vector<double> got(a.size());
  quotients_4(a.data(), b.data(), got.data(), a.size());
  EXPECT_EQ(bits(got), bits(want));
  if (supported_lanes() == 8) {
    quotients_8(a.data(), b.data(), got.data(), a.size());
    EXPECT_EQ(bits(got), bits(want));
  }
}
#endif

// The galloping search must give the binary search's answer from any hint,
// look only inside [a, b), and leave the answer as the next hint.
TEST(Gallop, FindsTheFirstHoldingFromAnyHint) {
  for (std::int32_t a = 0; a < 4; ++a)
    for (std::int32_t b = a; b < a + 40; ++b)
      for (std::int32_t first = a; first <= b; ++first)
        for (std::int32_t start = a - 3; start <= b + 3; ++start) {
          std::int32_t hint = start;
          bool inside = true;
          std::int32_t looks = 0;
          const auto holds = [&](std::int32_t i) {
            inside = inside && i >= a && i < b;
            ++looks;
            return i >= first;
          };
          const std::int32_t found = first_holding(a, b, holds, hint);
          const std::int32_t expect = a < b ? first : a;
          ASSERT_EQ(found, expect) << a << " " << b << " " << first << " " << start;
          ASSERT_TRUE(inside) << a << " " << b << " " << first << " " << start;
          if (a < b) {
            ASSERT_EQ(hint, found);
          }
          // Galloping then halving: about 2 log2 of the distance, and never
          // more than twice a plain binary search over the range.
          ASSERT_LE(looks, 2 * (33 - __builtin_clz(static_cast<unsigned>(b - a + 1))) + 1);
        }
}

namespace {

// The tree's k nearest are a scan's: by squared distance, ties by index,
// on points with many ties (a coarse grid), coincident points, and cells
// far apart.
TEST(KdTree, FindsTheNearestAsAScanWould) {
  lcg r(11);
  for (const std::int32_t dims : {2, 3, 4}) {
    for (const std::int32_t n : {1, 2, 17, 40, 300}) {
      for (const bool grid : {false, true}) {
        std::vector<double> x(static_cast<std::size_t>(n) * dims);
        for (double& v : x) v = grid ? r.below(4) : (r.below(2) ? 1e3 : 0.0) + r.unit();
        const auto o = standin::within_call([&] {
          kd_tree t = build_kd_tree(x.data(), n, dims);
          kd_space space = new_kd_space(n);
          const kd_window& found = space.near;
          std::vector<kd_near> all(n);
          for (int trial = 0; trial < 20; ++trial) {
            double q[KD_MAX_DIMS];
            for (std::int32_t j = 0; j < dims; ++j)
              q[j] = trial % 4 == 0 ? x[static_cast<std::size_t>(j) * n + trial % n] : 3 * r.unit();
            const std::int32_t k = 1 + r.below(n);
            const double far = kd_nearest(t, q, k, space);
            // The order met depends on the tree and q alone, not on the
            // search before (which bounds this one): asked afresh, the same.
            std::vector<kd_near> met(k);
            for (std::int32_t i = 0; i < k; ++i)
              met[i] = kd_near{found.d2[i], found.index[i], found.at[i]};
            kd_space fresh = new_kd_space(n);
            kd_nearest(t, q, k, fresh);
            for (std::int32_t i = 0; i < k; ++i)
              ASSERT_TRUE(fresh.near.index[i] == met[i].index && fresh.near.at[i] == met[i].at);
            free_kd_space(fresh);
            std::vector<kd_near> by_index = met;
            std::sort(by_index.begin(), by_index.end(),
                      [](const kd_near& a, const kd_near& b) { return a.index < b.index; });
            for (std::int32_t i = 0; i < n; ++i) all[i] = kd_near{kd_distance2(t, i, q), i, 0};
            std::sort(all.begin(), all.end(), [](const kd_near& a, const kd_near& b) {
              return a.d2 < b.d2 || (a.d2 == b.d2 && a.index < b.index);
            });
            std::sort(all.begin(), all.begin() + k,
                      [](const kd_near& a, const kd_near& b) { return a.index < b.index; });
            double want = 0.0;
            for (std::int32_t i = 0; i < k; ++i) {
              ASSERT_EQ(by_index[i].index, all[i].index) << dims << " " << n << " " << k;
              ASSERT_EQ(bits(by_index[i].d2), bits(all[i].d2));
              ASSERT_EQ(t.order[by_index[i].at], by_index[i].index);
              want = all[i].d2 > want ? all[i].d2 : want;
            }
            ASSERT_EQ(bits(far), bits(want));
          }
          free_kd_tree(t);
          free_kd_space(space);
        });
        EXPECT_EQ(o.blocks_left, 0u);
      }
    }
  }
}

}  // namespace
