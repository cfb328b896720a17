// R's loess rules: the least-squares solve through singular values, the
// window and weights of each fit against a brute-force long double solve,
// the robustness weights, and the thread count's indifference.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "numeric/gram_solve.h"
#include "numeric/pseudo_solve.h"
#include "smoother/model.h"
#include "smoother/r_rules/loess.h"
#include "unit_support.h"

namespace {

// Weighted least squares of degree `degree` at q by normal equations in
// long double, the window's weights found by sorting every distance.
long double brute_loess(const std::vector<double>& x, const std::vector<double>& y,
                        const std::vector<double>& w, int window, double f, int degree, double q) {
  const int n = static_cast<int>(x.size());
  std::vector<double> d2(n);
  for (int i = 0; i < n; ++i) d2[i] = (x[i] - q) * (x[i] - q);
  std::vector<double> sorted = d2;
  std::nth_element(sorted.begin(), sorted.begin() + (window - 1), sorted.end());
  const long double rho = sorted[window - 1] * std::max(1.0, f);
  const int k = degree + 1;
  long double a[3][4] = {};
  std::vector<double> taken;
  for (int i = 0; i < n; ++i) {
    if (d2[i] >= rho || w[i] == 0) continue;
    taken.push_back(x[i]);
    const long double t = std::sqrt(d2[i] / rho);
    const long double tc = 1 - t * t * t;
    const long double wt = w[i] * tc * tc * tc;
    long double p[3] = {1, x[i] - q, (x[i] - q) * static_cast<long double>(x[i] - q)};
    for (int r = 0; r < k; ++r) {
      for (int c = 0; c < k; ++c) a[r][c] += wt * p[r] * p[c];
      a[r][k] += wt * p[r] * y[i];
    }
  }
  // Fewer abscissae than coefficients: a pseudo-inverse's choice, not ours.
  std::sort(taken.begin(), taken.end());
  if (std::unique(taken.begin(), taken.end()) - taken.begin() < k) return NAN;
  for (int c = 0; c < k; ++c) {  // Gauss-Jordan, partial pivoting
    int piv = c;
    for (int r = c + 1; r < k; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    for (int j = 0; j <= k; ++j) std::swap(a[c][j], a[piv][j]);
    for (int r = 0; r < k; ++r) {
      if (r == c) continue;
      const long double m = a[r][c] / a[c][c];
      for (int j = c; j <= k; ++j) a[r][j] -= m * a[c][j];
    }
  }
  return a[0][k] / a[0][0];
}

TEST(PseudoSolve, SolvesFullRankSystemsAndTakesMinimumNormWhereColumnsRepeat) {
  // y = 2 + 3 t - t^2 exactly on five points: the coefficients come back.
  std::vector<double> b(15), eta(5);
  for (int i = 0; i < 5; ++i) {
    const double t = i - 2.0;
    b[i] = 1.0;
    b[5 + i] = t;
    b[10 + i] = t * t;
    eta[i] = 2.0 + 3.0 * t - t * t;
  }
  double coef[3];
  ASSERT_TRUE(pseudo_solve(b.data(), 5, 3, eta.data(), coef));
  EXPECT_NEAR(coef[0], 2.0, 1e-14);
  EXPECT_NEAR(coef[1], 3.0, 1e-14);
  EXPECT_NEAR(coef[2], -1.0, 1e-14);
  // Two equal columns: the dropped singular value splits the mean evenly.
  std::vector<double> twice = {1, 1, 1, 1, 1, 1}, rhs = {1, 2, 6};
  ASSERT_TRUE(pseudo_solve(twice.data(), 3, 2, rhs.data(), coef));
  EXPECT_NEAR(coef[0], 1.5, 1e-14);
  EXPECT_NEAR(coef[1], 1.5, 1e-14);
  // No weight anywhere: no solution. NaN ends too.
  std::vector<double> zero(6, 0.0), r2 = {1, 2, 3};
  EXPECT_FALSE(pseudo_solve(zero.data(), 3, 2, r2.data(), coef));
  EXPECT_EQ(coef[0], 0.0);
  std::vector<double> nan(6, NAN);
  pseudo_solve(nan.data(), 3, 2, r2.data(), coef);
}

// The first coefficient's row of the pseudo-inverse gives its value from
// any right-hand side, full rank or not, and asking for it changes no bit.
TEST(PseudoSolve, TheFirstRowGivesTheFirstCoefficient) {
  lcg r(3);
  for (int trial = 0; trial < 30; ++trial) {
    const int rows = 3 + r.below(30);
    const int k = 1 + r.below(rows < 6 ? rows : 6);
    std::vector<double> orig(static_cast<std::size_t>(rows) * k);
    for (double& v : orig) v = r.unit() - 0.5;
    if (trial % 3 == 0 && k > 1)  // a repeated column: rank deficient
      std::copy(orig.begin(), orig.begin() + rows, orig.begin() + rows);
    std::vector<double> row(rows);
    for (int again = 0; again < 4; ++again) {
      std::vector<double> rhs(rows);
      for (double& v : rhs) v = r.unit() * 4 - 2;
      std::vector<double> b = orig, eta = rhs, b2 = orig, eta2 = rhs;
      double coef[PSEUDO_MAX_COLUMNS], coef2[PSEUDO_MAX_COLUMNS];
      pseudo_solve(b.data(), rows, k, eta.data(), coef);
      pseudo_solve(b2.data(), rows, k, eta2.data(), coef2, row.data());
      EXPECT_EQ(bits(coef[0]), bits(coef2[0]));
      double sum = 0.0, size = 0.0;
      for (int i = 0; i < rows; ++i) {
        sum += row[i] * rhs[i];
        size += std::fabs(row[i] * rhs[i]);
      }
      EXPECT_NEAR(sum, coef[0], 1e-12 * (size + 1.0)) << trial << " " << rows << " " << k;
    }
  }
}

// The normal equations answer only where they are well conditioned, and
// there agree with the solve by singular values (of the columns and
// ordinates times the roots of the weights) to rounding, the ordinates'
// shares included, whatever the blocks their sums come in; a zero column
// or a near repeat is left to that solve.
TEST(GramSolve, AgreesWithThePseudoSolveWhereItAnswersAndDeclinesTheIllConditioned) {
  lcg r(7);
  int answered = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const int rows = 16 + r.below(50);
    const int k = 1 + r.below(PSEUDO_MAX_COLUMNS);
    std::vector<double> weight(rows), terms(static_cast<std::size_t>(rows) * k), y(rows);
    for (double& v : weight) v = r.unit();
    for (double& v : terms) v = r.unit() - 0.5;  // the first k - 1 columns are used
    for (double& v : y) v = r.unit() * 4 - 2;
    const int kind = trial % 4;  // 0: zero column, 1: a near repeat, else random
    if (kind == 0 && k > 1)
      std::fill(terms.begin() + (k - 2) * rows, terms.begin() + (k - 1) * rows, 0.0);
    if (kind == 1 && k > 2)
      for (int i = 0; i < rows; ++i) terms[rows + i] = terms[i] * (1.0 + 1e-9 * (r.unit() - 0.5));
    std::vector<double> u(static_cast<std::size_t>(rows) * k), b(u.size()), eta(rows);
    for (int a = 0; a < k; ++a)
      for (int i = 0; i < rows; ++i) {
        const double t = a == 0 ? 1.0 : terms[(a - 1) * rows + i];
        u[a * rows + i] = weight[i] * t;
        b[a * rows + i] = std::sqrt(weight[i]) * t;
      }
    for (int i = 0; i < rows; ++i) eta[i] = std::sqrt(weight[i]) * y[i];
    // In one block, and in blocks of 16: the same bits.
    gram_sums whole, blocks;
    gram_start(whole, k);
    gram_start(blocks, k);
    gram_add(whole, u.data(), terms.data(), rows, rows, y.data());
    for (int at = 0; at < rows; at += 16)
      gram_add(blocks, u.data() + at, terms.data() + at, rows, rows - at < 16 ? rows - at : 16,
               y.data() + at);
    double first = 0.0, again = 0.0, h[PSEUDO_MAX_COLUMNS], h2[PSEUDO_MAX_COLUMNS];
    const bool ok = gram_first(whole, &first, h);
    EXPECT_EQ(ok, gram_first(blocks, &again, h2));
    std::vector<double> shares(rows, 0.0);
    if (ok) {
      EXPECT_EQ(bits(first), bits(again));
      for (int a = 0; a < k; ++a)
        for (int i = 0; i < rows; ++i) shares[i] += h[a] * u[a * rows + i];
    }
    if ((kind == 0 && k > 1) || (kind == 1 && k > 2)) {
      EXPECT_FALSE(ok) << trial;
      continue;
    }
    if (!ok) continue;
    ++answered;
    double coef[PSEUDO_MAX_COLUMNS];
    ASSERT_TRUE(pseudo_solve(b.data(), rows, k, eta.data(), coef));
    double size = 0.0, sum = 0.0;
    for (int i = 0; i < rows; ++i) {
      size += std::fabs(shares[i] * y[i]);
      sum += shares[i] * y[i];
    }
    EXPECT_NEAR(first, coef[0], 1e-12 * (size + 1.0)) << trial << " " << rows << " " << k;
    EXPECT_NEAR(sum, first, 1e-13 * (size + 1.0)) << trial;
  }
  EXPECT_GT(answered, 15);
}

TEST(LoessFit, AgreesWithABruteForceSolveWithTiesWeightsAndQueriesOutside) {
  lcg r(5);
  int checked = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 5 + r.below(300);
    std::vector<double> x(n), y(n), w(n);
    for (int i = 0; i < n; ++i) {
      x[i] = trial % 3 == 0 ? std::round(20 * r.unit()) / 4 : 5 * r.unit();
      y[i] = std::sin(x[i]) + r.unit();
      w[i] = trial % 2 == 0 ? 1.0 : 2 * r.unit();
    }
    std::sort(x.begin(), x.end());
    const int degree = trial % 3;
    const double f = trial % 5 == 0 ? 1.4 : 0.1 + 0.8 * r.unit();
    loess_data d;
    d.x = x.data();
    d.y = y.data();
    d.weights = w.data();
    d.n = n;
    d.window = loess_window(n, f);
    d.degree = degree;
    d.f = f;
    if (d.window < degree + 1) continue;
    std::vector<double> work(loess_work(d));
    for (int t = 0; t < 20; ++t) {
      const double q = t < 10 ? x[r.below(n)] : 7 * r.unit() - 1;
      const double v = loess_fit(d, q, work.data());
      if (v == FIT_FAILED) continue;  // a window of ties at its edge: no point weighs anything
      const long double want = brute_loess(x, y, w, d.window, f, degree, q);
      // A zero-width window is a mean, which the brute force does not know.
      if (!std::isfinite(static_cast<double>(want))) continue;
      EXPECT_NEAR(v, static_cast<double>(want), 1e-9 * (1 + std::fabs(static_cast<double>(want))))
          << "trial " << trial << " q " << q;
      ++checked;
    }
  }
  EXPECT_GT(checked, 500);
}

