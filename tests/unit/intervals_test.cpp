// Bands and the automatic span through the stand-in host: Student's
// quantile against table values, the band's fields the same bits on every
// thread count and lane width (also under the thread checker), what a call
// leaves in storage, and the span search's own rules.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "smoother/stages/band.h"
#include "smoother/stages/intervals.h"
#include "smoother/stages/span.h"
#include "unit_support.h"

namespace {

const mxArray* field(const call_result& r, const char* name) {
  return r.info != nullptr ? standin::field(r.info.get(), name) : nullptr;
}

call_result banded(const sample& d, double robust, const char* kind, int threads) {
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  return run_call(
      {standin::make_column(d.x), standin::make_column(d.y), standin::make_scalar(0.3),
       standin::make_scalar(robust), standin::make_scalar(2), standin::make_char("Intervals"),
       standin::make_char(kind), standin::make_char("Threads"), standin::make_scalar(threads)},
      2);
}

}  // namespace

TEST(Intervals, StudentQuantileFromTheHostsInverseBeta) {
  double t[5] = {};
  std::string err;
  quiet_call(
      [&] {
        t[0] = t_quantile(0.95, 10.0);
        t[1] = t_quantile(0.99, 3.0);
        t[2] = t_quantile(0.95, 1e9);
        t[3] = t_quantile(0.95, 0.0);
        t[4] = t_quantile(1.0, 10.0);
      },
      &err);
  EXPECT_NEAR(t[0], 2.2281388519862744, 1e-13);
  EXPECT_NEAR(t[1], 5.840909309733355, 1e-12);
  // z + (z^3 + z) / (4 dof), exact to O(dof^-2) for a large dof.
  const double z = 1.959963984540054;
  EXPECT_NEAR(t[2], z + (z * z * z + z) / 4e9, 1e-13);
  EXPECT_TRUE(std::isnan(t[3]) && std::isnan(t[4]));
}

TEST(Intervals, AResidualWithoutVarianceStandardisesToZero) {
  // Not the NaN that would leave the robust scale's median undefined.
  EXPECT_EQ(standardised_residual(1e-17, 1.0, 1.0, 1.0), 0.0);
  EXPECT_EQ(standardised_residual(-3.0, 4.0, 0.25, 0.125), 6.0);
}

TEST(Intervals, EveryThreadCountAndWidthGivesTheSameBand) {
  const sample d = noisy_sine(700, 31, 40);
  for (const double robust : {0.0, 1.0}) {
    const call_result base = banded(d, robust, "prediction", 1);
    ASSERT_TRUE(base.o.ok) << base.o.error;
    const mxArray* se = field(base, "se");
    ASSERT_NE(se, nullptr);
    for (const char* lanes : {"2", "4", "8"}) {
      const scoped_env width("QUIBRA_LANES", lanes);
      for (int threads : {1, 2, 3}) {
        const call_result r = banded(d, robust, "prediction", threads);
        EXPECT_EQ(bits(r.v), bits(base.v));
        for (const char* name : {"se", "lower", "upper", "sigma", "enp", "dof"})
          EXPECT_EQ(bits(field(r, name)->real), bits(field(base, name)->real)) << name;
      }
    }
  }
}

TEST(Intervals, BandsAndSpanSearchLeaveOnlyTheModel) {
  const sample d = noisy_sine(300, 7);
  const call_result b = banded(d, 0, "confidence", 2);
  EXPECT_TRUE(b.o.ok);
  EXPECT_EQ(b.o.blocks_left, 3u);  // the model's record, x and y
  const call_result s = run_call({standin::make_column(d.x), standin::make_column(d.y),
                                  standin::make_char("Span"), standin::make_char("gcv")},
                                 1);
  EXPECT_TRUE(s.o.ok);
  EXPECT_EQ(s.o.blocks_left, 3u);
  EXPECT_TRUE(s.err.empty()) << "the search writes no lines: " << s.err;
}

TEST(SpanSearch, WindowsMapToSpansAndCriteriaRejectWhatCannotWin) {
  smooth_model m{};
  m.count = 49;
  m.degree = 2;
  for (std::int32_t q = 1; q <= 49; ++q) {
    const double f = span_for_window(&m, q);
    EXPECT_EQ(window_size(49, f, 2), q < 3 ? 3 : q) << q;
  }
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(span_criterion(span_rule::aicc, 10, 1.0, 8.0), inf);
  EXPECT_EQ(span_criterion(span_rule::gcv, 10, 1.0, 10.0), inf);
  EXPECT_DOUBLE_EQ(span_criterion(span_rule::gcv, 10, 2.0, 5.0), 10.0 * 2.0 / 25.0);
  EXPECT_DOUBLE_EQ(span_criterion(span_rule::aicc, 10, 10.0, 2.0), 1.0 + 6.0 / 6.0);
}
