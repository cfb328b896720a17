#include "smoother/fits/run.h"

#include <cmath>
#include <limits>

#include "host/services.h"
#include "host/storage.h"
#include "smoother/kernel/fit_range.h"
#include "smoother/kernel/local_fit.h"
#include "smoother/moments/moment_tree.h"
#include "smoother/fits/parallel.h"

namespace {

using fit_ranges::fit_range_2;
#if QUIBRA_WIDE_LANES
using fit_ranges::fit_range_4;
using fit_ranges::fit_range_8;
#endif
using fit_ranges::range_fitter;
using local_fit::fit_scratch;

// The code for `lanes` queries per register, with or without influence.
template <bool Influence>
range_fitter fitter_for(int lanes) {
#if QUIBRA_WIDE_LANES
  if (lanes == 8) return fit_range_8<Influence>;
  if (lanes == 4) return fit_range_4<Influence>;
#endif
  (void)lanes;
  return fit_range_2<Influence>;
}

// One run of fits shared among threads: each worker fits its chunks with
// its own scratch and leaves their troubles in the round's slots; the
// calling thread notes them in query order at the end of every round.
struct fit_job {
  const smooth_model* model;
  const double* xq;
  fit_outputs out;        // influence arrays null when not wanted
  fit_scratch* scratch;   // one per worker
  fit_trouble* troubles;  // one per query of a round; in ascending order, `chunk` per worker
  std::int64_t round;
  std::int64_t chunk;
  range_fitter fit;
  fit_settings* settings;
  // In ascending order: the queries, as pointers into xq, and each query's
  // trouble by its index in xq, noted in that order once all are fitted.
  const double* const* order;
  std::uint8_t* trouble_kind;
};

// p + offset, or null.
template <typename T>
T* shifted(T* p, std::int64_t offset) {
  return p != nullptr ? p + offset : nullptr;
}

void fit_chunk(void* context, int worker, std::int64_t begin, std::int64_t end) {
  fit_job& job = *static_cast<fit_job*>(context);
  if (job.order != nullptr) {
    // Each worker keeps its chunk's trouble in its own slots, then by query.
    fit_trouble* t = job.troubles + worker * job.chunk;
    job.fit(job.model, job.scratch[worker], job.xq, job.order + begin, end - begin, job.out, t);
    for (std::int64_t i = 0; i < end - begin; ++i)
      job.trouble_kind[job.order[begin + i] - job.xq] = trouble_kind_of(t[i]);
  } else {
    fit_outputs out = job.out;
    out.value = job.out.value + begin;
    out.variance = shifted(job.out.variance, begin);
    out.leverage = shifted(job.out.leverage, begin);
    out.lowered = shifted(job.out.lowered, begin);
    out.unstable = shifted(job.out.unstable, begin);
    out.kinds = shifted(job.out.kinds, begin);
    out.own = shifted(job.out.own, begin);
    fit_trouble* t = job.troubles + begin % job.round;
    job.fit(job.model, job.scratch[worker], job.xq + begin, nullptr, end - begin, out, t);
  }
}

void note_round(void* context, std::int64_t begin, std::int64_t end) {
  fit_job& job = *static_cast<fit_job*>(context);
  // A run in ascending order notes its trouble once it is over, and so
  // does a run of several columns, which notes it column after column.
  if (job.order != nullptr) return;
  if (job.out.columns > 1) {
    for (std::int64_t i = begin; i < end; ++i)
      job.trouble_kind[i] = trouble_kind_of(job.troubles[i - begin]);
    return;
  }
  for (std::int64_t i = begin; i < end; ++i) note_trouble(job.settings, job.troubles[i - begin]);
}

// The queries of an ordered run that are no finite number (those outside
// the order) get NaN; the others are counted.
std::int64_t ordered_items(const double* xq, std::int32_t n, const fit_outputs& out,
                           std::uint8_t* kind) {
  std::int64_t items = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    kind[i] = TROUBLE_NONE;
    if (!std::isfinite(xq[i])) {
      put_none(out, i, std::numeric_limits<double>::quiet_NaN());
    } else {
      ++items;
    }
  }
  return items;
}

