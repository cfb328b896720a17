// The smoothing model, the local fit and the robustness iterations.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "fits.h"
#include "numeric/int32.h"
#include "smoother/model.h"
#include "smoother/stages/robust.h"
#include "unit_support.h"

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan_value = std::numeric_limits<double>::quiet_NaN();

std::vector<double> range(int n) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), 0.0);
  return v;
}

TEST(WindowRule, ConvertsTowardZeroSaturatesAndStaysWithinDegreeAndCount) {
  EXPECT_EQ(to_int32(2.9), 2);
  EXPECT_EQ(to_int32(-2.9), -2);
  EXPECT_EQ(to_int32(nan_value), 0);
  EXPECT_EQ(to_int32(inf), INT_MAX);
  EXPECT_EQ(to_int32(-1e300), INT_MIN);
  EXPECT_EQ(to_int32(2147483647.5), INT_MAX);
  EXPECT_EQ(to_int32(-2147483648.5), INT_MIN);
  EXPECT_EQ(window_size(10, 0.2, 2), 3);  // floor(2.0) is below degree + 1
  EXPECT_EQ(window_size(10, 0.5, 2), 5);
  EXPECT_EQ(window_size(10, -4.0, 0), 1);
  EXPECT_EQ(window_size(2, 0.2, 2), 2);
  EXPECT_EQ(window_size(10, 1e300, 2), 10);  // saturates instead of wrapping
  EXPECT_EQ(window_size(10, inf, 2), 10);
  EXPECT_EQ(window_size(10, nan_value, 1), 2);
  EXPECT_EQ(window_size(INT_MAX, 1.0, 2), INT_MAX);
}

TEST(FindWindowStart, EndsAtTheNearestPointsWithoutMovingOnTies) {
  const auto xs = range(10);
  EXPECT_EQ(find_window_start(-5.0, 3, 10, xs.data()), 0);
  EXPECT_EQ(find_window_start(100.0, 3, 10, xs.data()), 7);
  EXPECT_EQ(find_window_start(4.0, 3, 10, xs.data()), 3);
  EXPECT_EQ(find_window_start(4.5, 3, 10, xs.data()), 3);  // 3 and 6 equally far: stays
  EXPECT_EQ(find_window_start(100.0, 10, 10, xs.data()), 0);
  // Integer abscissae with repeats and half-integer queries keep distances exact.
  lcg r(21);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 1 + r.below(40), q = 1 + r.below(n);
    std::vector<double> x(n);
    for (int i = 1; i < n; ++i) x[i] = x[i - 1] + r.below(4);
    const double xq = 0.5 * (r.below(2 * static_cast<int>(x.back()) + 12) - 6);
    const int s = find_window_start(xq, q, n, x.data());
    ASSERT_TRUE(s >= 0 && s + q <= n);
    EXPECT_TRUE(s + q == n || xq - x[s] <= x[s + q] - xq) << trial;
    EXPECT_TRUE(s == 0 || x[s + q - 1] - xq <= xq - x[s - 1]) << trial;
  }
}

// Runs of tied abscissae found by strides, against a point-by-point walk:
// runs of every length up to past a doubling, at either end of the data,
// and -0 tied with +0.
TEST(TieReach, FindsTheRunAPointByPointWalkFinds) {
  lcg r(17);
  for (int trial = 0; trial < 400; ++trial) {
    const int n = 1 + r.below(70);
    std::vector<double> x(n);
    for (int i = 1; i < n; ++i) x[i] = x[i - 1] + (r.below(trial % 7 + 2) == 0 ? 1.0 : 0.0);
    for (int i = 0; i < n; ++i)
      if (x[i] == 0.0 && r.below(2) == 0) x[i] = -0.0;
    for (int i = 0; i < n; ++i) {
      int up = i, down = i;
      while (up < n && x[up] == x[i]) ++up;
      while (down >= 0 && x[down] == x[i]) --down;
      ASSERT_EQ(tie_reach(x.data(), i, 1, n - i), up - i) << trial << " " << i;
      ASSERT_EQ(tie_reach(x.data(), i, -1, i + 1), i - down) << trial << " " << i;
      const int span = 1 + r.below(n - i);
      ASSERT_EQ(tie_reach(x.data(), i, 1, span), std::min(up - i, span));
    }
    int runs = 1;
    for (int i = 1; i < n; ++i) runs += x[i] != x[i - 1];
    for (int most = 1; most <= 4; ++most)
      EXPECT_EQ(distinct_abscissae(x.data(), n, most), std::min(runs, most)) << trial;
  }
}

