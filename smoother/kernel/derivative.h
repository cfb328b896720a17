// A derivative of the local polynomial at its query. Each fit is made in
// the coordinate c = (x - z) / sc, so its Taylor coefficient of order d at
// the query, a_d (the coefficient itself where the query is the centre,
// z = xq), gives the d-th derivative d! a_d / sc^d in units of y per unit
// of x to the d. Everything is worked out for a_d, which is linear in the
// ordinates like the value (its row of the inverse, its variance factor),
// and scaled once at the end.
#ifndef QUIBRA_SMOOTHER_DERIVATIVE_H
#define QUIBRA_SMOOTHER_DERIVATIVE_H

#include <cstdint>

namespace local_fit {

// u with a_d = sum_j u_j coef_j for a polynomial of n coefficients at cq:
// u_j = C(j, d) cq^(j - d) for j >= d, 0 below (and everywhere when d >= n,
// as the polynomial has no such term). At the centre (cq = 0) u is e_d.
inline void taylor_weights(std::int32_t d, std::int32_t n, bool at_zero, double cq, double* u) {
  for (std::int32_t j = 0; j < n; ++j) u[j] = 0.0;
  if (d >= n) return;
  u[d] = 1.0;
  if (at_zero) return;
  double binomial = 1.0;
  double power = 1.0;
  for (std::int32_t j = d + 1; j < n; ++j) {
    binomial = binomial * static_cast<double>(j) / static_cast<double>(j - d);
    power = power * cq;
    u[j] = binomial * power;
  }
}

// d! a / sc^d: one division per order, so that no power of sc overflows
// on its own.
inline double derivative_from(double taylor, std::int32_t d, double sc) {
  double v = taylor;
  for (std::int32_t k = 2; k <= d; ++k) v = v * static_cast<double>(k);
  for (std::int32_t k = 0; k < d; ++k) v = v / sc;
  return v;
}

// The variance factor of a (in units of sigma^2) carried to the derivative.
inline double derivative_variance(double variance, std::int32_t d, double sc) {
  double v = variance;
  for (std::int32_t k = 2; k <= d; ++k) v = v * static_cast<double>(k * k);
  for (std::int32_t k = 0; k < d; ++k) v = (v / sc) / sc;
  return v;
}

}  // namespace local_fit

#endif
