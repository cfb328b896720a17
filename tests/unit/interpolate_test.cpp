// Spaced fits with linear interpolation between them (settings.delta).
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "fits.h"
#include "smoother/model.h"
#include "smoother/fits/queries.h"
#include "unit_support.h"

namespace {

const double nan_value = std::numeric_limits<double>::quiet_NaN();

using data = sample;
data noisy(int n, std::uint64_t seed) { return noisy_sine(n, seed); }

// Runs `fit` on a model of `d` and returns the values, its lines and trouble counts.
struct run {
  std::vector<double> v;
  std::string err;
  std::int64_t singular = 0;
};

template <typename Fit>
run on_model(const data& d, double f, int degree, const std::vector<double>& q, double delta,
             Fit fit) {
  run r;
  r.v.assign(q.size(), 0.0);
  quiet_call(
      [&] {
        smooth_model* m =
            build_model(static_cast<int>(d.x.size()), d.x.data(), d.y.data(), f, degree);
        fit_settings settings;
        settings.delta = delta;
        fit(m, q.data(), static_cast<int>(q.size()), r.v.data(), &settings);
        r.singular = settings.singular;
      },
      &r.err);
  return r;
}

TEST(Interpolate, FitsAtTheLastQueryWithinDeltaAndDrawsLinesBetween) {
  const data d = noisy(60, 5);
  // With delta 2.5 the fits fall at 0, 2, 4, 7 and 9; 1 and 1 lie between
  // 0 and 2, 3.5 between 2 and 4, 7.2 between 7 and 9; 7 is tied.
  const std::vector<double> q = {0, 1, 1, 2, 3.5, 4, 7, 7, 7.2, 9};
  const std::vector<double> at = {0, 2, 4, 7, 9};
  const run exact = on_model(d, 0.3, 1, at, 0.0, fit_many);
  const run spaced = on_model(d, 0.3, 1, q, 2.5, fit_ascending);
  const std::vector<int> fitted = {0, 3, 5, 6, 7, 9};
  const std::vector<int> which = {0, 1, 2, 3, 3, 4};  // the fit each takes
  for (std::size_t k = 0; k < fitted.size(); ++k)
    EXPECT_EQ(bits(spaced.v[fitted[k]]), bits(exact.v[which[k]])) << k;
  auto line = [&](int a, int b, double x) {
    return exact.v[a] + (exact.v[b] - exact.v[a]) * (x - at[a]) / (at[b] - at[a]);
  };
  EXPECT_NEAR(spaced.v[1], line(0, 1, 1.0), 1e-14);
  EXPECT_EQ(bits(spaced.v[1]), bits(spaced.v[2]));
  EXPECT_NEAR(spaced.v[4], line(1, 2, 3.5), 1e-14);
  EXPECT_NEAR(spaced.v[8], line(3, 4, 7.2), 1e-14);
  // A delta beyond the range fits the first and the last query only.
  const run wide = on_model(d, 0.3, 1, q, 100.0, fit_ascending);
  EXPECT_EQ(bits(wide.v[0]), bits(exact.v[0]));
  EXPECT_EQ(bits(wide.v[9]), bits(exact.v[4]));
  EXPECT_NEAR(wide.v[5], exact.v[0] + (exact.v[4] - exact.v[0]) * 4.0 / 9.0, 1e-14);
}

TEST(Interpolate, OnlyRealFitsReportAndFailuresSpreadToTheirNeighbours) {
  // Windows of 3 points for local quadratics: fits at the data fail.
  std::vector<double> x;
  for (int i = 0; i < 10; ++i) x.push_back(i);
  const data d{x, {0, 1, 4, 9, 16, 25, 36, 49, 64, 81}};
  const std::vector<double> q = {0, 0.5, 1, 1.5, 2, 2.5, 3, 9};
  const run exact = on_model(d, 0.2, 2, q, 0.0, fit_many);
  const run spaced = on_model(d, 0.2, 2, q, 1.0, fit_ascending);  // fits at 0, 1, 2, 3, 9
  ASSERT_EQ(exact.v[0], FIT_FAILED);
  std::int64_t failed = 0;
  for (int k : {0, 2, 4, 6, 7}) {
    EXPECT_EQ(bits(spaced.v[k]), bits(exact.v[k])) << k;
    failed += exact.v[k] == FIT_FAILED;
  }
  EXPECT_EQ(spaced.singular, failed);
  std::string lines;
  for (std::int64_t i = 0; i < failed; ++i)
    lines += "Error: Singular matrix inversion attempted.\n";
  EXPECT_EQ(spaced.err, lines);
  for (int k : {1, 3, 5})  // between a failed fit and another
    EXPECT_EQ(spaced.v[k], (spaced.v[k - 1] == FIT_FAILED || spaced.v[k + 1] == FIT_FAILED)
                               ? FIT_FAILED
                               : spaced.v[k]);
  EXPECT_EQ(spaced.v[1], FIT_FAILED);
}

void any_order(const smooth_model* m, const double* xq, std::int32_t n, double* out,
               fit_settings* settings) {
  fit_outputs o;
  o.value = out;
  fit_queries(m, query_set{xq, n}, o, settings);
}

TEST(Interpolate, QueriesInAnyOrderAreTakenAscendingAndNaNIsLeftOut) {
  const data d = noisy(80, 9);
  const data q = noisy(50, 10);
  std::vector<double> unsorted = q.x;
  unsorted[7] = nan_value;
  unsorted[20] = unsorted[3];  // a tie across the input
  std::vector<double> sorted;
  for (double v : unsorted)
    if (!std::isnan(v)) sorted.push_back(v);
  std::stable_sort(sorted.begin(), sorted.end());
  const run a = on_model(d, 0.25, 2, sorted, 0.7, fit_ascending);
  const run b = on_model(d, 0.25, 2, unsorted, 0.7, any_order);
  EXPECT_TRUE(std::isnan(b.v[7]));
  EXPECT_EQ(bits(b.v[20]), bits(b.v[3]));
  for (std::size_t i = 0; i < unsorted.size(); ++i) {
    if (i == 7) continue;
    const auto k = std::lower_bound(sorted.begin(), sorted.end(), unsorted[i]) - sorted.begin();
    EXPECT_EQ(bits(b.v[i]), bits(a.v[k])) << i;
  }
  // Delta 0 is the plain run of fits.
  const run plain = on_model(d, 0.25, 2, unsorted, 0.0, any_order);
  const run many = on_model(d, 0.25, 2, unsorted, 0.0, fit_many);
  EXPECT_EQ(bits(plain.v), bits(many.v));
}

TEST(Interpolate, ADeltaBelowEverySpacingFitsEveryPointAsDeltaZeroDoes) {
  // Through the whole call, robust passes included: each point is the next
  // one's only candidate, so every point is fitted.
  const data d = noisy(40, 12);
  std::vector<double> sx = d.x;
  std::stable_sort(sx.begin(), sx.end());
  double gap = 1.0;
  for (std::size_t i = 1; i < sx.size(); ++i) gap = std::min(gap, sx[i] - sx[i - 1]);
  for (double robust : {0.0, 1.0}) {
    std::vector<std::unique_ptr<mxArray>> in;
    in.emplace_back(standin::make_column(d.x));
    in.emplace_back(standin::make_column(d.y));
    in.emplace_back(standin::make_scalar(0.3));
    in.emplace_back(standin::make_scalar(robust));
    in.emplace_back(standin::make_scalar(1));
    std::vector<const mxArray*> args;
    for (auto& a : in) args.push_back(a.get());
    const standin::outcome exact = standin::call(1, args);
    in.emplace_back(standin::make_char("Delta"));
    in.emplace_back(standin::make_scalar(gap / 2));
    args.push_back(in[5].get());
    args.push_back(in[6].get());
    const standin::outcome spaced = standin::call(1, args);
    ASSERT_TRUE(exact.ok && spaced.ok);
    EXPECT_EQ(bits(spaced.result->real), bits(exact.result->real)) << robust;
    delete exact.result;
    delete spaced.result;
  }
}

}  // namespace

