#include "smoother/fits/parallel.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "numeric/lanes.h"
#include "smoother/kernel/widths.h"
#include "host/services.h"

namespace {

// Below this many (query x window point) pairs per thread a thread costs
// more to start and meet than it saves. QUIBRA_THREAD_MIN_PAIRS overrides
// it, so that tests can share even tiny runs.
constexpr std::int64_t MIN_PAIRS_PER_THREAD = 200000;
// About this much work per chunk keeps the meeting cost small next to the
// work while leaving each thread several chunks per round to balance load,
// and the calling thread asks about an interrupt before each of its chunks.
constexpr std::int64_t CHUNK_PAIRS = 1 << 17;
// A fit from moments costs about what a direct one over 2000 points does
// (1.5 us on an AMD EPYC, Zen 4), whatever its window; it is planned as one
// over fewer, so that its chunks hold about a thousand queries (a
// millisecond or two): fewer meetings of the threads, which took all that
// a second thread gained.
constexpr std::int64_t FAST_FIT_POINTS = 128;
constexpr std::int64_t CHUNKS_PER_THREAD_AND_ROUND = 4;
// Results wait for their round's end, so a round bounds that storage.
constexpr std::int64_t MAX_ROUND = 4096;

// A positive integer from the environment, or `fallback`.
std::int64_t env_count(const char* name, std::int64_t fallback, std::int64_t least) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (*end != '\0' || v < least) return fallback;
  return v;
}

std::int64_t clamp(std::int64_t v, std::int64_t lo, std::int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// One query's work in (query x window point) pairs: its window, and the
// solve of its system, whose (degree+1)^3 steps weigh about as many pairs
// (at degree 100 the solve is nearly all of a small window's fit).
std::int64_t query_work(std::int64_t window, std::int32_t degree) {
  const std::int64_t ncoef = degree + 1;
  return (window > 0 ? window : 1) + ncoef * ncoef * ncoef;
}

// Chunks are handed out under the lock: a lock per chunk costs nothing
// next to a chunk's fits, and a thread that is slow to wake (the machine
// may be busy) holds up no one: the round ends when its items are done,
// whoever did them.
struct pool {
  const parallel_task* task;
  std::int64_t chunk;
  std::int64_t unit;     // chunks are whole groups of this many items
  std::int64_t threads;  // that the plan asked for
  std::mutex lock;
  std::condition_variable work_ready;
  std::condition_variable round_done;
  // All guarded by lock.
  std::int64_t next = 0;       // first item not yet handed out
  std::int64_t round_end = 0;  // items of the current round end here
  std::int64_t pending = 0;    // items of the current round not yet computed
  bool stop = false;
  bool interrupted = false;  // the user asked to interrupt: hand out nothing more
};

// Chunks shrink as a round's end nears, to half of a fair share of what is
// left, so that the threads finish the round together rather than one
// idling through the other's last full chunk (at every round's meeting).
std::int64_t chunk_at(const pool& p, std::int64_t left) {
  const std::int64_t half_share = left / (2 * p.threads);
  const std::int64_t units = (half_share + p.unit - 1) / p.unit;
  const std::int64_t take = (units > 0 ? units : 1) * p.unit;
  return take < p.chunk ? take : p.chunk;
}

// Computes chunks of the current round until none is left to hand out;
// `guard` holds the lock on entry and on return.
void drain(pool& p, int worker, std::unique_lock<std::mutex>& guard) {
  while (p.next < p.round_end) {
    // Only the calling thread may ask the host. Items never handed out
    // leave the round's count, which then waits only for the chunks in hand.
    if (worker == 0 && host_interrupt_pending()) {
      p.interrupted = true;
      p.pending -= p.round_end - p.next;
      p.next = p.round_end;
      return;
    }
    const std::int64_t begin = p.next;
    const std::int64_t take = chunk_at(p, p.round_end - begin);
    const std::int64_t end = begin + take < p.round_end ? begin + take : p.round_end;
    p.next = end;
    guard.unlock();
    p.task->work(p.task->context, worker, begin, end);
    guard.lock();
    // Under the lock, so the results are published with the count.
    p.pending -= end - begin;
    if (p.pending == 0) p.round_done.notify_one();
  }
}

void worker_loop(pool* p, int worker) {
  std::unique_lock<std::mutex> guard(p->lock);
  for (;;) {
    p->work_ready.wait(guard, [&] { return p->stop || p->next < p->round_end; });
    if (p->stop) return;
    drain(*p, worker, guard);
  }
}

void stop_and_join(pool& p, std::thread* threads, int started) {
  {
    const std::lock_guard<std::mutex> guard(p.lock);
    p.stop = true;
  }
  p.work_ready.notify_all();
  for (int t = 0; t < started; ++t) threads[t].join();
}

// The threads that `pairs` pairs of work are worth, at most those asked for.
std::int64_t thread_share(const fit_settings* settings, std::int64_t pairs) {
  const std::int64_t min_pairs = env_count("QUIBRA_THREAD_MIN_PAIRS", MIN_PAIRS_PER_THREAD, 0);
  std::int64_t threads = requested_threads(settings);
  if (min_pairs > 0 && pairs / min_pairs < threads) threads = pairs / min_pairs;
  return threads;
}

}  // namespace

