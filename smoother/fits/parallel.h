// Sharing a run of local fits among threads. The items (queries) are cut
// into chunks that the threads take in turn; every `round` items all
// threads meet, and the calling thread then handles the round's results in
// item order, so whatever it reports comes out as a single thread would
// write it. Workers never call the host: everything they use is allocated
// before they start and released after they are joined. Before each chunk
// it takes, the calling thread asks the host whether the user interrupted
// the call (host/services.h).
#ifndef QUIBRA_SMOOTHER_PARALLEL_H
#define QUIBRA_SMOOTHER_PARALLEL_H

#include <cstdint>

#include "smoother/settings.h"

// The thread count a call asks for: settings->threads when positive, else
// QUIBRA_NUM_THREADS when it is a positive integer, else one per hardware
// thread; at most MAX_THREADS (smoother/settings.h).
int requested_threads(const fit_settings* settings);

// Queries per vector register: QUIBRA_LANES when it is 2, 4 or 8 (the
// widest the processor runs if it asks for more), else the width that sums
// fastest on this processor (smoother/kernel/widths.h). Every width gives the same
// bits; the variable lets tests run each one.
int requested_lanes();

// How a run of `n` fits of degree `degree` over windows of `window` points
// is shared: on how many threads, with how many queries per register, in
// chunks of how many queries (whole groups of lanes), met every `round`
// queries (a multiple of `chunk`, at most n). Runs too small to gain from
// threads get one thread. A chunk is a fraction of a millisecond of work,
// or a single group of lanes where that alone is more, so that an
// interrupt is seen soon, on one thread too.
struct run_plan {
  int threads;
  int lanes;
  std::int64_t chunk;
  std::int64_t round;
};
// `fast`: the fits take their sums from moments ('Method' 'fast'), whose
// cost hardly grows with the window: they are planned as the direct fits of
// the window that cost as much, so that a run is not cut into chunks of a
// few queries, each a meeting of the threads.
run_plan plan_run(const fit_settings* settings, std::int64_t n, std::int64_t window,
                  std::int32_t degree, bool fast = false);

// How `n` items of about `pairs` (query x window point) pairs of work each
// are shared when nothing is noted between them: in one round, an item per
// chunk, on as many threads as the whole is worth.
run_plan plan_items(const fit_settings* settings, std::int64_t n, std::int64_t pairs);

// work(context, worker, begin, end) computes items [begin, end) with
// worker `worker`'s own scratch (0 <= worker < plan.threads); it must not
// call the host or throw. round_done(context, begin, end) runs on the
// calling thread once all items of [begin, end) are computed, rounds in
// ascending order; null when there is nothing to do then.
struct parallel_task {
  void* context;
  void (*work)(void* context, int worker, std::int64_t begin, std::int64_t end);
  void (*round_done)(void* context, std::int64_t begin, std::int64_t end);
};

// Runs `task` over items [0, n) by `plan`, the calling thread being
// worker 0. When a thread cannot be created the run goes on with those
// that were. Returns the number of threads that took part. When the user
// interrupts, no further chunk is handed out: once the chunks in hand are
// done and every thread is joined, it ends the call through the host
// (host_interrupted), and the interrupted round is not handed to
// round_done.
int run_parallel(const parallel_task& task, std::int64_t n, const run_plan& plan);

#endif
