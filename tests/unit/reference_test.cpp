// The module's kernels against the scalar routines that write the
// arithmetic down (numeric/reference/, smoother/reference/): the same bits
// and the same diagnostic lines, fit for fit.
#include <cmath>
#include <string>
#include <vector>

#include "fits.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/normal_sums.h"
#include "numeric/reference/polyfit.h"
#include "numeric/solve.h"
#include "smoother/reference/fit_at.h"
#include "unit_support.h"

namespace {

// Random data on a coarse grid (ties, windows with too few distinct
// abscissae), some far from zero, some with prior weights.
struct case_data {
  std::vector<double> x, y, w;
};

case_data random_case(lcg& r, int n, double offset, bool weighted) {
  case_data d;
  for (int i = 0; i < n; ++i) {
    d.x.push_back(offset + r.below(4 * n) / 8.0);
    d.y.push_back(std::sin(d.x.back() - offset) + (r.unit() - 0.5));
    d.w.push_back(weighted ? (r.below(5) == 0 ? 0.0 : 0.25 + r.unit()) : 1.0);
  }
  return d;
}

}  // namespace

// Every fit the module makes at a query (grouped in lanes, in its own
// coordinate or anchored beyond its window's span) against the reference
// local fit: values bit for bit and the same lines in the same order, on
// every lane width.
TEST(Reference, LocalFitsAreTheScalarFitsBitForBitAndLineForLine) {
  lcg r(41);
  std::vector<double> q;
  for (int i = 0; i < 60; ++i) q.push_back(-3.0 + r.below(200) / 8.0);
  q.push_back(std::nan(""));
  for (const double offset : {0.0, 738000.0}) {
    for (const bool weighted : {false, true}) {
      const case_data d = random_case(r, 90, offset, weighted);
      std::vector<double> qs(q);
      for (double& v : qs) v += offset;
      for (int degree = 0; degree <= 6; ++degree) {
        for (const double f : {0.05, 0.2, 1.0}) {
          std::vector<double> want;
          std::string want_err;
          quiet_call(
              [&] {
                smooth_model* m =
                    build_model(90, d.x.data(), d.y.data(),
                                data_choice{weighted ? d.w.data() : nullptr}, f, degree);
                for (double v : qs) want.push_back(fit_at(m, v));
              },
              &want_err);
          for (const int lanes : {2, 4, 8}) {
            if (lanes > supported_lanes()) continue;
            const scoped_env width("QUIBRA_LANES", std::to_string(lanes));
            std::vector<double> got(qs.size());
            std::string got_err;
            quiet_call(
                [&] {
                  smooth_model* m =
                      build_model(90, d.x.data(), d.y.data(),
                                  data_choice{weighted ? d.w.data() : nullptr}, f, degree);
                  fit_settings settings;
                  fit_many(m, qs.data(), static_cast<std::int32_t>(qs.size()), got.data(),
                           &settings);
                },
                &got_err);
            const std::string at = std::to_string(offset) + " " + std::to_string(weighted) + " " +
                                   std::to_string(degree) + " " + std::to_string(f) + " " +
                                   std::to_string(lanes);
            for (std::size_t i = 0; i < qs.size(); ++i)
              EXPECT_TRUE(bits(got[i]) == bits(want[i]) ||
                          (std::isnan(got[i]) && std::isnan(want[i])))
                  << at << " query " << qs[i] << ": " << got[i] << " " << want[i];
            EXPECT_EQ(got_err, want_err) << at;
          }
        }
      }
    }
  }
}

// The fused power sums and the Gauss-Jordan solve of the local fits against
// the reference normal equations and inverse, for every coefficient count
// a fit solves unrolled and some beyond.
TEST(Reference, SumsAndSolveAreTheNormalEquationsAndTheirInverse) {
  lcg r(43);
  for (int ncoef = 1; ncoef <= 8; ++ncoef) {
    for (int trial = 0; trial < 20; ++trial) {
      const int n = 3 + r.below(30);
      std::vector<double> x, y, w;
      for (int i = 0; i < n; ++i) {
        x.push_back(r.unit() * 2.0 - 1.0);
        y.push_back(r.unit() * 10.0 - 5.0);
        w.push_back(r.below(4) == 0 ? 0.0 : r.unit());
      }
      std::string ref_err, kernel_err;
      std::vector<double> ref_sys, ref_inv, kernel_sys, kernel_inv;
      quiet_call(
          [&] {
            double** sys = normal_equations(ncoef, n, x.data(), y.data(), w.data(), 0.0, 0.0, 1.0);
            for (int i = 0; i <= ncoef; ++i) ref_sys.insert(ref_sys.end(), sys[i], sys[i] + ncoef);
            double** inv = invert_matrix(sys, ncoef);
            for (int i = 0; inv != nullptr && i < ncoef; ++i)
              ref_inv.insert(ref_inv.end(), inv[i], inv[i] + ncoef);
          },
          &ref_err);
      quiet_call(
          [&] {
            std::vector<double> sums(3 * ncoef - 1);
            const double* const xs[2] = {x.data(), x.data()};
            const double* const ys[2] = {y.data(), y.data()};
            double* const out[2] = {sums.data(), sums.data()};
            auto given = [&w](std::int32_t i, v2d c) {
              return weighted_point<v2d>{v2d{w[i], w[i]}, c};
            };
            normal_sums(ncoef, n, xs, ys, given, out);
            double** sys = alloc_rows(ncoef + 1, ncoef);
            fill_normal_system(sys, ncoef, sums.data(), 1.0);
            for (int i = 0; i <= ncoef; ++i)
              kernel_sys.insert(kernel_sys.end(), sys[i], sys[i] + ncoef);
            double** work = alloc_rows(ncoef, ncoef);
            double** inv = alloc_rows(ncoef, ncoef);
            const fit_trouble t = gauss_jordan(sys, work, inv, ncoef);
            write_trouble(t);
            for (int i = 0; !t.singular && i < ncoef; ++i)
              kernel_inv.insert(kernel_inv.end(), inv[i], inv[i] + ncoef);
          },
          &kernel_err);
      EXPECT_EQ(bits(kernel_sys), bits(ref_sys)) << ncoef << " " << trial;
      EXPECT_EQ(bits(kernel_inv), bits(ref_inv)) << ncoef << " " << trial;
      EXPECT_EQ(kernel_err, ref_err) << ncoef << " " << trial;
    }
  }
}
