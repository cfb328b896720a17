// Ctrl-C during a call, simulated by the stand-in host: wherever the call
// asks, it ends with quibra:interrupted and no result, asking from the
// calling thread only and with every worker joined; the next call is as if
// none had been interrupted. And runs are cut fine enough to ask often.
#include <atomic>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>


#include "smoother/fits/parallel.h"
#include "unit_support.h"

namespace {

using standin::make_char;
using standin::make_column;
using standin::make_scalar;

// A robust call with a band and a chosen span: every kind of run of fits.
call_result robust_with_band() {
  static const sample d = noisy_sine(600, 21, 29);
  return run_call(
      {make_column(d.x), make_column(d.y), make_scalar(0.2), make_scalar(1), make_scalar(2),
       make_char("Intervals"), make_char("confidence"), make_char("Span"), make_char("aicc")},
      2);
}

// Eight points on each abscissa and windows of six: every fit at the data
// fails, and its trouble is noted once the whole run is over.
call_result every_fit_singular() {
  std::vector<double> x, y;
  for (int i = 0; i < 800; ++i) {
    x.push_back(static_cast<double>((i * 37 % 800) / 8));
    y.push_back(static_cast<double>(i % 5));
  }
  return run_call({make_column(x), make_column(y), make_scalar(6.0 / 800), make_scalar(0),
                   make_scalar(2), make_char("Diagnostics"), make_char("off")});
}

// Interrupts `call` at each of its early questions in turn, then at a
// sample of the rest (the runs repeat). On one thread the questions fall
// the same way every time; on more, the calling thread's share of the
// chunks varies, so a call may ask fewer times than the reference and then
// finish as usual.
void interrupt_everywhere(const std::function<call_result()>& call, bool shared) {
  const call_result usual = call();
  ASSERT_TRUE(usual.o.ok) << usual.o.error;
  ASSERT_GE(usual.o.interrupt_checks, 8u);
  std::size_t interrupted = 0, tried = 0;
  for (std::size_t k = 1; k <= usual.o.interrupt_checks; k += k < 30 ? 1 : 37) {
    ++tried;
    standin::interrupt_at(k);
    const call_result r = call();
    standin::interrupt_at(0);
    if (r.o.ok && shared) {
      EXPECT_LT(r.o.interrupt_checks, k);
      EXPECT_EQ(bits(r.v), bits(usual.v));
      continue;
    }
    ++interrupted;
    ASSERT_FALSE(r.o.ok) << "question " << k;
    EXPECT_EQ(r.o.error_id, "quibra:interrupted") << "question " << k;
    EXPECT_EQ(r.o.error, "Interrupted.") << "question " << k;
    // No question after the one answered yes, and no result.
    EXPECT_EQ(r.o.interrupt_checks, k);
    EXPECT_TRUE(r.v.empty() && r.info == nullptr) << "question " << k;
    EXPECT_TRUE(r.o.warnings.empty()) << "question " << k;
    EXPECT_LE(r.o.allocations, usual.o.allocations) << "question " << k;
  }
  EXPECT_GE(2 * interrupted, tried);
  // What the host reclaimed leaves nothing for the next call to meet.
  const call_result next = call();
  ASSERT_TRUE(next.o.ok) << next.o.error;
  EXPECT_EQ(bits(next.v), bits(usual.v));
  EXPECT_EQ(next.o.blocks_left, usual.o.blocks_left);
  if (!shared) {
    EXPECT_EQ(next.o.interrupt_checks, usual.o.interrupt_checks);
  }
}

TEST(Interrupt, AnyQuestionEndsTheCallAndTheNextCallGivesTheUsualBits) {
  // run_call records as a failure any host use off the calling thread.
  const scoped_env always("QUIBRA_THREAD_MIN_PAIRS", "0");
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    const scoped_env count("QUIBRA_NUM_THREADS", threads);
    const bool shared = threads[0] != '1';
    interrupt_everywhere(robust_with_band, shared);
    interrupt_everywhere(every_fit_singular, shared);
  }
}

