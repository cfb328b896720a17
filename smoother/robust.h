// Bisquare robustness iterations: refit every point, weight residuals by
// (1 - (r / 6m)^2)^2 with m the median absolute residual, drop points whose
// weight is 0, and repeat until nothing moves by more than 1e-4 or the pass
// limit is reached.
#ifndef QUIBRA_SMOOTHER_ROBUST_H
#define QUIBRA_SMOOTHER_ROBUST_H

#include "smoother/model.h"

// The most passes, and the default.
inline constexpr int ROBUST_MAX_PASSES = 100;

// On success replaces the model's points by the reweighted, reduced set and
// returns it; returns null, leaving the model exactly as it was, when every
// bisquare weight is 0. Runs at most `max_passes` passes (1 to
// ROBUST_MAX_PASSES). The passes' local fits run, note their trouble and
// interpolate by `settings`. `passes`, when not null, receives the number of
// passes run (for benchmarks).
smooth_model* robustify(smooth_model* model, fit_settings* settings,
                        int max_passes = ROBUST_MAX_PASSES, int* passes = nullptr);

#endif
