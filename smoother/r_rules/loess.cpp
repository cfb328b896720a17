#include "smoother/r_rules/loess.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "host/storage.h"
#include "numeric/pseudo_solve.h"
#include "smoother/fits/parallel.h"
#include "smoother/model.h"
#include "smoother/r_rules/lowess.h"

namespace {

double square(double v) { return v * v; }
double cube(double v) { return v * v * v; }

struct loess_job {
  const loess_data* data;
  const double* q;
  double* out;
  double* const* work;
};

void fit_items(void* context, int worker, std::int64_t begin, std::int64_t end) {
  const loess_job& job = *static_cast<const loess_job*>(context);
  for (std::int64_t i = begin; i < end; ++i)
    job.out[i] = loess_fit(*job.data, job.q[i], job.work[worker]);
}

// A window all at q: the weighted mean of every point at q (the window
// may hold only some of them), their tricube weights being 1.
double at_query(const loess_data& d, double q, std::int32_t inside) {
  std::int32_t first = inside;
  while (first > 0 && square(d.x[first - 1] - q) == 0.0) --first;
  double sum = 0.0;
  double total = 0.0;
  for (std::int32_t i = first; i < d.n && square(d.x[i] - q) == 0.0; ++i) {
    const double weight = d.weights != nullptr ? d.weights[i] : 1.0;
    sum += weight * d.y[i];
    total += weight;
  }
  return total > 0.0 ? sum / total : FIT_FAILED;
}

}  // namespace

std::int32_t loess_window(std::int32_t n, double f) {
  const double nf = static_cast<double>(n) * f;
  // Compared before the conversion, which a huge span would overflow.
  if (!(nf < n)) return n;
  return nf >= 1.0 ? static_cast<std::int32_t>(nf) : 0;
}

std::int64_t loess_work(const loess_data& d) {
  return static_cast<std::int64_t>(d.degree + 2) * d.window;
}

double loess_fit(const loess_data& d, double q, double* work) {
  if (!std::isfinite(q)) return std::numeric_limits<double>::quiet_NaN();
  const std::int32_t nf = d.window;
  const std::int32_t k = d.degree + 1;
  // The nearest nf points: the window that R's lowess would place there.
  const std::int32_t left = lowess_left(d.x, d.n, nf, q);
  const double* x = d.x + left;
  const double* y = d.y + left;
  const double* r = d.weights != nullptr ? d.weights + left : nullptr;
  double rho = square(x[0] - q);
  if (square(x[nf - 1] - q) > rho) rho = square(x[nf - 1] - q);
  rho *= d.f > 1.0 ? d.f : 1.0;
  if (rho == 0.0) return at_query(d, q, left);
  double* w = work;
  double* eta = work + static_cast<std::int64_t>(k) * nf;
  for (std::int32_t i = 0; i < nf; ++i) {
    const double weight = r != nullptr ? r[i] : 1.0;
    w[i] = std::sqrt(weight * cube(1.0 - cube(std::sqrt(square(x[i] - q) / rho))));
  }
  for (std::int32_t p = 1; p < k; ++p) {
    double* column = w + static_cast<std::int64_t>(p) * nf;
    for (std::int32_t i = 0; i < nf; ++i)
      column[i] = p == 1 ? w[i] * (x[i] - q) : w[i] * square(x[i] - q);
  }
  for (std::int32_t i = 0; i < nf; ++i) eta[i] = w[i] * y[i];
  double coef[PSEUDO_MAX_COLUMNS];
  return pseudo_solve(w, nf, k, eta, coef) ? coef[0] : FIT_FAILED;
}

void loess_fits(const loess_data& d, const double* q, std::int64_t m, const fit_settings* settings,
                double* out) {
  if (m <= 0) return;
  const run_plan plan = plan_run(settings, m, d.window, d.degree);
  // Each thread's work, taken here on the calling thread.
  double** work = host_alloc_array<double*>(plan.threads);
  for (int t = 0; t < plan.threads; ++t) work[t] = host_alloc_array<double>(loess_work(d));
  loess_job job{&d, q, out, work};
  run_parallel(parallel_task{&job, fit_items, nullptr}, m, plan);
  for (int t = 0; t < plan.threads; ++t) host_free(work[t]);
  host_free(work);
}

void loess_robustness(const double* residual, std::int32_t n, double* robust, double* work) {
  for (std::int32_t i = 0; i < n; ++i) work[i] = std::fabs(residual[i]);
  const double cmad = n > 0 ? six_median(work, n) : 0.0;
  const bool scaled = cmad >= DBL_MIN;
  for (std::int32_t i = 0; i < n; ++i) {
    const double r = std::fabs(residual[i]);
    robust[i] = scaled && !std::isnan(r) ? cut_bisquare(r, cmad) : 1.0;
  }
}

void loess_pseudovalues(const double* y, const double* fitted, const double* prior,
                        const double* robust, std::int32_t n, double* out, double* work) {
  // out holds the residuals until the pseudovalues replace them.
  for (std::int32_t i = 0; i < n; ++i) out[i] = y[i] - (fitted[i] == FIT_FAILED ? 0.0 : fitted[i]);
  for (std::int32_t i = 0; i < n; ++i)
    work[i] = std::fabs(out[i]) * (prior != nullptr ? std::sqrt(prior[i]) : 1.0);
  const double cmad = n > 0 ? six_median(work, n) : 0.0;
  const double c = (cmad * cmad) / 5.0;
  double sum = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    const double w = prior != nullptr ? prior[i] : 1.0;
    sum += (1.0 - ((out[i] * out[i]) * w) / c) * std::sqrt(robust[i]);
  }
  const double scale = static_cast<double>(n) / sum;
  for (std::int32_t i = 0; i < n; ++i) {
    const double yhat = fitted[i] == FIT_FAILED ? 0.0 : fitted[i];
    out[i] = yhat + (scale * robust[i]) * out[i];
  }
}
