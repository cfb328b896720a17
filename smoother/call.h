// A whole call of the smoother, in the order of its work: the model of the
// data, the span's choice, the robustness passes, the evaluation at the
// queries (plain, spaced by 'Delta', with a band), and what a second
// result reports. The gateway reads the arguments into a smooth_request,
// makes this one call and writes the smooth_outputs back.
#ifndef QUIBRA_SMOOTHER_CALL_H
#define QUIBRA_SMOOTHER_CALL_H

#include <cstdint>

#include "smoother/stages/intervals.h"
#include "smoother/model.h"
#include "smoother/stages/robust.h"
#include "smoother/settings.h"
#include "smoother/stages/span.h"

// The band a call makes around its values, if any.
enum class band_kind { none, confidence, prediction };

// Whose rules a call follows: this module's, R's lowess to its rounding
// (smoother/r_rules/lowess.h), which fits local lines only, or R's loess
// (smoother/r_rules/loess.h), of degree 0 to 2; R's make no band, derivative or
// span search.
enum class convention { native, lowess, loess };

struct smooth_request {
  // The data: `count` >= 1 points (x, y) in any order; `choice` says which
  // take part (smoother/model.h).
  const double* x = nullptr;
  const double* y = nullptr;
  data_choice choice;
  // The queries: `n` abscissae. `at_data`: they are the data's own
  // abscissae, x above (no nodes), which saves a second set of fits for
  // the band and, when every point of a number abscissa takes part, a
  // second sort.
  const double* xq = nullptr;
  double f = 0.2;
  // An automatic span: chosen by `rule` among the spans span_lo to
  // span_hi, on the plain smooth, before any robustness pass; `f` is then
  // not used.
  double span_lo = 0.0;
  double span_hi = 1.0;
  // With `report`: the band's probability.
  double level = 0.95;
  std::int32_t count = 0;
  std::int32_t columns = 1;  // y holds `count` ordinates per column, column after column
  std::int32_t n = 0;
  std::int32_t degree = 2;  // 0 to MAX_DEGREE
  // The result is this derivative of each local polynomial, 0 to `degree`
  // (0: the smooth), and so is the band; the robustness passes, the span's
  // choice and the band's sigma and dof are the smooth's.
  std::int32_t derivative = 0;
  // Several orders at once: `pages` > 1 distinct orders, page p of the
  // outputs (smooth_outputs::page) holding order orders[p]. Every page's
  // fits, the value's too, then take the centred ordinates a derivative's
  // take, so that one sigma serves them all; each derivative's page is the
  // call with that order alone, bit for bit.
  std::int32_t orders[MAX_DEGREE + 1] = {};
  std::int32_t pages = 1;
  // > 0: every window holds this many points (all when fewer take part),
  // by the span that gives it (span_for_window), in place of `f`.
  std::int32_t window_points = 0;
  int max_passes = ROBUST_MAX_PASSES;
  convention rules = convention::native;
  // With R's conventions: the reweightings a robust call makes (lowess's
  // iter, loess's iterations less one: 3 by default in both); with lowess,
  // R's delta, below 0 for R's default, 1% of the range of the abscissae
  // taking part.
  std::int32_t reweightings = 3;
  double lowess_delta = -1.0;
  span_rule rule = span_rule::aicc;
  band_kind band = band_kind::none;  // only with `report`
  // Predictors: 1, or 2 to 4 for a surface (smoother/surface/surface_call.h),
  // whose x and xq then hold a column of `count` and `n` rows per
  // predictor, each scaled by its trimmed spread when `normalize`.
  std::int32_t dims = 1;
  bool normalize = true;
  bool at_data = false;
  bool robust = false;
  bool choose_span = false;
  // Whether what a second result reports is gathered (smooth_outputs).
  bool report = false;
};

// Where a call's results go. The caller gives the arrays; the call fills
// them and the fields below them.
struct smooth_outputs {
  double* value =
      nullptr;  // n: the smooth (or its derivative) at each query, FIT_FAILED where its fit failed
  // With `report`: room for `count`, in the data's order: each point's
  // robustness weight (robustify's, 1 without passes), 0 where it took no
  // part.
  double* weights = nullptr;
  // With `report` and a band: n each, NaN where the fit failed.
  double* se = nullptr;
  double* lower = nullptr;
  double* upper = nullptr;
  // With `report` and fit_settings::lower: n, 1 where the value came from
  // a lowered fit (or is interpolated next to one).
  std::uint8_t* lowered = nullptr;
  // With `report`: n, 1 where the value's fit was unstable (fit_outputs).
  std::uint8_t* unstable = nullptr;
  // With several orders: how far each of the arrays above (but `weights`)
  // lies from the same array of the order before.
  std::int64_t page = 0;

  // With `report`: how the passes went (the outcome only means something
  // after a robust call), the final window, and with a band the summary of
  // the smooth at the data points.
  robust_report robust;
  std::int32_t window = 0;
  smoother_summary summary;
  // With an automatic span: what the search tried and chose. Its arrays
  // are the call's, released by release_outputs.
  span_search search{};
  // The final model, handed over: the host reclaims it with the call (of
  // several columns only the last's; the others are released).
  smooth_model* model = nullptr;
};

// Page p of a column's outputs: every array but `weights` moved on by p
// pages.
inline smooth_outputs page_of(const smooth_outputs& o, std::int32_t p) {
  const std::int64_t offset = p * o.page;
  const auto at = [offset](auto* a) { return a != nullptr ? a + offset : a; };
  smooth_outputs page = o;
  page.value = o.value + offset;  // always given
  page.se = at(o.se);
  page.lower = at(o.lower);
  page.upper = at(o.upper);
  page.lowered = at(o.lowered);
  page.unstable = at(o.unstable);
  return page;
}

// Runs the whole call by this module's rules (r.rules native; R's run
// by r_convention_call, smoother/r_rules/conventions.h), column after column: `out` holds one smooth_outputs
// per column of ordinates, each with the bits and lines of a call with that
// column alone; their values (and lowered flags) lie column after column,
// out[c].value = out[0].value + c n, so that columns can be fitted together. Fits run, note their
// trouble and report it by `settings` (Delta, threads, diagnostics; the trouble counts accumulate).
// When the user interrupts, the call ends through the host's error exit
// (host_interrupted) once no worker runs, and no output is returned.
void smooth_call(const smooth_request& request, fit_settings* settings, smooth_outputs* out);

// Runs `column_call` on each column of r alone, as a request of one
// column into its own outputs; of the models they hand over only the last
// column's outlives the call.
void column_by_column(const smooth_request& r, fit_settings* settings, smooth_outputs* o,
                      void (*column_call)(const smooth_request&, fit_settings*, smooth_outputs*));

// Releases what the outputs hold of the call's storage (the search's
// arrays).
void release_outputs(smooth_outputs* out);

#endif
