#include "smoother/robust.h"

#include <cmath>

#include "host/host.h"
#include "numeric/select.h"
#include "smoother/interpolate.h"

namespace {

constexpr double RESIDUAL_SCALE = 6.0;
constexpr double WEIGHT_TOLERANCE = 1e-4;
// A residual scale below this fraction of the data's mean magnitude is
// rounding noise: reweighting on it would prune points at random.
constexpr double SCALE_FLOOR = 1e-7;

// Mean |y| of n >= 1 points, summed in their order from +0.0.
double mean_magnitude(const double* y, std::int32_t n) {
  double sum = 0.0;
  for (std::int32_t j = 0; j < n; ++j) sum += std::fabs(y[j]);
  return sum / static_cast<double>(n);
}

// The plain smooth stands: the working copy and the residuals go, the
// model stays as built, and every point keeps weight 1.
smooth_model* give_up(smooth_model* work, double* r, robust_report& rep, std::int32_t n) {
  host_free(work->x);
  host_free(work->y);
  host_free(work->weights);
  host_free(work);
  host_free(r);
  if (rep.weights != nullptr)
    for (std::int32_t j = 0; j < n; ++j) rep.weights[j] = 1.0;
  return nullptr;
}

}  // namespace

smooth_model* robustify(smooth_model* model, fit_settings* settings, int max_passes,
                        robust_report* report) {
  const std::int32_t n = model->count;
  const double* base_x = model->x;
  const double* base_y = model->y;
  const double* base_w = model->weights;
  robust_report unasked;
  robust_report& rep = report != nullptr ? *report : unasked;
  // A NaN anywhere makes the floor NaN, and no scale falls below it.
  const double floor = SCALE_FLOOR * mean_magnitude(base_y, n);

  // The working copy keeps room for every base point; pruning only shrinks its count.
  smooth_model* work = host_alloc_array<smooth_model>(1);
  work->x = host_alloc_array<double>(n);
  work->y = host_alloc_array<double>(n);
  work->weights = host_alloc_array<double>(n);
  for (std::int32_t i = 0; i < n; ++i) {
    work->x[i] = base_x[i];
    work->y[i] = base_y[i];
    work->weights[i] = base_w != nullptr ? base_w[i] : 1.0;
  }
  work->count = n;
  work->f = model->f;
  work->degree = model->degree;
  work->window = model->window;

  double* r = host_alloc_array<double>(n);  // residuals, then bisquare weights
  for (int pass = 1;; ++pass) {
    // Refit at every base point, pruned ones included. The first pass's
    // weights are all 1 unless the model brought its own, and a kernel
    // weight times 1 is itself, so that pass fits as the plain smooth does.
    double* const weights = work->weights;
    if (pass == 1 && base_w == nullptr) work->weights = nullptr;
    fit_ascending(work, base_x, n, r, settings);
    work->weights = weights;
    std::int32_t failed = 0;
    for (std::int32_t j = 0; j < n; ++j) {
      if (r[j] == FIT_FAILED) {
        ++failed;
      } else {
        r[j] = std::fabs(r[j] - base_y[j]);
      }
    }
    // FIT_FAILED ranks above every finite residual, so this is the median of the others.
    const std::int32_t k = select_rank_double(r, (n - failed) / 2, n);
    const double s = RESIDUAL_SCALE * r[k];
    rep.passes = pass;
    rep.scale = s;
    // Below the floor the working set as the previous pass left it stands;
    // in the first pass that is the plain smooth.
    if (s < floor) {
      rep.outcome = robust_outcome::exact;
      if (pass == 1) return give_up(work, r, rep, n);
      break;
    }

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
    if (sum == 0.0) {
      rep.outcome = robust_outcome::abandoned;
      return give_up(work, r, rep, n);
    }

    // Rebuild the working set from every base point, so a point pruned in
    // one pass returns once its residual falls below the cut.
    bool changed = false;
    std::int32_t dropped = 0;
    for (std::int32_t j = 0; j < n; ++j) {
      double b = (static_cast<double>(n) * r[j]) / sum;
      if (base_w != nullptr) b = b * base_w[j];
      if (rep.weights != nullptr) rep.weights[j] = b == 0.0 ? 0.0 : r[j];
      if (b == 0.0) {
        ++dropped;
        continue;
      }
      const std::int32_t slot = j - dropped;
      if (std::fabs(b - work->weights[slot]) > WEIGHT_TOLERANCE) changed = true;
      work->weights[slot] = b;
      if (work->x[slot] != base_x[j]) {
        work->x[slot] = base_x[j];
        changed = true;
      }
      work->y[slot] = base_y[j];
    }
    if (work->count != n - dropped) {
      work->count = n - dropped;
      changed = true;
    }
    work->window = window_size(work->count, work->f, work->degree);
    if (!changed) {
      rep.outcome = robust_outcome::converged;
      break;
    }
    if (pass >= max_passes) {
      rep.outcome = robust_outcome::exhausted;
      break;
    }
  }

  host_free(r);
  host_free(model->x);
  host_free(model->y);
  if (model->weights != nullptr) host_free(model->weights);
  model->x = work->x;
  model->y = work->y;
  model->weights = work->weights;
  model->count = work->count;
  model->window = work->window;
  host_free(work);
  return model;
}
