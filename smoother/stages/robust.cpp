#include "smoother/stages/robust.h"

#include <cmath>

#include "host/storage.h"
#include "numeric/select.h"
#include "smoother/fits/queries.h"

namespace {

constexpr double RESIDUAL_SCALE = 6.0;
constexpr double WEIGHT_TOLERANCE = 1e-4;
// A residual scale below this fraction of the data's mean magnitude is
// rounding noise: reweighting on it would prune points at random.
constexpr double SCALE_FLOOR = 1e-7;

// The passes' working set: a copy of the model with arrays of its own and
// room for every point, weights always present (1 where the model has
// none); pruning only shrinks its count.
smooth_model* working_copy(const smooth_model* model) {
  const std::int32_t n = model->count;
  smooth_model* copy = host_alloc_array<smooth_model>(1);
  *copy = *model;
  copy->x = host_alloc_array<double>(n);
  copy->y = host_alloc_array<double>(n);
  copy->weights = host_alloc_array<double>(n);
  for (std::int32_t i = 0; i < n; ++i) {
    copy->x[i] = model->x[i];
    copy->y[i] = model->y[i];
    copy->weights[i] = model->weights != nullptr ? model->weights[i] : 1.0;
  }
  return copy;
}

// Mean |y| of n >= 1 points, summed in their order from +0.0.
double mean_magnitude(const double* y, std::int32_t n) {
  double sum = 0.0;
  for (std::int32_t j = 0; j < n; ++j) sum += std::fabs(y[j]);
  return sum / static_cast<double>(n);
}

// r[j] = |fit of `work` at base point j - its ordinate| for every base
// point, pruned ones included, FIT_FAILED where the fit fails; returns how
// many failed. The first pass's weights are all 1 unless the base brought
// its own, and a kernel weight times 1 is itself, so that pass fits as the
// plain smooth does.
std::int32_t residuals(smooth_model* work, const smooth_model* base, bool first, double* r,
                       fit_settings* settings) {
  const std::int32_t n = base->count;
  double* const weights = work->weights;
  if (first && base->weights == nullptr) work->weights = nullptr;
  fit_outputs out;
  out.value = r;
  fit_queries(work, query_set{base->x, n, nullptr, true}, out, settings);
  work->weights = weights;
  std::int32_t failed = 0;
  for (std::int32_t j = 0; j < n; ++j) {
    if (r[j] == FIT_FAILED) {
      ++failed;
    } else {
      r[j] = std::fabs(r[j] - base->y[j]);
    }
  }
  return failed;
}

// Turns the residuals into bisquare weights of the scale s in place (0 for
// a failed fit) and returns their sum.
double bisquare(double* r, std::int32_t n, double s) {
  double sum = 0.0;
  for (std::int32_t j = 0; j < n; ++j) {
    if (r[j] == FIT_FAILED) {
      r[j] = 0.0;
      continue;
    }
    double c = 0.0;
    if (s > r[j]) {
      const double u = r[j] / s;
      const double t = u * u;
      c = (1.0 - t) * (1.0 - t);
    }
    r[j] = c;
    sum += c;
  }
  return sum;
}

// Rebuilds the working set from every base point with weights c (summing
// to `sum`), so a point pruned in one pass returns once its residual falls
// below the cut; points of weight 0 are left out. Returns whether anything
// moved: a weight by more than the tolerance, or the set itself.
// `reported`, when not null, receives each base point's bisquare weight.
bool rebuild(smooth_model* work, const smooth_model* base, const double* c, double sum,
             double* reported) {
  const std::int32_t n = base->count;
  bool changed = false;
  std::int32_t dropped = 0;
  for (std::int32_t j = 0; j < n; ++j) {
    const double b = pass_weight(n, c[j], sum, base->weights, j);
    if (reported != nullptr) reported[j] = b == 0.0 ? 0.0 : c[j];
    if (b == 0.0) {
      ++dropped;
      continue;
    }
    const std::int32_t slot = j - dropped;
    if (weight_moved(work->weights[slot], b)) changed = true;
    work->weights[slot] = b;
    if (work->x[slot] != base->x[j]) {
      work->x[slot] = base->x[j];
      changed = true;
    }
    work->y[slot] = base->y[j];
  }
  if (work->count != n - dropped) {
    work->count = n - dropped;
    changed = true;
  }
  work->window = window_size(work->count, work->f, work->degree);
  return changed;
}

// A smooth of one predictor as the passes see it: its base model and the
// working copy they reweigh.
struct curve {
  smooth_model* work;
  const smooth_model* base;
  fit_settings* settings;
};

std::int32_t curve_residuals(void* context, bool first, double* r) {
  const curve& c = *static_cast<curve*>(context);
  return residuals(c.work, c.base, first, r, c.settings);
}

bool curve_rebuild(void* context, const double* weights, double sum, double* reported) {
  const curve& c = *static_cast<curve*>(context);
  return rebuild(c.work, c.base, weights, sum, reported);
}

}  // namespace

