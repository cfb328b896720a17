// The fast sums' parts: power moments moved between coordinates, the
// tricube weight as a polynomial, and the moment tree's sums over runs of
// points against the same sums made point by point in long double.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fits.h"
#include "numeric/moments.h"
#include "smoother/moments/fast_sums.h"
#include "smoother/kernel/fit_scratch.h"
#include "smoother/moments/moment_tree.h"
#include "smoother/moments/range_moments.h"
#include "smoother/fits/parallel.h"
#include "unit_support.h"

namespace {

constexpr double eps = 0x1p-52;

long double evaluate(const double* coef, int top, long double c) {
  long double v = 0.0L, p = 1.0L;
  for (int k = 0; k <= top; ++k, p *= c) v += coef[k] * p;
  return v;
}

TEST(Moments, MoveMatchesTheSumsMadeInTheNewCoordinate) {
  lcg r(61);
  for (int trial = 0; trial < 300; ++trial) {
    const int top = r.below(27);  // degree 4 with the variances' T^2: 26
    const int count = 1 + r.below(40);
    const double a = 2.0 * r.unit() - 1.0;
    const double d = 2.0 * r.unit() - 1.0;
    std::vector<double> u(count), w(count), y(count, 0.0);
    for (int i = 0; i < count; ++i) {
      u[i] = 2.0 * r.unit() - 1.0;
      w[i] = r.unit();
    }
    std::vector<double> m(top + 1, 0.0), unused(top + 1, 0.0), work(top + 1), out(top + 1, 0.0);
    point_moments(u.data(), y.data(), w.data(), 0, count, 0.0, 1.0, top, -1, m.data(),
                  unused.data());
    move_moments(m.data(), top, a, d, work.data(), out.data());
    for (int p = 0; p <= top; ++p) {
      long double want = 0.0L, scale = 0.0L;
      for (int i = 0; i < count; ++i) {
        want += w[i] * std::pow(static_cast<long double>(a) * u[i] + d, p);
        scale += w[i] * std::pow(std::fabs(a * u[i]) + std::fabs(d), p);
      }
      ASSERT_NEAR(out[p], want, 4.0 * (top + 2) * eps * scale)
          << "trial " << trial << ", power " << p << " of " << top;
    }
  }
}

TEST(Moments, TricubeAndItsSquareAsPolynomialsOnBothSides) {
  lcg r(62);
  for (int trial = 0; trial < 2000; ++trial) {
    const double alpha = 0.25 + 2.0 * r.unit();
    const double beta = 2.0 * r.unit() - 1.0;
    const double sigma = r.below(2) == 0 ? -1.0 : 1.0;
    double coef[10], coef2[19];
    tricube_polynomial(alpha, beta, sigma, coef);
    square_polynomial(coef, coef2);
    // A c whose t = sigma (alpha c + beta) is in [0, 1]: the side's points.
    const long double c = (sigma * r.unit() - beta) / alpha;
    const long double t = std::fabs(sigma * (alpha * c + beta));
    const long double want = std::pow(1.0L - t * t * t, 3);
    // The coefficients' own rounding is of the terms of (1 + |t|^3)^3.
    const long double g = std::fabs(alpha * c) + std::fabs(beta);
    const long double scale = std::pow(1.0L + g * g * g, 3);
    EXPECT_NEAR(evaluate(coef, 9, c), want, 64 * eps * scale) << trial;
    EXPECT_NEAR(evaluate(coef2, 18, c), want * want, 256 * eps * scale * scale) << trial;
  }
}

// Sorted points far from zero: uniform, with tie groups of up to 60 and a
// gap, under prior weights (some 0, which leave the model).
struct tree_data {
  std::vector<double> x, y, w;
};
tree_data tie_heavy(int n, std::uint64_t seed) {
  lcg r(seed);
  tree_data d;
  while (static_cast<int>(d.x.size()) < n) {
    const double v = 1.7e9 + 1e4 * r.unit() + (r.below(2) == 0 ? 0.0 : 3e4);
    for (int run = r.below(8) == 0 ? 1 + r.below(60) : 1; run > 0; --run) {
      d.x.push_back(v);
      d.y.push_back(std::sin(v / 700.0) + r.unit());
      d.w.push_back(r.below(20) == 0 ? 0.0 : 0.1 + r.unit());
    }
  }
  return d;
}

// What range_moments gives: m, my and mv one after another, as a node's.
std::vector<double> run_moments(const moment_tree& t, std::int32_t first, std::int32_t end,
                                double z, double s, moment_span& span) {
  std::vector<double> out(t.stride, 0.0);
  // As the scratch holds them: vectors in room for doubles.
  std::vector<double> room(2 * local_fit::MOMENT_SLOTS * t.stride);
  auto* acc = reinterpret_cast<local_fit::moment_vector*>(room.data());
  double* m = out.data();
  local_fit::range_moments(t, first, end, z, s, m, m + t.top + 1, m + t.top + t.top_y + 2, acc,
                           acc + t.stride, span);
  return out;
}

// The three blocks of run [first, end) in c = (x - z) / s in long double;
// the bound is the rounding of summing |w c^k| and moving it.
void expect_run_moments(const moment_tree& t, std::int32_t first, std::int32_t end, double z,
                        double s, const std::vector<double>& got) {
  const std::int32_t tops[3] = {t.top, t.top_y, t.top_v};
  std::int32_t offset = 0;
  for (int block = 0; block < 3; ++block) {
    const std::int32_t top = tops[block];
    std::vector<long double> want(top + 1, 0.0L), scale(top + 1, 0.0L);
    for (std::int32_t i = first; i < end; ++i) {
      const long double c = (static_cast<long double>(t.x[i]) - z) / s;
      // Null weights are all 1.
      const double* w = block == 2 ? t.v : t.w;
      long double p = (w != nullptr ? w[i] : 1.0) * (block == 1 ? t.y[i] : 1.0);
      long double q = std::fabs(p);
      for (std::int32_t k = 0; k <= top; ++k, p *= c, q *= std::fabs(c) + 1.0L) {
        want[k] += p;
        scale[k] += q;
      }
    }
    for (std::int32_t k = 0; k <= top; ++k)
      ASSERT_NEAR(got[offset + k], want[k], 64 * (k + 2) * eps * scale[k])
          << "[" << first << ", " << end << ") block " << block << " power " << k;
    offset += top + 1;
  }
}

// Runs and windows of a tree from each kind of kept span: none, another
// run's (the next query's neighbour, in another coordinate), its own.
TEST(MomentTree, RunsAndWindowsMatchPointSumsWhateverTheKeptSpan) {
  const tree_data d = tie_heavy(4000, 63);
  lcg r(64);
  const fit_settings settings;
  const auto o = standin::within_call([&] {
    for (std::int32_t run = 0; run < 10; ++run) {
      // Each degree with prior weights, and without (the tree's are null).
      const std::int32_t degree = run / 2;
      const data_choice weights{run % 2 == 0 ? d.w.data() : nullptr};
      smooth_model* model = build_model(static_cast<std::int32_t>(d.x.size()), d.x.data(),
                                        d.y.data(), weights, 0.3, degree);
      moment_tree* t = build_moment_tree(model, degree, true, &settings);
      local_fit::fit_scratch s = local_fit::new_scratch(model, false, true, false);
      local_fit::attach_fast_sums(s, t);
      std::vector<double> span_room(t->stride);
      const std::int32_t n = model->count;
      const std::int32_t nc = degree + 1;
      for (int trial = 0; trial < 40; ++trial) {
        // Runs of every length, short ones (point by point) included.
        const std::int32_t len = trial % 4 == 0 ? r.below(60) : r.below(n + 1);
        const std::int32_t first = r.below(n - len + 1);
        const std::int32_t end = first + len;
        const double lo = model->x[first];
        const double hi = model->x[end > first ? end - 1 : first];
        const double z = lo + (hi - lo) * r.unit();
        const double sc = std::fmax(z - lo, hi - z) + 1.0;
        moment_span span{-1, -1, 0.0, 0.0, span_room.data()};
        const auto fresh = run_moments(*t, first, end, z, sc, span);
        expect_run_moments(*t, first, end, z, sc, fresh);
        const auto same = run_moments(*t, first, end, z, sc, span);
        const std::int32_t shift = r.below(300);
        const std::int32_t other_end = end + shift < n ? end + shift : n;
        run_moments(*t, first + shift < other_end ? first + shift : first, other_end, z + 1e3,
                    sc * 2.0, span);
        const auto after_other = run_moments(*t, first, end, z, sc, span);
        ASSERT_EQ(bits(fresh), bits(same)) << "[" << first << ", " << end << ")";
        ASSERT_EQ(bits(fresh), bits(after_other)) << "[" << first << ", " << end << ")";

        // A window of model->window points around a query inside its span,
        // fitted in the query's coordinate: z = q, sc = h.
        const std::int32_t start = r.below(n - model->window + 1);
        const double* xw = model->x + start;
        const double q = xw[0] + (xw[model->window - 1] - xw[0]) * r.unit();
        const double h = std::fmax(q - xw[0], xw[model->window - 1] - q);
        if (!(h > 0.0)) continue;
        std::vector<double> sums[3], second[3];
        double weight[2];
        const auto window = [&](int k, double qq) {
          sums[k].assign(3 * nc - 1, 0.0);
          second[k].assign(2 * nc - 1, 0.0);
          local_fit::fast_window_sums(*t, nc, start, start + model->window, qq, h, qq, h,
                                      sums[k].data(), second[k].data(), s.fast_work, s.spans, s.hints,
                                      weight);
        };
        s.spans[0].first = s.spans[0].end = s.spans[1].first = s.spans[1].end = -1;
        window(0, q);
        window(1, q + 0.25 * h);  // keeps the spans of a neighbouring query
        window(1, q);
        window(2, q);
        for (int k = 1; k < 3; ++k) {
          ASSERT_EQ(bits(sums[k]), bits(sums[0])) << "window at " << start;
          ASSERT_EQ(bits(second[k]), bits(second[0])) << "window at " << start;
        }
        // The sums' rounding is within what the fits judge it by: of the
        // weight the moments cover (times max|y|), the squares' 8 times that.
        std::vector<long double> want(3 * nc - 1, 0.0L), want2(2 * nc - 1, 0.0L);
        double y_max = 0.0;
        for (std::int32_t i = start; i < start + model->window; ++i) {
          const long double c = (static_cast<long double>(model->x[i]) - q) / h;
          const long double a = std::fabs(c);
          const long double tri = a < 1.0L ? std::pow(1.0L - a * a * a, 3) : 0.0L;
          const double w = model->weights != nullptr ? model->weights[i] : 1.0;
          long double p = 1.0L;
          for (std::int32_t j = 0; j < 2 * nc - 1; ++j, p *= c) {
            want[j] += tri * w * p;
            want2[j] += tri * tri * w * p;
            if (j < nc) want[2 * nc - 1 + j] += tri * w * model->y[i] * p;
          }
          y_max = std::fmax(y_max, std::fabs(model->y[i]));
        }
        for (std::int32_t j = 0; j < 3 * nc - 1; ++j)
          ASSERT_NEAR(sums[0][j], want[j],
                      MOMENT_ERROR * weight[0] * (j < 2 * nc - 1 ? 1.0 : y_max))
              << "degree " << degree << ", sum " << j;
        for (std::int32_t j = 0; j < 2 * nc - 1; ++j)
          ASSERT_NEAR(second[0][j], want2[j], 8.0 * MOMENT_ERROR * weight[1])
              << "degree " << degree << ", " << j;
      }
      local_fit::free_scratch(s);
      free_moment_tree(t);
      free_model(model);
    }
  });
  EXPECT_TRUE(o.faults.empty());
  EXPECT_EQ(o.blocks_left, 0u);
}

// Every kept node's coordinate and moments.
std::vector<std::uint64_t> node_bits(const moment_tree& t) {
  const std::int64_t nodes = t.level_start[31] + t.level_count[31];
  std::vector<double> all(t.z, t.z + nodes);
  all.insert(all.end(), t.s, t.s + nodes);
  all.insert(all.end(), t.moments, t.moments + nodes * t.stride);
  return bits(all);
}

// Subtrees made on other threads, and the nodes above them on the calling
// thread, must be made by the very operations one thread uses: trees whose
// last leaf and last subtree are partly empty, with and without weights
// and the variances' moments, shared even when small.
TEST(MomentTree, EveryThreadCountBuildsTheSameBits) {
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  const tree_data d = tie_heavy(40000, 65);
  const auto o = standin::within_call([&] {
    for (const std::int32_t count : {1, 40, 1000, 12345, 40000}) {
      for (std::int32_t degree = 0; degree <= 4; ++degree) {
        const data_choice weights{degree % 2 == 0 ? d.w.data() : nullptr};
        smooth_model* model = build_model(count, d.x.data(), d.y.data(), weights, 0.3, degree);
        std::vector<std::uint64_t> one;
        for (const int threads : {1, 2, 3, 5}) {
          fit_settings settings;
          settings.threads = threads;
          moment_tree* t = build_moment_tree(model, degree, degree != 1, &settings);
          if (threads == 1) {
            one = node_bits(*t);
          } else {
            ASSERT_EQ(node_bits(*t), one) << count << " points, degree " << degree << ", "
                                          << threads << " threads";
          }
          free_moment_tree(t);
        }
        free_model(model);
      }
    }
  });
  EXPECT_TRUE(o.faults.empty());
  EXPECT_EQ(o.blocks_left, 0u);
  // A small tree is not worth a thread.
  fit_settings two;
  two.threads = 2;
  const scoped_env by_default("QUIBRA_THREAD_MIN_PAIRS", "200000");
  EXPECT_EQ(plan_items(&two, 32, 1000 * 64 / 32).threads, 1);
  EXPECT_EQ(plan_items(&two, 32, 1000000 * 64 / 32).threads, 2);
}

}  // namespace