// The search from a hint ends where the walk from the first point ends,
// ties of equal distances included (there the walk itself decides), from
// any hint, on data with runs of equal abscissae and evenly spaced ones.
TEST(FindWindowStart, FromAnyHintItEndsWhereTheWalkEnds) {
  lcg r(61);
  for (int trial = 0; trial < 3000; ++trial) {
    const std::int32_t n = 1 + r.below(120);
    std::vector<double> x(n);
    const int kind = r.below(3);
    for (std::int32_t i = 0; i < n; ++i)
      x[i] = kind == 0 ? r.below(n / 3 + 1) : (kind == 1 ? 0.1 * i : r.unit() * 10.0);
    std::sort(x.begin(), x.end());
    const std::int32_t q = 1 + r.below(n);
    for (int k = 0; k < 20; ++k) {
      double xq = x[r.below(n)];
      if (k % 3 == 1) xq = 0.5 * (xq + x[r.below(n)]);
      if (k % 5 == 4) xq = x[0] - 1.0 + r.unit() * (x[n - 1] - x[0] + 2.0);
      const std::int32_t hint = r.below(n + 10) - 5;
      EXPECT_EQ(find_window_start_near(xq, q, n, x.data(), hint),
                find_window_start(xq, q, n, x.data()))
          << "n " << n << " q " << q << " xq " << xq << " hint " << hint;
    }
  }
}

TEST(BuildModel, SortsStablySoOrdinatesTravelWithTheirAbscissae) {
  lcg r(22);
  const int n = 57;
  std::vector<double> x(n), y = range(n);
  for (double& v : x) v = r.below(6);
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return x[a] < x[b]; });
  const auto o = standin::within_call([&] {
    const smooth_model* m = build_model(n, x.data(), y.data(), 0.3, 1);
    ASSERT_EQ(m->count, n);
    EXPECT_EQ(m->window, 17);
    EXPECT_EQ(m->weights, nullptr);
    for (int i = 0; i < n; ++i) EXPECT_EQ(m->x[i], x[order[i]]);
    for (int i = 0; i < n; ++i) EXPECT_EQ(m->y[i], order[i]) << i;
  });
  EXPECT_EQ(o.blocks_left, 3u);  // record, x, y: the sort's scratch is gone
}

// A fresh model evaluated at each query; `rw` (if any) become its
// robustness weights. Diagnostics are compared through *err.
std::vector<double> fit_all(std::vector<double> x, std::vector<double> y, double f, int degree,
                            const std::vector<double>& queries, std::string* err,
                            std::vector<double> rw = {}) {
  std::vector<double> out;
  const auto o = quiet_call(
      [&] {
        smooth_model* m = build_model(static_cast<int>(x.size()), x.data(), y.data(), f, degree);
        if (!rw.empty()) m->weights = rw.data();
        for (double q : queries) out.push_back(fit_one(m, q));
      },
      err);
  EXPECT_EQ(o.blocks_left, 3u);
  return out;
}

TEST(FitAt, ThreePointWindowsForAQuadraticAllFail) {
  // Window 3 leaves at most two weighted points for three coefficients.
  // Rounding leaves the last window a tiny pivot, but the rank test sees
  // through it: every fit fails, each with one line.
  std::vector<double> y;
  for (double x : range(10)) y.push_back(std::sin(x));
  std::string err, ten;
  const auto v = fit_all(range(10), y, 0.2, 2, range(10), &err);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(v[i], FIT_FAILED) << i;
  for (int i = 0; i < 10; ++i) ten += "Error: Singular matrix inversion attempted.\n";
  EXPECT_EQ(err, ten);
}

TEST(FitAt, WindowsWithTooFewDistinctWeightedAbscissaeFailWhateverTheRowOrder) {
  // 33 points at three abscissae; a local line at the middle one gives the
  // outer two weight 0, leaving one distinct abscissa for two coefficients.
  lcg r(5);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<double> x, y;
    for (int i = 0; i < 33; ++i) {
      x.push_back(3.0 + 0.1 * r.below(3));
      y.push_back(r.unit());
    }
    std::string err;
    EXPECT_EQ(fit_all(x, y, 1.0, 1, {3.1}, &err)[0], FIT_FAILED) << trial;
    EXPECT_EQ(err, "Error: Singular matrix inversion attempted.\n");
  }
  // Enough distinct weighted abscissae: the same tied data fit with degree 0.
  std::string err;
  const auto v = fit_all({3.0, 3.1, 3.1, 3.2}, {0, 1, 3, 0}, 1.0, 0, {3.1}, &err);
  EXPECT_EQ(v[0], 2.0);
  EXPECT_EQ(err, "");
}

