#include "numeric/reference/smoothness.h"

#include "host/storage.h"

double rescale_smoothness(double lambda, std::int32_t npts, const double* ws) {
  double total = 0.0;
  for (std::int32_t i = 0; i < npts; ++i) total += ws[i];
  const double n = static_cast<double>(npts);
  return lambda * (total / ((total - n) * lambda + n));
}

void add_curvature_penalty(double** m, std::int32_t ncoef, double lambda, double lo, double hi) {
  // p[k] = lambda * (hi^(k+1) - lo^(k+1)), by two running products.
  const std::int32_t np = 2 * ncoef - 5;
  double* p = host_alloc_array<double>(np);
  double a = lambda * hi;
  double b = lambda * lo;
  p[0] = a - b;
  for (std::int32_t k = 1; k < np; ++k) {
    b = b * lo;
    a = a * hi;
    p[k] = a - b;
  }
  // integral of r(r-1) x^(r-2) * c(c-1) x^(c-2) = r(r-1)c(c-1)/(r+c-3) * x^(r+c-3)
  for (std::int32_t r = 2; r < ncoef; ++r) {
    for (std::int32_t c = 2; c < ncoef; ++c) {
      const std::int32_t num = r * (r - 1) * c * (c - 1);
      m[r][c] = m[r][c] + static_cast<double>(num) / static_cast<double>(r + c - 3) * p[r + c - 4];
    }
  }
  host_free(p);
}
