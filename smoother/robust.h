// Bisquare robustness iterations: refit every point, weight residuals by
// (1 - (r / 6m)^2)^2 with m the median absolute residual, drop points whose
// weight is 0, and repeat until nothing moves by more than 1e-4 or the pass
// limit is reached. The scale 6m has a floor: once it falls below 1e-7
// times the mean |y|, the residuals are rounding noise and reweighting stops.
#ifndef QUIBRA_SMOOTHER_ROBUST_H
#define QUIBRA_SMOOTHER_ROBUST_H

#include <cstdint>

#include "smoother/model.h"

// The most passes, and the default.
inline constexpr int ROBUST_MAX_PASSES = 100;

// How the passes ended. `exact`: the scale fell below the floor, so the
// points are fitted up to rounding; in the first pass the model stays as
// built, later the previous pass's points and weights stand. `abandoned`:
// every bisquare weight was 0, the model stays as built. `exhausted`: the
// pass limit came with weights still moving.
enum class robust_outcome { converged, exact, abandoned, exhausted };

// What robustify did, filled only for a caller that asks.
struct robust_report {
  robust_outcome outcome = robust_outcome::converged;
  std::int32_t passes = 0;  // passes run, the last one included
  double scale = 0.0;       // the last pass's 6 x median absolute residual
  // Null, or room for the model's count on entry, one per point in its
  // (sorted) order: the bisquare weight of the last reweighting, 0 for a
  // pruned point; 1 for every point when the model stays as built.
  double* weights = nullptr;
};

// On success replaces the model's points by the reweighted, reduced set and
// returns it; returns null, leaving the model exactly as it was, when the
// plain smooth stands (every bisquare weight 0, or the first pass already
// below the floor). Runs at most `max_passes` passes (1 to
// ROBUST_MAX_PASSES). The passes' local fits run, note their trouble and
// interpolate by `settings`. `report`, when not null, receives what
// happened.
smooth_model* robustify(smooth_model* model, fit_settings* settings,
                        int max_passes = ROBUST_MAX_PASSES, robust_report* report = nullptr);

#endif
