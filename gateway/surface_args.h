// The arguments of a surface: X (or, in the nodes form, nodes_x) a matrix
// of a row per point and a column per predictor, two to four of them.
#ifndef QUIBRA_GATEWAY_SURFACE_ARGS_H
#define QUIBRA_GATEWAY_SURFACE_ARGS_H

#include "gateway/arguments.h"

// Whether the call's data are a surface's: a plain double matrix of at
// least two rows and two columns where the abscissae go. Any other shape
// keeps its meaning of one predictor.
bool is_surface_call(int npos, const mxArray* const prhs[]);

// Every argument of a surface call, in the order the checks run.
call_args read_surface_arguments(int nlhs, int nrhs, int npos, const mxArray* const prhs[]);

#endif
