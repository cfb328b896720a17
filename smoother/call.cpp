// A call is a pipeline of stages, each taking what the one before made:
//   prepare_data   the model: points taking part, sorted, weighed, windowed
//   choose_span    an automatic span, on the plain smooth
//   robustify      the robustness passes, which reweight the model
//   evaluate_pages the smooth at the queries, a page per derivative order
//   finish_band    the summary at the data, and the bands around the values
//   report         what a second result says of the data and the window
// R's conventions run pipelines of their own (smoother/r_rules/conventions.h).
#include "smoother/call.h"

#include <cmath>
#include <limits>

#include "host/storage.h"
#include "smoother/stages/band.h"
#include "smoother/stages/evaluate.h"
#include "smoother/stages/prepare.h"
#include "smoother/stages/report.h"

namespace {

// Whether the columns of a call can share one model and its fits: which
// points take part and every fit's weights must not depend on the
// ordinates, so no robust passes (each leaves out its own column's
// outliers, and the windows part ways), no span chosen on them and no
// points left out by them ('Missing' 'omit' leaves out none when no
// ordinate is NaN).
bool columns_share(const smooth_request& r, const fit_settings* settings) {
  // The fast sums make each column's sums from its own moments.
  if (r.columns <= 1 || r.robust || r.choose_span || settings->fast) return false;
  if (!r.choice.omit_missing) return true;
  const std::int64_t all = static_cast<std::int64_t>(r.count) * r.columns;
  for (std::int64_t i = 0; i < all; ++i)
    if (std::isnan(r.y[i])) return false;
  return true;
}

// The stages for r's columns, which share their fits when `share`, or for
// its one column.
void run_stages(const smooth_request& r, bool share, fit_settings* settings, smooth_outputs* o) {
  const std::int32_t columns = share ? r.columns : 1;
  // What stands when no pass runs, with no data point taking part.
  for (std::int32_t c = 0; c < columns; ++c) {
    o[c].robust.outcome = robust_outcome::abandoned;
    o[c].robust.scale = std::numeric_limits<double>::quiet_NaN();
  }
  prepared_data p = prepare_data(r, share);
  if (r.choose_span) o->search = choose_span(p.model, r.rule, r.span_lo, r.span_hi, settings);
  // On failure the model stays as built; with no data point there is nothing to reweight.
  double* robust_weights = r.report && r.robust ? host_alloc_array<double>(r.count) : nullptr;
  if (r.robust && p.points > 0)
    o->robust = robustify(p.model, settings, r.max_passes, robust_weights);
  const bool band = r.report && r.band != band_kind::none;
  data_fits fits = band ? begin_band(r, p, o->robust) : data_fits{};
  evaluate_pages(r, p, settings, o, band ? &fits : nullptr);
  if (band) finish_band(r, p, &fits, o);
  report(r, &p, robust_weights, o);
  host_free(robust_weights);
}

}  // namespace

void column_by_column(const smooth_request& r, fit_settings* settings, smooth_outputs* o,
                      void (*column_call)(const smooth_request&, fit_settings*, smooth_outputs*)) {
  smooth_request column = r;
  column.columns = 1;
  for (std::int32_t c = 0; c < r.columns; ++c) {
    column.y = r.y + static_cast<std::int64_t>(c) * r.count;
    column_call(column, settings, o + c);
    if (c + 1 < r.columns) {
      free_model(o[c].model);
      o[c].model = nullptr;
    }
  }
}

void smooth_call(const smooth_request& r, fit_settings* settings, smooth_outputs* o) {
  if (!columns_share(r, settings))
    return column_by_column(r, settings, o,
                            [](const smooth_request& column, fit_settings* s, smooth_outputs* out) {
                              run_stages(column, false, s, out);
                            });
  run_stages(r, true, settings, o);
}

void release_outputs(smooth_outputs* out) {
  host_free(out->search.spans);
  host_free(out->search.values);
  out->search.spans = out->search.values = nullptr;
}