TEST(BuildModel, LeavesOutNaNAbscissaeAndKeepsTheOthersAsGiven) {
  const double nan_x = nan_value;
  std::string err;
  quiet_call(
      [&] {
        const std::vector<double> x = {738000.5, nan_x, 738000.25, 738001.0}, y = {1, 2, 3, 4};
        smooth_model* m = build_model(4, x.data(), y.data(), 0.5, 1);
        ASSERT_EQ(m->count, 3);
        EXPECT_EQ(m->x[0], 738000.25);
        EXPECT_EQ(m->x[1], 738000.5);
        EXPECT_EQ(m->x[2], 738001.0);
        EXPECT_EQ(m->y[0], 3.0);
        const std::vector<double> none = {nan_x, nan_x};
        smooth_model* e = build_model(2, none.data(), y.data(), 0.5, 1);
        EXPECT_EQ(e->count, 0);
        double out[2];
        fit_settings settings;
        const double q[2] = {1.0, 2.0};
        fit_many(e, q, 2, out, &settings);
        EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]));
      },
      &err);
  EXPECT_EQ(err, "");
}

// Each local fit works in its query's own coordinate (x - xq) / h, so data
// and queries moved by an offset that leaves every difference exact give
// the same bits, at every degree; with raw powers of x the far copy would
// lose most of its digits.
TEST(FitAt, DataFarFromZeroFitAsTheSameDataNearIt) {
  lcg r(17);
  std::vector<double> x(300), y(300), q(120);
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = r.below(640) / 64.0;  // multiples of 1/64 in [0, 10), ties included
    y[i] = std::sin(x[i]) + (r.below(1000) - 500) / 2000.0;
  }
  for (std::size_t i = 0; i < q.size(); ++i) q[i] = -1.0 + r.below(768) / 64.0;
  for (const double offset : {1048576.0, -1073741824.0}) {
    std::vector<double> xf(x), qf(q);
    for (double& v : xf) v += offset;
    for (double& v : qf) v += offset;
    for (int degree = 0; degree <= 6; ++degree) {
      std::string err_near, err_far;
      const auto near = fit_all(x, y, 0.1, degree, q, &err_near);
      const auto far = fit_all(xf, y, 0.1, degree, qf, &err_far);
      for (std::size_t i = 0; i < q.size(); ++i)
        EXPECT_EQ(bits(near[i]), bits(far[i])) << offset << " " << degree << " " << i;
      EXPECT_EQ(err_near, err_far);
    }
  }
}

TEST(FitAt, OnePointWindowsAndWindowsSittingOnTheQueryAlwaysFail) {
  std::string err;
  for (double v : fit_all({3}, {1}, 0.5, 0, {3.0, 2.0, 4.0}, &err)) EXPECT_EQ(v, FIT_FAILED);
  for (double v : fit_all(range(5), range(5), 0.2, 0, {0, 1.5, 4, 7}, &err)) {
    EXPECT_EQ(v, FIT_FAILED);
  }
  EXPECT_EQ(fit_all({2, 2, 2, 7, 8, 9}, range(6), 0.5, 1, {2.0}, &err)[0], FIT_FAILED);
}

TEST(FitAt, PointAtTheQueryWeighsOneTimesItsRobustnessWeight) {
  // f = 1: the window is every point; h = 3 reaches x = 4 (weight 0), and
  // the points at distance 1 get the tricube (1 - (1/3)^3)^3.
  const std::vector<double> x = {0, 1, 2, 4}, y = {0.3, 1.7, -2.1, 9.0}, rw = {1, 0.5, 2, 1};
  const double t = 1.0 / 3.0, u = 1.0 - t * t * t, side = u * u * u;
  std::string err;
  for (bool robust : {false, true}) {
    const double w[4] = {side, robust ? rw[1] : 1.0, side * (robust ? rw[2] : 1.0), 0.0};
    double s = 0.0, sy = 0.0;
    for (int i = 0; i < 4; ++i) s += w[i];
    for (int i = 0; i < 4; ++i) sy += w[i] * y[i];
    const auto v = fit_all(x, y, 1.0, 0, {1.0}, &err, robust ? rw : std::vector<double>{});
    EXPECT_EQ(bits(v[0]), bits((1.0 / s) * sy)) << robust;
  }
}

