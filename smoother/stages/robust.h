// Bisquare robustness iterations: refit every point, weight residuals by
// (1 - (r / 6m)^2)^2 with m the median absolute residual, drop points whose
// weight is 0, and repeat until nothing moves by more than 1e-4 or the pass
// limit is reached. The scale 6m has a floor: once it falls below 1e-7
// times the mean |y| (when that is finite), the residuals are rounding
// noise and reweighting stops.
#ifndef QUIBRA_SMOOTHER_ROBUST_H
#define QUIBRA_SMOOTHER_ROBUST_H

#include <cstdint>

#include "smoother/model.h"
#include "smoother/settings.h"

// The most passes, and the default.
inline constexpr int ROBUST_MAX_PASSES = 100;

// How the passes ended. `exact`: the scale fell below the floor, so the
// points are fitted up to rounding; in the first pass the model stays as
// built, later the previous pass's points and weights stand. `abandoned`:
// every bisquare weight was 0, the model stays as built. `nonfinite`: the
// scale was no finite number (NaN or infinite residuals), so nothing could
// be weighed, and the model stays as built. `exhausted`: the pass limit
// came with weights still moving.
enum class robust_outcome { converged, exact, abandoned, nonfinite, exhausted };

// What robustify did.
struct robust_report {
  robust_outcome outcome = robust_outcome::converged;
  std::int32_t passes = 0;  // passes run, the last one included
  double scale = 0.0;       // the last pass's 6 x median absolute residual
  bool replaced = false;    // whether the model now holds the reweighted set
  // The caller's room for the bisquare weights (see robustify), or null.
  double* weights = nullptr;
};

// What the passes reweigh, whatever the smooth: `count` base points with
// ordinates `y`, and a working set made from them. residuals(context,
// first, r) puts |fit - ordinate| at every base point into r (FIT_FAILED
// where the fit fails; the first pass fits with the prior weights alone)
// and returns how many failed; rebuild(context, c, sum, reported) makes
// the working set anew from the base points with bisquare weights c
// (summing to `sum`), each weighed by pass_weight, leaves out those of
// weight 0, and returns whether anything moved (a weight by more than
// 1e-4, or the set); `reported`, when not null, receives each base
// point's bisquare weight, 0 for a pruned one.
struct robust_subject {
  void* context;
  std::int32_t count;
  const double* y;
  std::int32_t (*residuals)(void* context, bool first, double* r);
  bool (*rebuild)(void* context, const double* c, double sum, double* reported);
};

// A base point's weight in the next pass: its bisquare weight c of all
// `n`, normalized by their sum, times its prior weight (prior[j]; none
// when null).
double pass_weight(std::int32_t n, double c, double sum, const double* prior, std::int32_t j);

// The passes on `subject` (at most max_passes), with room `r` for a value
// per base point; report says how they ended.
void robust_passes(const robust_subject& subject, int max_passes, double* r,
                   robust_report& report);

// Whether the plain smooth stands after the passes: every point keeps
// weight 1 (every bisquare weight 0, a scale that is no number, or the
// first pass already below the floor).
bool model_stands(const robust_report& report);

// Whether a reweighted weight moved enough for another pass.
bool weight_moved(double before, double after);

// Replaces the model's points by the reweighted, reduced set, unless the
// plain smooth stands (every bisquare weight 0, a scale that is no finite
// number, or the first pass already below the floor: outcome abandoned,
// nonfinite, or exact after one pass), in which
// case the model stays exactly as it was. Runs at most `max_passes` passes
// (1 to ROBUST_MAX_PASSES). The passes' local fits run, note their trouble
// and interpolate by `settings`. `weights`, when not null, has room for the
// model's count and receives, in its (sorted) order, each point's bisquare
// weight of the last reweighting, 0 for a pruned point, or 1 for every
// point where the plain smooth stands.
robust_report robustify(smooth_model* model, fit_settings* settings,
                        int max_passes = ROBUST_MAX_PASSES, double* weights = nullptr);

#endif
