// fit_polynomial on arbitrary points, weights, smoothing weights and
// interval ends: it must not crash, must release everything but the fit it
// returns (and that through free_polynomial), and may write only its
// whole-line diagnostics, with a null result exactly when it reports one.
// Without smoothing, the local fits' kernels (the fused power sums and the
// Gauss-Jordan solve) must give its coefficients bit for bit (NaN for NaN)
// and its lines.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "numeric/lanes.h"
#include "numeric/matrix.h"
#include "numeric/normal_sums.h"
#include "numeric/reference/polyfit.h"
#include "numeric/solve.h"

namespace {

// Up to 40 coefficients over at most 40 points. The module allows 101
// coefficients, but one such inversion costs ~10 ms under coverage
// instrumentation and such inputs would crowd out the rest of the corpus.
constexpr std::int32_t FUZZ_MAX_NCOEF = 40;
constexpr std::size_t MAX_POINTS = 40;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::reader in(data, size);
  const std::uint8_t mode = in.byte();
  // Small fits are the common case; three high bits set ask for up to the
  // maximum.
  const std::int32_t ncoef =
      static_cast<std::int32_t>((mode & 0xe0) == 0xe0 ? in.upto(FUZZ_MAX_NCOEF) : in.upto(13));
  const std::int32_t npts = 1 + static_cast<std::int32_t>(in.upto(MAX_POINTS - 1));
  const auto count = static_cast<std::size_t>(npts);
  const std::vector<double> xs = in.values(count);
  const std::vector<double> ys = in.values(count);
  std::vector<double> ws = in.values(count);
  if ((mode & 1) != 0)
    for (double& w : ws) w = w < 0 ? -w : w;  // the smoother's weights are never negative
  double smoothness = 0.0;
  switch ((mode >> 1) & 3) {
    case 0: break;
    case 1: smoothness = 1.0; break;
    default: smoothness = in.value(0); break;
  }
  const double lo = in.value(0);
  const double hi = in.value(1);

  fuzz::stderr_capture capture;
  bool fitted = false;
  std::int32_t got_ncoef = -1;
  std::vector<double> coef;
  const auto o = standin::within_call([&] {
    poly_fit* fit =
        fit_polynomial(ncoef, npts, xs.data(), ys.data(), ws.data(), smoothness, lo, hi);
    fitted = fit != nullptr;
    if (fit != nullptr) {
      got_ncoef = fit->ncoef;
      coef.assign(fit->coef, fit->coef + fit->ncoef);
      (void)eval_polynomial(fit, lo);
      free_polynomial(fit);
    }
  });
  const std::string err = capture.finish();
  fuzz::require(o.ok, "fit_polynomial ended the call", o.error);
  fuzz::require_clean_storage(o);
  fuzz::require(o.blocks_left == 0, "fit_polynomial left a block live");
  fuzz::require_diagnostics(err);
  if (ncoef <= 0) {
    fuzz::require(!fitted && o.allocations == 0, "fit with no coefficients");
    return 0;
  }
  if (smoothness == 0.0 && ncoef <= MAX_NCOEF) {
    fuzz::stderr_capture kernel_capture;
    std::vector<double> kernel;
    const auto k = standin::within_call([&] {
      std::vector<double> sums(static_cast<std::size_t>(3 * ncoef - 1));
      const double* const x2[2] = {xs.data(), xs.data()};
      const double* const y2[2] = {ys.data(), ys.data()};
      double* const s2[2] = {sums.data(), sums.data()};
      auto given = [&ws](std::int32_t i, v2d x) {
        return weighted_point<v2d>{v2d{ws[i], ws[i]}, x};
      };
      normal_sums(ncoef, npts, x2, y2, given, s2);
      double** sys = alloc_rows(ncoef + 1, ncoef);
      double** work = alloc_rows(ncoef, ncoef);
      double** inv = alloc_rows(ncoef, ncoef);
      fill_normal_system(sys, ncoef, sums.data(), 1.0);
      const fit_trouble t = gauss_jordan(sys, work, inv, ncoef);
      write_trouble(t);
      if (!t.singular) {
        kernel.resize(static_cast<std::size_t>(ncoef));
        solve_coefficients(inv, sys[ncoef], kernel.data(), ncoef);
      }
      free_rows(sys, ncoef + 1);
      free_rows(work, ncoef);
      free_rows(inv, ncoef);
    });
    const std::string kernel_err = kernel_capture.finish();
    fuzz::require(k.ok && k.blocks_left == 0, "the kernels ended the call or left a block");
    fuzz::require(kernel_err == err, "the kernels wrote other lines than fit_polynomial",
                  kernel_err);
    fuzz::require(fuzz::same_values(kernel, coef),
                  "the kernels' coefficients are not fit_polynomial's");
  }
  if (fitted) {
    // Infinite smoothness turns three or more coefficients into a line.
    const bool line = smoothness == 1.0 && ncoef >= 3;
    fuzz::require(got_ncoef == (line ? 2 : ncoef), "wrong coefficient count");
  } else {
    fuzz::require(err.find("Error: Singular matrix") != std::string::npos ||
                      err.find("Confounding weighting") != std::string::npos,
                  "null fit without a diagnostic", err);
  }
  return 0;
}