TEST(Robustify, GivesUpAndLeavesTheModelAsBuiltWhenEveryWeightVanishes) {
  // All-zero ordinates: every residual, the median and the cut are 0.
  // A single point: its fit fails, so no residual counts at all.
  const std::vector<std::vector<double>> xs = {{4, 1, 3, 0, 2, 9, 5, 8, 6, 7}, {2.5}};
  for (const auto& x : xs) {
    const std::vector<double> y(x.size(), 0.0);
    std::string err;
    const auto o = quiet_call(
        [&] {
          smooth_model* m = build_model(static_cast<int>(x.size()), x.data(), y.data(), 0.5, 1);
          unsigned char before[sizeof(smooth_model)];
          std::memcpy(before, m, sizeof before);
          const std::vector<double> bx(m->x, m->x + m->count), by(m->y, m->y + m->count);
          fit_settings settings;
          const robust_report report = robustify(m, &settings);
          EXPECT_EQ(report.outcome, robust_outcome::abandoned);
          EXPECT_FALSE(report.replaced);
          EXPECT_EQ(std::memcmp(before, m, sizeof before), 0);
          EXPECT_EQ(bits(bx), bits(std::vector<double>(m->x, m->x + m->count)));
          EXPECT_EQ(bits(by), bits(std::vector<double>(m->y, m->y + m->count)));
        },
        &err);
    EXPECT_EQ(o.blocks_left, 3u) << x.size();  // the working copy is gone
  }
}

TEST(Robustify, PrunesAnOutlierAndRecomputesTheWindow) {
  lcg r(23);
  std::vector<double> x = range(20), y;
  for (double xi : x) y.push_back(std::sin(xi / 3.0) + 0.2 * r.unit());
  y[10] += 5.0;
  const auto o = standin::within_call([&] {
    smooth_model* m = build_model(20, x.data(), y.data(), 0.5, 1);
    fit_settings settings;
    ASSERT_TRUE(robustify(m, &settings).replaced);
    EXPECT_EQ(m->count, 19);
    EXPECT_EQ(m->window, window_size(19, 0.5, 1));
    ASSERT_NE(m->weights, nullptr);
    for (int i = 0; i < m->count; ++i) {
      EXPECT_NE(m->x[i], 10.0);
      EXPECT_EQ(m->y[i], y[static_cast<int>(m->x[i])]) << i;
      EXPECT_GT(m->weights[i], 0.0) << i;
    }
  });
  EXPECT_EQ(o.blocks_left, 4u);  // record, x, y, weights
  EXPECT_TRUE(o.faults.empty());
}

// The passes of a robust smooth of (x, y), with their report and the
// smooth evaluated at every x before and after.
struct robust_run {
  int count = 0;
  std::vector<double> plain, robust, model_weights;
  robust_report report;
  std::vector<double> weights;  // the report's, in model order
  bool replaced = false;
};

robust_run run_robust(const std::vector<double>& x, const std::vector<double>& y, double f,
                      int degree) {
  robust_run run;
  run.weights.assign(x.size(), -1.0);
  std::string err;
  quiet_call(
      [&] {
        smooth_model* m = build_model(static_cast<int>(x.size()), x.data(), y.data(), f, degree);
        for (double xi : x) run.plain.push_back(fit_one(m, xi));
        fit_settings settings;
        run.report = robustify(m, &settings, ROBUST_MAX_PASSES, run.weights.data());
        run.replaced = run.report.replaced;
        run.count = m->count;
        if (m->weights != nullptr) run.model_weights.assign(m->weights, m->weights + m->count);
        for (double xi : x) run.robust.push_back(fit_one(m, xi));
      },
      &err);
  run.report.weights = nullptr;
  return run;
}

