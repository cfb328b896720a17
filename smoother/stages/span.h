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

// The most candidates a search evaluates.
inline constexpr std::int32_t SPAN_MOST_CANDIDATES = 18;

// How good the window of q points is: the criterion of its smooth, +Inf
// where a fit failed.
struct window_judge {
  void* context;
  double (*criterion)(void* context, std::int32_t q);
};

// The windows a search judged, ascending, and the one it chose.
struct window_choice {
  std::int32_t window = 0;
  std::int32_t count = 0;
  std::int32_t windows[SPAN_MOST_CANDIDATES] = {};
  double values[SPAN_MOST_CANDIDATES] = {};
};

// The search below among the windows q_lo to q_hi, whatever the smooth.
window_choice choose_window(std::int32_t q_lo, std::int32_t q_hi, const window_judge& judge);

// What a second result reports of a search that chose `span`: each
// candidate's span (span_of(context, q)) and criterion.
span_search search_report(const window_choice& w, double span,
                          double (*span_of)(void* context, std::int32_t q), void* context);

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