TEST(Interrupt, TheHelpQuotesTheErrorAndItsIdentifier) {
  standin::interrupt_at(1);
  const call_result r = every_fit_singular();
  standin::interrupt_at(0);
  ASSERT_FALSE(r.o.ok);
  std::ifstream in(QUIBRA_HELP_FILE);
  const std::string help((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(help.find("%     " + r.o.error + " "), std::string::npos);
  EXPECT_NE(help.find("[" + r.o.error_id + "]"), std::string::npos);
}

// Items computed by a run, and the rounds handed back.
struct run_log {
  std::vector<std::atomic<int>> visits;
  std::int64_t rounds_end = 0;
  bool ordered = true;
  explicit run_log(std::size_t n) : visits(n) {}
};

TEST(Interrupt, ARunStopsHandingOutChunksAndJoinsItsThreads) {
  const std::int64_t n = 2000;
  const parallel_task task{nullptr,
                           [](void* c, int, std::int64_t b, std::int64_t e) {
                             auto& l = *static_cast<run_log*>(c);
                             for (std::int64_t i = b; i < e; ++i) l.visits[i].fetch_add(1);
                           },
                           [](void* c, std::int64_t b, std::int64_t e) {
                             auto& l = *static_cast<run_log*>(c);
                             if (b != l.rounds_end) l.ordered = false;
                             l.rounds_end = e;
                           }};
  for (const int threads : {1, 2, 3}) {
    for (const std::size_t at : {1, 2, 7}) {
      run_log log(n);
      parallel_task t = task;
      t.context = &log;
      standin::interrupt_at(at);
      const standin::outcome o =
          standin::within_call([&] { run_parallel(t, n, run_plan{threads, 2, 10, 40}); });
      standin::interrupt_at(0);
      const std::string where =
          std::to_string(threads) + " threads, question " + std::to_string(at);
      EXPECT_FALSE(o.ok) << where;
      EXPECT_EQ(o.error_id, "quibra:interrupted") << where;
      EXPECT_TRUE(o.faults.empty()) << where << ": " << o.faults.front();
      EXPECT_EQ(o.interrupt_checks, at) << where;
      std::int64_t done = 0;
      for (std::int64_t i = 0; i < n; ++i) {
        ASSERT_LE(log.visits[i].load(), 1) << where;
        done += log.visits[i].load();
      }
      // The first question comes before anything is handed out; later, no
      // round is handed back that was not computed whole.
      if (at == 1) {
        EXPECT_EQ(done, 0) << where;
      }
      EXPECT_LT(done, n) << where;
      EXPECT_TRUE(log.ordered) << where;
      EXPECT_LE(log.rounds_end, done) << where;
    }
  }
}

TEST(Interrupt, ChunksStayShortWhateverTheWindowAndDegreeOnOneThreadToo) {
  // About 2^17 (query x window point) pairs a chunk, a few hundred
  // microseconds, unless a single group of lanes is more; the solve of a
  // degree-100 system weighs as much as a window of a million points.
  fit_settings s;
  const scoped_env width("QUIBRA_LANES", "8");
  for (const int threads : {1, 2}) {
    s.threads = threads;
    for (const std::int64_t window : {10, 100, 2000, 50000, 1000000}) {
      const run_plan p = plan_run(&s, 1000000, window, 2);
      EXPECT_TRUE(p.chunk == p.lanes || p.chunk * window <= (1 << 18))
          << threads << " threads, window " << window << ": chunk " << p.chunk;
    }
    EXPECT_EQ(plan_run(&s, 1000000, 303, 100).chunk, plan_run(&s, 1000000, 1, 0).lanes);
    EXPECT_LE(plan_run(&s, 1000000, 63, 30).chunk, 8 * 8);
  }
}

}  // namespace
