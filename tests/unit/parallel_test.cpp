// Local fits shared among threads and lanes: the same bits and the same
// diagnostic lines, in the same order, for every thread count and lane
// width; how runs are cut up;
// and that every query is computed once, with rounds handed back in order.
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "fits.h"
#include "numeric/lanes.h"
#include "smoother/model.h"
#include "smoother/fits/parallel.h"
#include "smoother/kernel/widths.h"
#include "unit_support.h"

namespace {

struct call_result {
  std::vector<std::uint64_t> bits;
  std::string err;
};

// One call with `threads` threads, shared however small the run; with
// `weights`, given as the option Weights.
call_result call_on(int threads, const std::vector<std::vector<double>>& columns,
                    const std::vector<double>& scalars, const std::vector<double>& weights = {}) {
  const scoped_env count("QUIBRA_NUM_THREADS", std::to_string(threads));
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  std::vector<std::unique_ptr<mxArray>> owned;
  for (std::size_t k = 0; k < 2; ++k) owned.emplace_back(standin::make_column(columns[k]));
  for (double v : scalars) owned.emplace_back(standin::make_scalar(v));
  for (std::size_t k = 2; k < columns.size(); ++k)
    owned.emplace_back(standin::make_column(columns[k]));
  if (!weights.empty()) {
    owned.emplace_back(standin::make_char("Weights"));
    owned.emplace_back(standin::make_column(weights));
  }
  std::vector<const mxArray*> in;
  for (const auto& a : owned) in.push_back(a.get());
  call_result r;
  testing::internal::CaptureStderr();
  const standin::outcome o = standin::call(1, in);
  r.err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(o.ok) << o.error;
  EXPECT_TRUE(o.faults.empty()) << o.faults.front();
  if (o.result != nullptr) r.bits = bits(o.result->real);
  delete o.result;
  return r;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Threads, EveryThreadCountGivesTheSameBitsAndLinesInTheSameOrder) {
  // Runs of equal abscissae, some moved a hair below their run, and prior
  // weights of wildly different sizes: some local systems are singular,
  // some nearly so (unstable), scattered among sound ones.
  lcg r(31);
  std::vector<double> x, y, w;
  for (int i = 0; i < 600; ++i) {
    double xi = r.below(9) == 0 ? 40.0 : 1e4 + std::floor(60.0 * r.unit()) / 3.0;
    if (xi != 40.0 && r.below(5) == 0) xi -= 1e-8;
    x.push_back(xi);
    y.push_back(std::sin(xi) + 0.2 * r.unit() + (i % 41 == 0 ? 9.0 : 0.0));
    w.push_back(r.below(10) == 0 ? 1e150 : 1.0);
  }
  std::vector<double> q(x.begin(), x.begin() + 97);
  struct shared_call {
    std::vector<std::vector<double>> columns;
    std::vector<double> scalars;
    std::vector<double> weights;
  };
  const std::vector<shared_call> calls = {
      {{x, y}, {0.03, 0, 3}, {}},       // plain, cubic
      {{x, y}, {0.1, 1, 2}, w},         // robust passes
      {{x, y}, {0.02, 0, 0}, {}},       // one coefficient
      {{q, q, x, y}, {0.05, 1, 1}, w},  // nodes, an odd count of queries
  };
  std::size_t singular = 0, unstable = 0;
  for (std::size_t c = 0; c < calls.size(); ++c) {
    // The reference: one thread, two queries per register.
    const call_result one = [&] {
      const scoped_env width("QUIBRA_LANES", "2");
      return call_on(1, calls[c].columns, calls[c].scalars, calls[c].weights);
    }();
    singular += count_of(one.err, "Error: Singular matrix inversion attempted.\n");
    unstable += count_of(one.err, "Warning: Unstable equation system [");
    for (const int lanes : {2, 4, 8}) {
      const scoped_env width("QUIBRA_LANES", std::to_string(lanes));
      for (const int threads : {1, 2, 3, 7}) {
        const call_result many =
            call_on(threads, calls[c].columns, calls[c].scalars, calls[c].weights);
        EXPECT_EQ(many.bits, one.bits) << "call " << c << ", " << lanes << " lanes, " << threads;
        EXPECT_EQ(many.err, one.err) << "call " << c << ", " << lanes << " lanes, " << threads;
      }
    }
  }
  // The data must show both kinds of line, or the order is not tested.
  EXPECT_GT(singular, 10u);
  EXPECT_GT(unstable, 10u);

  // And that order is the queries': one fit at a time, in turn, writes the
  // same lines as the shared plain call.
  std::string one_by_one;
  quiet_call(
      [&] {
        const smooth_model* m = build_model(600, x.data(), y.data(), 0.03, 3);
        for (double xq : x) fit_one(m, xq);
      },
      &one_by_one);
  EXPECT_EQ(call_on(3, calls[0].columns, calls[0].scalars).err, one_by_one);
}

TEST(Threads, CountComesFromTheSettingsThenTheEnvironmentThenTheHardware) {
  fit_settings s;
  {
    const scoped_env e("QUIBRA_NUM_THREADS", "5");
    EXPECT_EQ(requested_threads(&s), 5);
    s.threads = 2;
    EXPECT_EQ(requested_threads(&s), 2);
    s.threads = 0;
  }
  int hardware = 0;
  {
    const scoped_env e("QUIBRA_NUM_THREADS", "");
    hardware = requested_threads(&s);
    EXPECT_GE(hardware, 1);
  }
  for (const char* bad : {"0", "-3", "two", "4x", " "}) {
    const scoped_env e("QUIBRA_NUM_THREADS", bad);
    EXPECT_EQ(requested_threads(&s), hardware) << bad;
  }
  const scoped_env e("QUIBRA_NUM_THREADS", "100000");
  EXPECT_EQ(requested_threads(&s), MAX_THREADS);
}

TEST(Lanes, WidthComesFromTheEnvironmentWithinWhatTheProcessorRuns) {
  const int widest = supported_lanes();
  EXPECT_TRUE(widest == 2 || widest == 4 || widest == 8);
  // Without a width asked for, the fastest of those the processor runs,
  // chosen once.
  const int fastest = fastest_lanes();
  EXPECT_TRUE((fastest == 2 || fastest == 4 || fastest == 8) && fastest <= widest);
  EXPECT_EQ(fastest_lanes(), fastest);
  for (const char* bad : {"", "3", "16", "0", "four", "-4"}) {
    const scoped_env e("QUIBRA_LANES", bad);
    EXPECT_EQ(requested_lanes(), fastest) << bad;
  }
  for (const int asked : {2, 4, 8}) {
    const scoped_env e("QUIBRA_LANES", std::to_string(asked));
    EXPECT_EQ(requested_lanes(), asked < widest ? asked : widest) << asked;
  }
}

// A query beyond the data shares its group with queries inside their
// windows' spans; those must keep the bits they get among any mates, with
// the moment sums of 'fast' as with the direct ones, robust passes and
// bands included.
TEST(Lanes, AQueryKeepsItsBitsAmongQueriesBeyondTheData) {
  std::vector<double> x, y, queries;
  for (int i = 0; i < 700; ++i) {
    x.push_back(738000.0 + std::fmod(i * 0.618034, 1.0));
    y.push_back(std::sin(9.0 * x.back()) + (i % 23 == 0 ? 3.0 : 0.0));
  }
  // Queries are fitted in ascending order: three beyond the left end and
  // two beyond the right share groups of any width with inner ones.
  for (int i = 0; i < 24; ++i)
    queries.push_back(i < 3    ? 737990.0 - i
                      : i > 21 ? 738002.0 + i
                               : 738000.0 + std::fmod(i * 0.377, 1.0));
  const auto smooth = [&](const std::vector<double>& q, const char* method, double robust) {
    std::vector<std::unique_ptr<mxArray>> owned;
    owned.emplace_back(standin::make_column(q));
    owned.emplace_back(standin::make_array(0, 0));
    for (double v : {0.4, robust, 2.0}) owned.emplace_back(standin::make_scalar(v));
    owned.emplace_back(standin::make_column(x));
    owned.emplace_back(standin::make_column(y));
    owned.emplace_back(standin::make_char("Method"));
    owned.emplace_back(standin::make_char(method));
    owned.emplace_back(standin::make_char("Intervals"));
    owned.emplace_back(standin::make_char("confidence"));
    std::vector<const mxArray*> in;
    for (const auto& a : owned) in.push_back(a.get());
    const standin::outcome o = standin::call(2, in);
    EXPECT_TRUE(o.ok) << o.error;
    std::vector<double> out = o.result != nullptr ? o.result->real : std::vector<double>{};
    if (const mxArray* se = standin::field(o.second, "se"))
      out.insert(out.end(), se->real.begin(), se->real.end());
    delete o.result;
    delete o.second;
    return bits(out);
  };
  for (const char* method : {"direct", "fast"}) {
    for (const double robust : {0.0, 1.0}) {
      // Values, then their standard errors, each query alone.
      std::vector<std::uint64_t> alone(2 * queries.size());
      {
        const scoped_env lanes("QUIBRA_LANES", "2");
        for (std::size_t i = 0; i < queries.size(); ++i) {
          const auto one = smooth({queries[i]}, method, robust);
          alone[i] = one.at(0);
          alone[queries.size() + i] = one.at(1);
        }
      }
      for (const char* width : {"2", "4", "8"}) {
        const scoped_env lanes("QUIBRA_LANES", width);
        EXPECT_EQ(smooth(queries, method, robust), alone)
            << method << ", robust " << robust << ", lanes " << width;
      }
    }
  }
}

// Fits from moments cost the same at any window: a large window must not
// cut their run into chunks of one group each (a meeting per few queries).
TEST(Threads, FastFitsArePlannedInChunksOfManyQueries) {
  fit_settings s;
  s.threads = 2;
  const run_plan direct = plan_run(&s, 1000000, 200000, 2);
  const run_plan fast = plan_run(&s, 1000000, 200000, 2, true);
  EXPECT_EQ(direct.chunk, direct.lanes);
  EXPECT_GE(fast.chunk, 512);
  EXPECT_EQ(fast.chunk % fast.lanes, 0);
  EXPECT_EQ(fast.threads, 2);
  // Small windows plan alike either way.
  EXPECT_EQ(plan_run(&s, 1000000, 50, 2, true).chunk, plan_run(&s, 1000000, 50, 2).chunk);
}

TEST(Threads, OnlyRunsLargeEnoughAreSharedInWholeGroupsAndBoundedRounds) {
  fit_settings s;
  s.threads = 4;
  const run_plan small = plan_run(&s, 100, 20, 2);
  EXPECT_EQ(small.threads, 1);
  EXPECT_EQ(small.round, 100);
  EXPECT_EQ(plan_run(&s, 1, 1, 2).threads, 1);
  for (const std::int64_t n : {10000, 100000, 1000000}) {
    for (const std::int64_t window : {100, 2000, 100000}) {
      for (const int lanes : {2, 4, 8}) {
        const scoped_env width("QUIBRA_LANES", std::to_string(lanes));
        const run_plan p = plan_run(&s, n, window, 2);
        EXPECT_EQ(p.lanes, lanes < supported_lanes() ? lanes : supported_lanes());
        EXPECT_EQ(p.threads, 4) << n << " " << window;
        EXPECT_EQ(p.chunk % p.lanes, 0) << n << " " << window;
        EXPECT_TRUE(p.round == n || p.round % p.chunk == 0) << n << " " << window;
        EXPECT_LE(p.round, 4096) << n << " " << window;
        EXPECT_GE(p.round, 4 * p.chunk) << n << " " << window;
      }
    }
  }
  // Forced sharing still leaves every thread a group of queries.
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  const scoped_env width("QUIBRA_LANES", "2");
  EXPECT_EQ(plan_run(&s, 5, 3, 2).threads, 3);
  EXPECT_EQ(plan_run(&s, 7, 3, 2).threads, 4);
}

// Each item records the worker that computed it; every round must arrive
// complete and in order.
struct visit_log {
  std::vector<std::atomic<int>> visits;
  std::vector<int> worker;
  std::int64_t next_round = 0;
  bool ordered = true;
  explicit visit_log(std::size_t n) : visits(n), worker(n, -1) {}
};

TEST(Threads, EveryItemIsComputedOnceAndRoundsComeBackInOrder) {
  const std::int64_t n = 1000;
  for (const int threads : {1, 2, 3, 8}) {
    visit_log log(n);
    const parallel_task task{&log,
                             [](void* c, int worker, std::int64_t b, std::int64_t e) {
                               auto& l = *static_cast<visit_log*>(c);
                               for (std::int64_t i = b; i < e; ++i) {
                                 l.visits[i].fetch_add(1);
                                 l.worker[i] = worker;
                               }
                             },
                             [](void* c, std::int64_t b, std::int64_t e) {
                               auto& l = *static_cast<visit_log*>(c);
                               if (b != l.next_round) l.ordered = false;
                               for (std::int64_t i = b; i < e; ++i)
                                 if (l.visits[i].load() != 1) l.ordered = false;
                               l.next_round = e;
                             }};
    const run_plan plan{threads, 2, 7, 70};
    EXPECT_EQ(run_parallel(task, n, plan), threads);
    EXPECT_TRUE(log.ordered) << threads;
    EXPECT_EQ(log.next_round, n);
    for (std::int64_t i = 0; i < n; ++i) {
      ASSERT_EQ(log.visits[i].load(), 1) << i;
      ASSERT_TRUE(log.worker[i] >= 0 && log.worker[i] < threads) << i;
    }
  }
}

// Chunks are whole groups of lanes, never longer than planned, and shrink
// as a round's end nears, so that no thread idles through another's full
// last chunk.
TEST(Threads, ChunksAreWholeGroupsAndShrinkTowardARoundsEnd) {
  struct chunks {
    std::mutex lock;
    std::vector<std::pair<std::int64_t, std::int64_t>> taken;
  };
  for (const int threads : {1, 2, 3}) {
    chunks c;
    const parallel_task task{&c,
                             [](void* ctx, int, std::int64_t b, std::int64_t e) {
                               auto& k = *static_cast<chunks*>(ctx);
                               const std::lock_guard<std::mutex> guard(k.lock);
                               k.taken.emplace_back(b, e);
                             },
                             [](void*, std::int64_t, std::int64_t) {}};
    const std::int64_t n = 1000;
    run_parallel(task, n, run_plan{threads, 4, 64, 640});
    std::int64_t covered = 0;
    bool smaller = false;
    for (const auto& [b, e] : c.taken) {
      EXPECT_EQ(b % 4, 0) << threads;
      EXPECT_LE(e - b, 64) << threads;
      covered += e - b;
      smaller = smaller || (e - b < 64 && e % 640 != 0 && e != n);
    }
    EXPECT_EQ(covered, n);
    EXPECT_TRUE(smaller) << threads;
  }
}

}  // namespace
