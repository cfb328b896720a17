// Robust surfaces: the passes that reweigh a surface's points, by this
// module's rule (smoother/stages/robust.h: bisquare of the residuals over
// six times their median, points of weight 0 pruned, until the weights
// settle) or, with 'Convention' 'loess', by R's family "symmetric" (a
// fixed number of reweightings, every point kept).
#ifndef QUIBRA_SMOOTHER_SURFACE_ROBUST_H
#define QUIBRA_SMOOTHER_SURFACE_ROBUST_H

#include "smoother/call.h"
#include "smoother/surface/surface_fit.h"

// What the final fits take after the passes: `d`, which is the base's
// data, or a reweighted set of its points (with `d.prior` set) and, after
// this module's passes, a tree of its own.
struct reweighted_surface {
  surface_data d;
  kd_tree tree;  // the set's own, when it has one
  double* x = nullptr;
  double* y = nullptr;
  double* weights = nullptr;
  double* prior = nullptr;        // each point's prior weight, for the band
  std::int32_t* index = nullptr;  // each point of the set's base point
  std::int32_t count = 0;
  robust_report report;
};

// The passes r asks for over `base` (its points those of the fits);
// `robust` (room for base.n) receives each base point's robustness
// weight, 1 where the plain smooth stands.
reweighted_surface reweigh_surface(const smooth_request& r, const surface_data& base,
                                   fit_settings* settings, double* robust);
void free_reweighted(reweighted_surface& s);

#endif
