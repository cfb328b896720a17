#include "smoother/r_rules/lowess.h"

#include <algorithm>
#include <cmath>

#include "host/services.h"

namespace {

double cube(double v) { return v * v * v; }
double square(double v) { return v * v; }

// Orders NaN after every number, so that a NaN residual never makes the
// median.
bool residual_less(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

}  // namespace

double six_median(double* a, std::int32_t n) {
  const std::int32_t m1 = n / 2;
  std::nth_element(a, a + m1, a + n, residual_less);
  if (n % 2 != 0) return 6.0 * a[m1];
  const double upper = a[m1];
  std::nth_element(a, a + m1 - 1, a + n, residual_less);
  return 3.0 * (upper + a[m1 - 1]);
}

double cut_bisquare(double r, double cmad) {
  if (r <= 0.001 * cmad) return 1.0;
  return r <= 0.999 * cmad ? square(1.0 - square(r / cmad)) : 0.0;
}

std::int32_t lowess_window(std::int32_t n, double f) {
  const double w = f * n + 1e-7;
  // Clamped before the conversion, which a huge or NaN span would overflow.
  const std::int32_t ns = w >= n ? n : (w >= 2.0 ? static_cast<std::int32_t>(w) : 2);
  return std::max<std::int32_t>(2, std::min(n, ns));
}

bool lowess_fit(const double* x, const double* y, std::int32_t n, double xs, std::int32_t left,
                std::int32_t right, const double* prior, const double* robust, double range,
                double* w, double* value) {
  const double below = xs - x[left];
  const double above = x[right] - xs;
  const double h = below < above ? above : below;
  const double h9 = 0.999 * h;
  const double h1 = 0.001 * h;
  double a = 0.0;
  std::int32_t j = left;
  for (; j < n; ++j) {
    w[j] = 0.0;
    const double r = std::fabs(x[j] - xs);
    if (r <= h9) {
      w[j] = r <= h1 ? 1.0 : cube(1.0 - cube(r / h));
      if (prior != nullptr) w[j] *= prior[j];
      if (robust != nullptr) w[j] *= robust[j];
      a += w[j];
    } else if (x[j] > xs) {
      break;
    }
  }
  const std::int32_t end = j;  // the points taken are [left, end)
  if (!(a > 0.0)) return false;
  for (j = left; j < end; ++j) w[j] /= a;
  if (h > 0.0) {
    // The weighted line through the weighted mean, unless the points'
    // weighted spread is too small against the data's range.
    double mean = 0.0;
    for (j = left; j < end; ++j) mean += w[j] * x[j];
    double b = xs - mean;
    double c = 0.0;
    for (j = left; j < end; ++j) c += w[j] * square(x[j] - mean);
    if (std::sqrt(c) > 0.001 * range) {
      b /= c;
      for (j = left; j < end; ++j) w[j] *= (b * (x[j] - mean) + 1.0);
    }
  }
  double v = 0.0;
  for (j = left; j < end; ++j) v += w[j] * y[j];
  *value = v;
  return true;
}

std::int32_t lowess_left(const double* x, std::int32_t n, std::int32_t window, double xs) {
  // The window moves up while its first point lies farther from xs than
  // the point after its last: the first place where it does not.
  std::int32_t lo = 0;
  std::int32_t hi = n - window;
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (xs - x[mid] > x[mid + window] - xs)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

lowess_result lowess_smooth(const double* x, const double* y, const double* prior, std::int32_t n,
                            double f, std::int32_t iterations, double delta, double* fitted,
                            double* robust, double* work) {
  lowess_result result;
  for (std::int32_t i = 0; i < n; ++i) robust[i] = 1.0;
  if (n < 2) {
    if (n == 1) fitted[0] = y[0];
    return result;
  }
  double* w = work;
  double* residual = work + n;
  const double range = x[n - 1] - x[0];
  const std::int32_t ns = lowess_window(n, f);
  std::uint32_t fits = 0;
  for (std::int32_t pass = 0;; ++pass) {
    const double* rw = pass > 0 ? robust : nullptr;
    std::int32_t left = 0;
    std::int32_t last = -1;
    std::int32_t i = 0;
    for (;;) {
      if (left + ns < n) {
        const double d1 = x[i] - x[left];
        const double d2 = x[left + ns] - x[i];
        if (d1 > d2) {
          ++left;
          continue;
        }
      }
      // Only the calling thread runs these fits: it may ask the host.
      if ((++fits & 1023) == 0 && host_interrupt_pending()) host_interrupted();
      if (!lowess_fit(x, y, n, x[i], left, left + ns - 1, prior, rw, range, w, &fitted[i]))
        fitted[i] = y[i];
      // The points skipped since the last fit, on the line between the two;
      // ties of either end take its fit, also where the other end's is no
      // number (R's line would give them NaN times 0).
      if (last < i - 1) {
        const double denom = x[i] - x[last];
        for (std::int32_t j = last + 1; j < i; ++j) {
          const double alpha = (x[j] - x[last]) / denom;
          fitted[j] = x[j] == x[i]      ? fitted[i]
                      : x[j] == x[last] ? fitted[last]
                                        : alpha * fitted[i] + (1.0 - alpha) * fitted[last];
        }
      }
      last = i;
      // The next fit at the last point within delta; ties take this fit.
      const double cut = x[last] + delta;
      for (i = last + 1; i < n; ++i) {
        if (x[i] > cut) break;
        if (x[i] == x[last]) {
          fitted[i] = fitted[last];
          last = i;
        }
      }
      i = std::max(last + 1, i - 1);
      if (last >= n - 1) break;
    }
    double scale = 0.0;
    for (i = 0; i < n; ++i) {
      residual[i] = y[i] - fitted[i];
      scale += std::fabs(residual[i]);
    }
    scale /= n;
    if (pass >= iterations) break;
    // Six times the median absolute residual, R's way: the mean of the two
    // middle ones for an even count. `w` is free until the next pass.
    for (i = 0; i < n; ++i) w[i] = std::fabs(residual[i]);
    const double cmad = six_median(w, n);
    // R's stopping test: residuals that small are rounding.
    if (cmad < 1e-7 * scale) break;
    for (i = 0; i < n; ++i) robust[i] = cut_bisquare(std::fabs(residual[i]), cmad);
    ++result.reweightings;
  }
  return result;
}
