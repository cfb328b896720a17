// Power moments of weighted points, and their move from one coordinate to
// another: what the fast sums of the local fits are made of
// (smoother/moments/moment_tree.h). A set of points with weights w, kept as its
// moments sum w u^k in a coordinate u of its own (centred on the set, scaled
// to its half-width), gives its moments in any other coordinate c = a u + d
// by the binomial theorem; both a and d stay within [-1, 1] when the set
// lies within the window the new coordinate belongs to, so the move loses
// no more than the sums themselves.
#ifndef QUIBRA_NUMERIC_MOMENTS_H
#define QUIBRA_NUMERIC_MOMENTS_H

#include <cstdint>

// Adds to out[0..top] the moments in c = a u + d of a set whose moments in
// u are m[0..top]: out[p] += sum_k C(p, k) a^k d^(p - k) m[k]. The scaled
// moments a^k m[k] are shifted by d in place, one Pascal step at a time,
// so no binomial coefficient or power of d is formed. `work` has room for
// top + 1 doubles.
inline void move_moments(const double* m, std::int32_t top, double a, double d, double* work,
                         double* out) {
  double power = 1.0;
  for (std::int32_t k = 0; k <= top; ++k) {
    work[k] = power * m[k];
    power *= a;
  }
  // Horner's Taylor shift: index j is complete after step j.
  for (std::int32_t i = 1; i <= top; ++i)
    for (std::int32_t j = top; j >= i; --j) work[j] = work[j] + d * work[j - 1];
  for (std::int32_t p = 0; p <= top; ++p) out[p] += work[p];
}

// The moments sum w c^k (k <= top) and sum w y c^k (k <= top_y) of the
// points i in [first, end) of (x, y, w), in c = (x - z) / s, added to m
// and my; w null means all weights 1.
inline void point_moments(const double* x, const double* y, const double* w, std::int32_t first,
                          std::int32_t end, double z, double s, std::int32_t top,
                          std::int32_t top_y, double* m, double* my) {
  for (std::int32_t i = first; i < end; ++i) {
    const double c = s != 0.0 ? (x[i] - z) / s : 0.0;
    const double wi = w != nullptr ? w[i] : 1.0;
    double p = wi;
    double py = wi * y[i];
    for (std::int32_t k = 0; k <= top; ++k) {
      m[k] += p;
      if (k <= top_y) my[k] += py;
      p *= c;
      py *= c;
    }
  }
}

// The tricube weight (1 - t^3)^3 of t = sigma (alpha c + beta), sigma = 1
// or -1, as a polynomial in c: coef[0..9]. On one side of a query every
// point's distance is such a t (inside its window's span the fit's
// coordinate is the distance itself over h: alpha = 1, beta = 0).
inline void tricube_polynomial(double alpha, double beta, double sigma, double coef[10]) {
  // g = -t^3 = -sigma (alpha c + beta)^3, and (1 + g)^3.
  double g[4] = {beta * beta * beta, 3.0 * alpha * beta * beta, 3.0 * alpha * alpha * beta,
                 alpha * alpha * alpha};
  for (double& v : g) v = -sigma * v;
  double g2[7] = {};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) g2[i + j] += g[i] * g[j];
  double g3[10] = {};
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < 4; ++j) g3[i + j] += g2[i] * g[j];
  for (int k = 0; k < 10; ++k) {
    coef[k] = g3[k];
    if (k < 7) coef[k] += 3.0 * g2[k];
    if (k < 4) coef[k] += 3.0 * g[k];
  }
  coef[0] += 1.0;
}

// The square of a polynomial of degree 9: coef2[0..18].
inline void square_polynomial(const double coef[10], double coef2[19]) {
  for (int k = 0; k < 19; ++k) coef2[k] = 0.0;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j) coef2[i + j] += coef[i] * coef[j];
}

#endif