bool weight_moved(double before, double after) {
  return std::fabs(after - before) > WEIGHT_TOLERANCE;
}

double pass_weight(std::int32_t n, double c, double sum, const double* prior, std::int32_t j) {
  const double b = (static_cast<double>(n) * c) / sum;
  return prior != nullptr ? b * prior[j] : b;
}

void robust_passes(const robust_subject& subject, int max_passes, double* r,
                   robust_report& report) {
  const std::int32_t n = subject.count;
  // The floor needs a finite mean |y|: an infinite one would put every
  // scale below it, and a NaN one none.
  const double mean = mean_magnitude(subject.y, n);
  const double floor = std::isfinite(mean) ? SCALE_FLOOR * mean : 0.0;
  for (int pass = 1;; ++pass) {
    const std::int32_t failed = subject.residuals(subject.context, pass == 1, r);
    // FIT_FAILED ranks above every finite residual, so this is the median of the others.
    const std::int32_t k = select_rank_double(r, (n - failed) / 2, n);
    const double s = RESIDUAL_SCALE * r[k];
    report.passes = pass;
    report.scale = s;
    // A scale that is no number (NaN or infinite residuals around the
    // median) cannot weigh the points. Every fit failing is another matter:
    // no residual counts, and the bisquare weights below all come out 0.
    if (!std::isfinite(s) && r[k] != FIT_FAILED) {
      report.outcome = robust_outcome::nonfinite;
      return;
    }
    // Below the floor the working set as the previous pass left it stands;
    // in the first pass that is the plain smooth.
    if (s < floor) {
      report.outcome = robust_outcome::exact;
      return;
    }
    const double sum = bisquare(r, n, s);
    if (sum == 0.0) {
      report.outcome = robust_outcome::abandoned;
      return;
    }
    if (!subject.rebuild(subject.context, r, sum, report.weights)) {
      report.outcome = robust_outcome::converged;
      return;
    }
    if (pass >= max_passes) {
      report.outcome = robust_outcome::exhausted;
      return;
    }
  }
}

bool model_stands(const robust_report& report) {
  return report.outcome == robust_outcome::abandoned ||
         report.outcome == robust_outcome::nonfinite ||
         (report.outcome == robust_outcome::exact && report.passes == 1);
}

robust_report robustify(smooth_model* model, fit_settings* settings, int max_passes,
                        double* weights) {
  const std::int32_t n = model->count;
  robust_report report;
  report.weights = weights;
  smooth_model* work = working_copy(model);
  double* r = host_alloc_array<double>(n);  // residuals, then bisquare weights
  curve c{work, model, settings};
  robust_passes(robust_subject{&c, n, model->y, curve_residuals, curve_rebuild}, max_passes, r,
                report);
  host_free(r);
  if (model_stands(report)) {
    free_model(work);
    if (weights != nullptr)
      for (std::int32_t j = 0; j < n; ++j) weights[j] = 1.0;
    return report;
  }
  host_free(model->x);
  host_free(model->y);
  host_free(model->weights);
  model->x = work->x;
  model->y = work->y;
  model->weights = work->weights;
  model->count = work->count;
  model->window = work->window;
  host_free(work);
  report.replaced = true;
  return report;
}
