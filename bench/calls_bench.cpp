// Whole calls through the stand-in host. per_pair is the time per
// (evaluation point x window point); fits/s counts local fits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "numeric/lanes.h"
#include "smoother/model.h"
#include "smoother/fits/queries.h"
#include "smoother/stages/robust.h"
#include "standin_host/standin.h"

namespace {

struct call_args {
  mxArray* x;
  mxArray* y;
  mxArray* f;
  mxArray* robust;
  mxArray* degree;
};

void run_call(benchmark::State& state, bool robust) {
  const int n = static_cast<int>(state.range(0));
  const double f = static_cast<double>(state.range(1)) / 1000.0;
  const int degree = static_cast<int>(state.range(2));
  const bench::sample s = bench::make_sample(n);
  call_args a{standin::make_column(s.x), standin::make_column(s.y), standin::make_scalar(f),
              standin::make_scalar(robust ? 1.0 : 0.0), standin::make_scalar(degree)};
  std::size_t peak = 0;
  for (auto _ : state) {
    standin::outcome o = standin::call(1, {a.x, a.y, a.f, a.robust, a.degree});
    if (!o.ok) state.SkipWithError(o.error.c_str());
    peak = o.peak_bytes;
    benchmark::DoNotOptimize(o.result->real.data());
    delete o.result;
  }
  const double window = window_size(n, f, degree);
  state.counters["per_pair"] = benchmark::Counter(
      static_cast<double>(n) * window,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["fits/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
  for (mxArray* m : {a.x, a.y, a.f, a.robust, a.degree}) delete m;
}

void plain(benchmark::State& state) { run_call(state, false); }
void robust(benchmark::State& state) { run_call(state, true); }

void grid(benchmark::internal::Benchmark* b, bool robust_calls) {
  for (int n : {1000, 10000, 100000})
    for (int f_milli : {10, 20, 50, 200})
      for (int degree : {1, 2}) {
        // Robust smooths of 10^5 points with wide spans take minutes.
        if (robust_calls && n == 100000 && f_milli > 10) continue;
        b->Args({n, f_milli, degree});
      }
  b->ArgNames({"n", "f_milli", "degree"})->Unit(benchmark::kMillisecond)->MinTime(0.2);
}

double seconds_of(const std::function<void()>& body) {
  const auto t0 = std::chrono::steady_clock::now();
  standin::within_call(body);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One robustness pass against one plain smooth of the same points:
// pass/plain is (robustify's time / its passes) / (plain smooth's time).
void robust_pass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double f = static_cast<double>(state.range(1)) / 1000.0;
  const int degree = static_cast<int>(state.range(2));
  const bench::sample s = bench::make_sample(n);
  std::vector<double> out(n);
  double plain_s = 0.0;
  double robust_s = 0.0;
  int passes = 0;
  for (auto _ : state) {
    plain_s += seconds_of([&] {
      smooth_model* m = build_model(n, s.x.data(), s.y.data(), data_choice{}, f, degree);
      fit_settings settings;
      fit_outputs o;
      o.value = out.data();
      fit_queries(m, query_set{s.x.data(), n}, o, &settings);
    });
    const double r = seconds_of([&] {
      smooth_model* m = build_model(n, s.x.data(), s.y.data(), data_choice{}, f, degree);
      fit_settings settings;
      passes = robustify(m, &settings).passes;
    });
    robust_s += r;
    state.SetIterationTime(r);
  }
  state.counters["passes"] = passes;
  state.counters["pass/plain"] = robust_s / passes / plain_s;
}

// CPU times of two calls on the same data, alternating which goes first so
// neither gains from a warmed cache; the iteration time is the second's.
void alternate(benchmark::State& state, int nlhs_a, const std::vector<const mxArray*>& in_a,
               int nlhs_b, const std::vector<const mxArray*>& in_b, const char* counter) {
  double seconds[2] = {0.0, 0.0};
  int round = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      const int which = (k + round) % 2;
      const std::clock_t t0 = std::clock();
      standin::outcome o = which == 0 ? standin::call(nlhs_a, in_a) : standin::call(nlhs_b, in_b);
      const double t = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
      seconds[which] += t;
      if (which == 1) state.SetIterationTime(t);
      if (!o.ok) state.SkipWithError(o.error.c_str());
      delete o.result;
      delete o.second;
    }
    ++round;
  }
  state.counters[counter] = seconds[1] / seconds[0];
}

// The cost of the second result: two/one is a two-result call's CPU time
// over a one-result call's.
void second_result(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double f = static_cast<double>(state.range(1)) / 1000.0;
  const bool robust = state.range(2) != 0;
  const bench::sample s = bench::make_sample(n);
  call_args a{standin::make_column(s.x), standin::make_column(s.y), standin::make_scalar(f),
              standin::make_scalar(robust ? 1.0 : 0.0), standin::make_scalar(2)};
  const std::vector<const mxArray*> in = {a.x, a.y, a.f, a.robust, a.degree};
  alternate(state, 1, in, 2, in, "two/one");
  for (mxArray* m : {a.x, a.y, a.f, a.robust, a.degree}) delete m;
}

// The cost of a band: band/plain is a call with 'Intervals' over one
// without, on one thread (the quantile costs microseconds here).
void band(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double f = static_cast<double>(state.range(1)) / n;
  const bench::sample s = bench::make_sample(n);
  call_args a{standin::make_column(s.x), standin::make_column(s.y), standin::make_scalar(f),
              standin::make_scalar(0.0), standin::make_scalar(2)};
  mxArray* name = standin::make_char("Intervals");
  mxArray* kind = standin::make_char("confidence");
  mxArray* threads_name = standin::make_char("Threads");
  mxArray* one = standin::make_scalar(1.0);
  const std::vector<const mxArray*> plain_in = {a.x,      a.y,          a.f, a.robust,
                                                a.degree, threads_name, one};
  const std::vector<const mxArray*> band_in = {a.x,  a.y,  a.f,          a.robust, a.degree,
                                               name, kind, threads_name, one};
  alternate(state, 1, plain_in, 2, band_in, "band/plain");
  for (mxArray* m : {a.x, a.y, a.f, a.robust, a.degree, name, kind, threads_name, one}) delete m;
}

// The kernel at each register width, thread count, method and degree:
// n = 10^5 points, windows of 20 and of 1000 points ('fast' takes its
// moments from 256 on). The width is set as the tests set it
// (QUIBRA_LANES), so the run compares what each width costs.
void kernel(benchmark::State& state) {
  const int n = 100000;
  const int window = static_cast<int>(state.range(0));
  const bool fast = state.range(1) != 0;
  const int degree = static_cast<int>(state.range(2));
  const int lanes = static_cast<int>(state.range(3));
  const int threads = static_cast<int>(state.range(4));
  if (lanes > supported_lanes()) {
    state.SkipWithError("width not run by this processor");
    return;
  }
  setenv("QUIBRA_LANES", std::to_string(lanes).c_str(), 1);
  const bench::sample s = bench::make_sample(n);
  std::vector<mxArray*> in = {standin::make_column(s.x),
                              standin::make_column(s.y),
                              standin::make_scalar(static_cast<double>(window) / n),
                              standin::make_scalar(0.0),
                              standin::make_scalar(degree),
                              standin::make_char("Method"),
                              standin::make_char(fast ? "fast" : "direct"),
                              standin::make_char("Threads"),
                              standin::make_scalar(threads)};
  for (auto _ : state) {
    standin::outcome o = standin::call(1, {in.begin(), in.end()});
    if (!o.ok) state.SkipWithError(o.error.c_str());
    benchmark::DoNotOptimize(o.result->real.data());
    delete o.result;
  }
  unsetenv("QUIBRA_LANES");
  for (mxArray* m : in) delete m;
}

}  // namespace

BENCHMARK(kernel)
    ->ArgsProduct({{20, 1000}, {0, 1}, {0, 1, 2, 3, 4}, {2, 4, 8}, {1, 2}})
    ->ArgNames({"window", "fast", "degree", "lanes", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.1)
    ->UseRealTime();

BENCHMARK(second_result)
    ->ArgsProduct({{10000}, {10, 50}, {0, 1}})
    ->Args({100000, 10, 0})
    ->ArgNames({"n", "f_milli", "robust"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK(band)
    ->ArgsProduct({{10000, 100000}, {100, 500}})
    ->ArgNames({"n", "window"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Medians of three; 10^5 points only with local lines (local quadratics
// there run all 100 passes: half a minute each).
BENCHMARK(robust_pass)
    ->ArgsProduct({{1000, 10000}, {10, 50, 200}, {1, 2}})
    ->Args({100000, 10, 1})
    ->ArgNames({"n", "f_milli", "degree"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(plain)->Apply([](benchmark::internal::Benchmark* b) { grid(b, false); });
BENCHMARK(robust)->Apply([](benchmark::internal::Benchmark* b) { grid(b, true); });

BENCHMARK_MAIN();
