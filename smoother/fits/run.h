// A run of local fits at every query, L queries per vector register,
// shared among threads: how the queries are grouped, which instruction set
// runs them, and the thread job that gathers each fit's trouble so the
// calling thread notes it in query order.
#ifndef QUIBRA_SMOOTHER_RUN_H
#define QUIBRA_SMOOTHER_RUN_H

#include <cstdint>

#include "smoother/model.h"
#include "smoother/fits/queries.h"
#include "smoother/settings.h"

// out.value[i] (and the influence asked for) for i < n, every trouble
// noted in query order. A NaN or infinite query gets NaN, with no fit and
// no trouble.
// `ascending`, when not null, holds every finite query in
// ascending order (pointers into xq): the fits then run in that order.
// The model must hold a point and its degree lie within MAX_DEGREE.
void run_fits(const smooth_model* model, const double* xq, std::int32_t n,
              const double* const* ascending, const fit_outputs& out, fit_settings* settings);

#endif