// The trouble of column c of an ordered run or of a run of several
// columns, in query order once all fits are made. Every fit may have some,
// each a line to write or a fit to make again, so the user may interrupt
// here too.
void note_in_query_order(const fit_job& job, std::int32_t n, std::int32_t c) {
  // Column c alone, as its own call would fit it.
  smooth_model column = *job.model;
  if (c > 0) {
    column.y = const_cast<double*>(job.out.y_more[c - 1]);
    column.y_scale = job.out.scales[c - 1];
  }
  const std::uint8_t* kinds = job.trouble_kind + static_cast<std::int64_t>(c) * n;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::uint8_t kind = kinds[i];
    if (kind == TROUBLE_NONE) continue;
    if (host_interrupt_pending()) host_interrupted();
    fit_trouble t;
    t.singular = kind == TROUBLE_SINGULAR;
    if (!t.singular) {
      // Fitted again, alone: the same arithmetic finds the same entry.
      double again;
      fit_outputs alone;
      alone.value = &again;
      alone.derivative = job.out.derivative;
      job.fit(&column, job.scratch[0], job.xq + i, nullptr, 1, alone, &t);
    }
    note_trouble(job.settings, t, c);
  }
}

// The wide paths form each coordinate (x - q) / h without a division
// (quotient, numeric/lanes.h), which gives the division's bits while every
// step stays in the normal range. Abscissae and queries that are 0 or of
// magnitude within [2^-340, 2^340] keep every difference, bandwidth,
// reciprocal and coordinate there; any other takes the 2-lane path, which
// divides: the same bits, more slowly.
constexpr double MODERATE_LOW = 0x1p-340;
constexpr double MODERATE_HIGH = 0x1p340;

bool moderate(const double* v, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    const double a = std::fabs(v[i]);
    if (a != 0.0 && !(a >= MODERATE_LOW && a <= MODERATE_HIGH) && std::isfinite(a)) return false;
  }
  return true;
}

bool all_finite(const double* v, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

}  // namespace

void run_fits(const smooth_model* model, const double* xq, std::int32_t n,
              const double* const* ascending, const fit_outputs& out, fit_settings* settings) {
  if (n <= 0) return;
  const bool wanted = out.variance != nullptr || out.leverage != nullptr;
  // Queries in ascending order share their neighbours' windows, so each
  // group of lanes reads nearby data and tends to pivot alike: much faster
  // for small windows. The results land where they belong, and the trouble
  // is noted in query order once all are fitted.
  const bool in_order = ascending != nullptr;
  const bool collect = in_order || out.columns > 1;
  // Column c's kinds at c n: the other columns' come back through the outputs.
  const std::int64_t kinds = static_cast<std::int64_t>(n) * out.columns;
  std::uint8_t* kind = collect ? host_alloc_array<std::uint8_t>(kinds) : nullptr;
  for (std::int64_t i = 0; i < kinds && collect; ++i) kind[i] = TROUBLE_NONE;
  fit_outputs outputs = out;
  if (out.columns > 1) outputs.kinds = kind;
  const std::int64_t items = in_order ? ordered_items(xq, n, outputs, kind) : n;
  const bool moderate_run = moderate(model->x, model->count) && moderate(xq, n);
  const bool shared_ok = moderate_run && all_finite(model->y, model->count) &&
                         (model->weights == nullptr || all_finite(model->weights, model->count));
  const bool fast = settings->fast && local_fit::takes_fast_sums(model);
  run_plan plan = plan_run(settings, items, model->window, model->degree, fast);
  if (plan.lanes > 2 && !moderate_run) plan.lanes = 2;
  // Everything the workers use is taken here, on the calling thread.
  fit_scratch* scratch = host_alloc_array<fit_scratch>(plan.threads);
  moment_tree* tree =
      fast ? build_moment_tree(model, model->degree, out.variance != nullptr, settings) : nullptr;
  for (int t = 0; t < plan.threads; ++t) {
    scratch[t] = local_fit::new_scratch(model, wanted, out.variance != nullptr, settings->lower,
                                        out.columns, out.derivative > 0 || out.centred);
    scratch[t].shared_ok = shared_ok;
    if (tree != nullptr) local_fit::attach_fast_sums(scratch[t], tree);
  }
  const std::int64_t slots = in_order ? plan.threads * plan.chunk : plan.round;
  fit_trouble* troubles = host_alloc_array<fit_trouble>(slots);
  fit_job job{model,      xq,
              outputs,    scratch,
              troubles,   plan.round,
              plan.chunk, wanted ? fitter_for<true>(plan.lanes) : fitter_for<false>(plan.lanes),
              settings,   ascending,
              kind};
  if (items > 0) run_parallel(parallel_task{&job, fit_chunk, note_round}, items, plan);
  for (std::int32_t c = 0; c < out.columns && collect; ++c) note_in_query_order(job, n, c);
  host_free(kind);
  host_free(troubles);
  for (int t = 0; t < plan.threads; ++t) local_fit::free_scratch(scratch[t]);
  host_free(scratch);
  free_moment_tree(tree);
}
