// Bisquare robustness iterations: refit every point, weight residuals by
// (1 - (r / 6m)^2)^2 with m the median absolute residual, drop points whose
// weight is 0, and repeat until nothing moves by more than 1e-4 or 100
// passes have run.
#ifndef QUIBRA_SMOOTHER_ROBUST_H
#define QUIBRA_SMOOTHER_ROBUST_H

#include "smoother/model.h"

// On success replaces the model's points by the reweighted, reduced set and
// returns it; returns null, leaving the model exactly as it was, when every
// bisquare weight is 0. The passes' local fits run and note their trouble
// by `settings`. `passes`, when not null, receives the number of passes run
// (for benchmarks).
smooth_model* robustify(smooth_model* model, fit_settings* settings, int* passes = nullptr);

#endif
