// Choosing the span from the data: each candidate span's smooth is made at
// every data point, and the corrected Akaike criterion (Hurvich, Simonoff
// and Tsai 1998) or generalised cross-validation judges it from its
// residuals and the trace of its smoother matrix (smoother/stages/intervals.h).
#ifndef QUIBRA_SMOOTHER_SPAN_H
#define QUIBRA_SMOOTHER_SPAN_H

#include <cstdint>

#include "smoother/model.h"
#include "smoother/settings.h"

enum class span_rule { aicc, gcv };

// With n points, RSS the weighted sum of squared residuals and enp the
// trace of L: AICc = log(RSS/n) + 1 + 2 (enp + 1) / (n - enp - 2), GCV =
// n RSS / (n - enp)^2; +Inf where the denominator is not positive.
double span_criterion(span_rule rule, std::int32_t n, double rss, double enp);

// What the search evaluated, ascending by span, and what it chose.
struct span_search {
  double span;
  std::int32_t count;  // candidates evaluated
  double* spans;       // count of them; the caller releases them
  double* values;      // the criterion at each
};

// Chooses, among the windows of spans lo to hi (0 < lo <= hi; none below
// degree + 2 points), the one of least criterion, and gives `model` that
// span and window. The search: a geometric grid of windows, then rounds
// that try windows between the best one's neighbours until none is left
// between them. A candidate with a failed fit is +Inf, and NaN never wins;
// with no finite value the largest window is taken. Fits run by `settings`
// (Delta, threads) but report nothing.
span_search choose_span(smooth_model* model, span_rule rule, double lo, double hi,
                        const fit_settings* settings);

#endif