TEST(LoessFit, MillionPointsWithSmallWindowsAgreeWithBruteForce) {
  const int n = 1000000;
  lcg r(11);
  std::vector<double> x(n), y(n), w(n, 1.0);
  for (int i = 0; i < n; ++i) x[i] = 1e3 * r.unit();
  std::sort(x.begin(), x.end());
  for (int i = 0; i < n; ++i) y[i] = std::cos(x[i] / 50) + 0.1 * r.unit();
  loess_data d;
  d.x = x.data();
  d.y = y.data();
  d.n = n;
  d.degree = 2;
  d.f = 2.5e-5;
  d.window = loess_window(n, d.f);
  ASSERT_EQ(d.window, 25);
  std::vector<double> work(loess_work(d));
  double worst = 0;
  for (int t = 0; t < 50; ++t) {
    const double q = x[r.below(n)];
    const long double want = brute_loess(x, y, w, d.window, d.f, 2, q);
    worst = std::max(worst, std::fabs(loess_fit(d, q, work.data()) - static_cast<double>(want)));
  }
  EXPECT_LT(worst, 1e-12);
}

TEST(LoessRobustness, SixMediansBisquareAndTheFloor) {
  std::vector<double> res = {1, -2, 3, 4, 100}, rw(5), work(5);
  loess_robustness(res.data(), 5, rw.data(), work.data());
  const double c = 18;  // six times the median, 3
  EXPECT_EQ(rw[0], (1 - (1 / c) * (1 / c)) * (1 - (1 / c) * (1 / c)));
  EXPECT_EQ(rw[4], 0.0);
  // Even count: three times the two middle ones.
  std::vector<double> even = {1, 2, 3, 14}, rw4(4), work4(4);
  loess_robustness(even.data(), 4, rw4.data(), work4.data());
  EXPECT_EQ(rw4[3], (1 - (14.0 / 15) * (14.0 / 15)) * (1 - (14.0 / 15) * (14.0 / 15)));
  // A scale below the smallest normal double, or NaN: all 1.
  std::vector<double> flat = {0, 0, 0, 1, 5};
  loess_robustness(flat.data(), 5, rw.data(), work.data());
  for (double v : rw) EXPECT_EQ(v, 1.0);
  std::vector<double> nan = {NAN, NAN, NAN, 1, 2};
  loess_robustness(nan.data(), 5, rw.data(), work.data());
  for (double v : rw) EXPECT_EQ(v, 1.0);
}

TEST(LoessFits, ThreadCountsGiveTheSameBits) {
  const sample s = noisy_sine(3000, 4, 7);
  std::vector<double> x = s.x;
  std::sort(x.begin(), x.end());
  loess_data d;
  d.x = x.data();
  d.y = s.y.data();
  d.n = 3000;
  d.f = 0.3;
  d.window = loess_window(3000, 0.3);
  std::vector<double> one(3000), three(3000);
  for (int threads : {1, 3}) {
    fit_settings settings;
    settings.threads = threads;
    std::string err;
    quiet_call(
        [&] { loess_fits(d, x.data(), 3000, &settings, threads == 1 ? one.data() : three.data()); },
        &err);
  }
  EXPECT_EQ(bits(one), bits(three));
}

}  // namespace