int requested_threads(const fit_settings* settings) {
  std::int64_t t = settings->threads;
  if (t <= 0) {
    // Asked once: the count is read from the system, which costs more than
    // a small call's whole smooth.
    static const unsigned hardware = std::thread::hardware_concurrency();
    t = env_count("QUIBRA_NUM_THREADS", hardware > 0 ? hardware : 1, 1);
  }
  return static_cast<int>(clamp(t, 1, MAX_THREADS));
}

int requested_lanes() {
  const int widest = supported_lanes();
  const std::int64_t asked = env_count("QUIBRA_LANES", 0, 1);
  if (asked != 2 && asked != 4 && asked != 8) return fastest_lanes();
  return asked < widest ? static_cast<int>(asked) : widest;
}

run_plan plan_run(const fit_settings* settings, std::int64_t n, std::int64_t window,
                  std::int32_t degree, bool fast) {
  if (fast && window > FAST_FIT_POINTS) window = FAST_FIT_POINTS;
  const int lanes = requested_lanes();
  run_plan plan{1, lanes, 1, 1};
  if (n <= 0) return plan;
  std::int64_t threads = thread_share(settings, n * (window > 0 ? window : 1));
  // Every thread needs at least one group of queries.
  threads = clamp(threads, 1, (n + lanes - 1) / lanes);
  const std::int64_t per_round = threads * CHUNKS_PER_THREAD_AND_ROUND;
  std::int64_t chunk = CHUNK_PAIRS / query_work(window, degree);
  chunk = clamp(chunk, 1, MAX_ROUND / per_round);
  // Spread small runs over all threads too.
  chunk = clamp(chunk, 1, (n + per_round - 1) / per_round);
  chunk = (chunk + lanes - 1) / lanes * lanes;
  plan.threads = static_cast<int>(threads);
  plan.chunk = chunk;
  plan.round = chunk * per_round;
  if (plan.round > n) plan.round = n;
  return plan;
}

run_plan plan_items(const fit_settings* settings, std::int64_t n, std::int64_t pairs) {
  const std::int64_t items = n > 0 ? n : 1;
  return run_plan{static_cast<int>(clamp(thread_share(settings, items * pairs), 1, items)), 1, 1,
                  items};
}

int run_parallel(const parallel_task& task, std::int64_t n, const run_plan& plan) {
  pool p;
  p.task = &task;
  p.chunk = plan.chunk;
  p.unit = plan.lanes > 0 ? plan.lanes : 1;
  p.threads = plan.threads > 0 ? plan.threads : 1;
  std::thread threads[MAX_THREADS];
  int started = 0;
  for (int t = 1; t < plan.threads; ++t) {
    try {
      threads[started] = std::thread(worker_loop, &p, t);
      ++started;
    } catch (...) {
      // No thread to be had (resources, memory): go on with fewer.
      break;
    }
  }
  for (std::int64_t begin = 0; begin < n; begin += plan.round) {
    const std::int64_t end = begin + plan.round < n ? begin + plan.round : n;
    std::unique_lock<std::mutex> guard(p.lock);
    p.next = begin;
    p.round_end = end;
    p.pending = end - begin;
    if (started > 0) p.work_ready.notify_all();
    drain(p, 0, guard);
    p.round_done.wait(guard, [&] { return p.pending == 0; });
    guard.unlock();
    if (p.interrupted) {
      // No worker may outlive the call: join them, then end it.
      stop_and_join(p, threads, started);
      host_interrupted();
    }
    if (task.round_done != nullptr) task.round_done(task.context, begin, end);
  }
  stop_and_join(p, threads, started);
  return started + 1;
}