namespace {

TEST(Interpolate, XAsTheDataTakesTheModelsOrderWithTheSameBitsAsSortingIt) {
  // Without nodes X is the data, and its order comes from the model's sort;
  // the nodes form with the same points sorts X itself.
  sample d = noisy_sine(60, 14, 9);
  d.x[4] = std::numeric_limits<double>::quiet_NaN();
  d.x[30] = d.x[31];  // a tie
  for (double robust : {0.0, 1.0}) {
    const auto own =
        run_call({standin::make_column(d.x), standin::make_column(d.y), standin::make_scalar(0.4),
                  standin::make_scalar(robust), standin::make_scalar(1),
                  standin::make_char("Delta"), standin::make_scalar(0.3)});
    const auto nodes = run_call(
        {standin::make_column(d.x), standin::make_column(d.y), standin::make_scalar(0.4),
         standin::make_scalar(robust), standin::make_scalar(1), standin::make_column(d.x),
         standin::make_column(d.y), standin::make_char("Delta"), standin::make_scalar(0.3)});
    ASSERT_TRUE(own.o.ok && nodes.o.ok);
    EXPECT_EQ(bits(own.v), bits(nodes.v)) << robust;
    EXPECT_EQ(own.err, nodes.err);
    EXPECT_TRUE(std::isnan(own.v[4]));
    EXPECT_EQ(own.o.blocks_left, nodes.o.blocks_left);  // the order was released
  }
}

}  // namespace