TEST(Robustify, ExactParabolaStopsAtTheFloorAndThePlainSmoothStands) {
  // The first pass's scale is rounding noise, far below 1e-7 of mean |y|.
  std::vector<double> x = range(10), y;
  for (double xi : x) y.push_back(xi * xi - 3.0 * xi);
  const robust_run run = run_robust(x, y, 0.5, 2);
  EXPECT_FALSE(run.replaced);
  EXPECT_EQ(run.count, 10);
  EXPECT_EQ(bits(run.robust), bits(run.plain));
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(run.plain[i], y[i], 1e-9) << i;
  EXPECT_EQ(run.report.outcome, robust_outcome::exact);
  EXPECT_EQ(run.report.passes, 1);
  EXPECT_LT(run.report.scale, 1e-7 * 15.8);
  EXPECT_EQ(run.weights, std::vector<double>(10, 1.0));
}

TEST(Robustify, LineWithGrossOutliersStopsOnThePassThatPrunedThem) {
  // Pass 1 prunes the outliers; pass 2 fits the rest up to rounding, falls
  // below the floor and leaves pass 1's points and weights in place.
  std::vector<double> x = range(20), y;
  for (double xi : x) y.push_back(2.0 * xi + 1.0);
  y[3] += 30.0;
  y[10] -= 25.0;
  y[16] += 40.0;
  const robust_run run = run_robust(x, y, 0.8, 1);
  ASSERT_TRUE(run.replaced);
  EXPECT_EQ(run.report.outcome, robust_outcome::exact);
  EXPECT_EQ(run.report.passes, 2);
  EXPECT_EQ(run.count, 17);
  for (int i = 0; i < 20; ++i) EXPECT_NEAR(run.robust[i], 2.0 * i + 1.0, 1e-9) << i;
  double sum = 0.0;
  for (double c : run.weights) sum += c;
  for (int i = 0, slot = 0; i < 20; ++i) {
    if (i == 3 || i == 10 || i == 16) {
      EXPECT_EQ(run.weights[i], 0.0) << i;
      continue;
    }
    EXPECT_GT(run.weights[i], 0.0) << i;
    EXPECT_LE(run.weights[i], 1.0) << i;
    // The model's weights are the reported ones of the same pass, averaging 1.
    EXPECT_EQ(run.model_weights.at(slot++), (20.0 * run.weights[i]) / sum) << i;
  }
}

TEST(Robustify, ReportsConvergedExhaustedAndAbandonedPasses) {
  lcg r(23);
  std::vector<double> x = range(20), y;
  for (double xi : x) y.push_back(std::sin(xi / 3.0) + 0.2 * r.unit());
  y[10] += 5.0;
  const robust_run settled = run_robust(x, y, 0.5, 1);
  EXPECT_EQ(settled.report.outcome, robust_outcome::converged);
  EXPECT_GT(settled.report.passes, 1);
  EXPECT_LT(settled.report.passes, 100);
  EXPECT_GT(settled.report.scale, 0.0);
  EXPECT_EQ(settled.weights[10], 0.0);

  // Noise that keeps the weights moving: the pass limit ends the loop.
  lcg q(32);
  std::vector<double> xe = range(14), ye;
  for (double xi : xe) ye.push_back(std::sin(xi / 3.0) + 0.6 * (q.unit() - 0.5));
  const robust_run moving = run_robust(xe, ye, 0.5, 2);
  EXPECT_TRUE(moving.replaced);
  EXPECT_EQ(moving.report.outcome, robust_outcome::exhausted);
  EXPECT_EQ(moving.report.passes, 100);
  for (double c : moving.weights) EXPECT_TRUE(c >= 0.0 && c <= 1.0) << c;

  // All-zero ordinates: mean |y| is 0, so the floor does not apply, and
  // every weight is 0.
  const robust_run zeros = run_robust(x, std::vector<double>(20, 0.0), 0.5, 1);
  EXPECT_FALSE(zeros.replaced);
  EXPECT_EQ(zeros.report.outcome, robust_outcome::abandoned);
  EXPECT_EQ(zeros.report.passes, 1);
  EXPECT_EQ(zeros.report.scale, 0.0);
  EXPECT_EQ(zeros.weights, std::vector<double>(20, 1.0));
}

TEST(Robustify, NaNOrdinatesKeepTheFloorFromApplying) {
  // Clean data but for one NaN: mean |y| is NaN and no scale falls below it.
  std::vector<double> x = range(20), y;
  for (double xi : x) y.push_back(2.0 * xi + 1.0);
  y[4] = nan_value;
  const robust_run run = run_robust(x, y, 0.5, 1);
  EXPECT_NE(run.report.outcome, robust_outcome::exact);
  EXPECT_GE(run.report.passes, 1);
}

}  // namespace
