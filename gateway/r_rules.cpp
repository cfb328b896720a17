#include "gateway/r_rules.h"

#include "gateway/errors.h"
#include "smoother/r_rules/loess.h"

void check_r_options(call_options* o, bool derivative) {
  // What R's lowess and loess have no counterpart of, and what their
  // rules forbid. A surface's band is R's loess's own.
  const smooth_request& r = o->request;
  const bool lowess = r.rules == convention::lowess;
  if (o->settings.fast) fail(lowess ? errors::lowess_fast : errors::loess_fast);
  const char* other = derivative                                 ? "'Derivative'"
                      : r.band != band_kind::none && r.dims == 1 ? "'Intervals'"
                      : r.choose_span                            ? "an automatic 'Span'"
                      : r.window_points > 0                      ? "'Window'"
                      : o->settings.lower                        ? "'Fallback' 'lower'"
                      : o->span_range_given                      ? "'SpanRange'"
                      : !lowess && o->delta_given                ? "'Delta'"
                                                                 : nullptr;
  if (other != nullptr) fail(lowess ? errors::lowess_other : errors::loess_other, other);
  if (o->delta_given) o->request.lowess_delta = o->settings.delta;
  if (o->passes_given) o->request.reweightings = o->request.max_passes;
}

void r_defaults(smooth_request* r, bool degree_given, bool f_default) {
  if (r->rules == convention::lowess) {
    // R's defaults: local lines, span 2/3.
    if (degree_given && r->degree != 1) fail(errors::lowess_degree);
    r->degree = 1;
    if (f_default) r->f = 2.0 / 3.0;
  } else if (r->rules == convention::loess) {
    // R's defaults: local quadratics, span 0.75.
    if (r->degree > 2) fail(errors::loess_degree);
    if (f_default) r->f = 0.75;
  }
}

void check_loess_windows(const smooth_request& r, const double* y) {
  data_choice kept = r.choice;
  kept.weights = nullptr;
  const std::int32_t window = loess_window(count_taking_part(kept, r.count, r.x, y), r.f);
  if (window < r.degree + 1) fail(errors::loess_span, r.degree + 1, window);
}
