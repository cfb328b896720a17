// The curvature penalty that fit_polynomial blends into its data term.
#ifndef QUIBRA_NUMERIC_REFERENCE_SMOOTHNESS_H
#define QUIBRA_NUMERIC_REFERENCE_SMOOTHNESS_H

#include <cstdint>

// lambda * S / ((S - N) * lambda + N), with S the sum of the `npts`
// weights and N = npts: unchanged when the weights average 1, pushed toward
// 1 by heavier total weight.
double rescale_smoothness(double lambda, std::int32_t npts, const double* ws);

// Adds lambda * integral_lo^hi (x^r)'' (x^c)'' dx to M[r][c] for r, c >= 2.
// Needs ncoef > 2.
void add_curvature_penalty(double** m, std::int32_t ncoef, double lambda, double lo, double hi);

#endif
