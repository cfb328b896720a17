// Runs of local fits that fit only some queries and interpolate the rest:
// with settings->delta > 0, in ascending order of abscissa, after a fit at
// x_a the next fit is at the last query within x_a + delta (or at the next
// query when none is), the queries between take the straight line between
// the two fits, queries tied with a fitted abscissa take its value, and the
// last query is always fitted. With delta 0 every query is fitted.
#ifndef QUIBRA_SMOOTHER_INTERPOLATE_H
#define QUIBRA_SMOOTHER_INTERPOLATE_H

#include <cstdint>

#include "smoother/model.h"

// out[i] for the queries xq[0..n-1], which must be in ascending order.
// Only real fits note trouble in `settings`, in ascending order; a query
// interpolated next to a failed fit is FIT_FAILED too. With `influence`
// (smoother/model.h) its arrays are filled as well: at fitted queries as
// fit_many fills them, elsewhere interpolated and tied like the values.
void fit_ascending(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                   fit_settings* settings);
void fit_ascending_influence(const smooth_model* model, const double* xq, std::int32_t n,
                             double* out, fit_settings* settings,
                             const fit_influence* influence);

// The same for queries in any order. With delta 0 this is fit_many (in the
// order `sorted` gives, when it is given); with
// delta > 0 the queries are taken in ascending order (ties in input order),
// and a query that is NaN gets NaN without a fit. `sorted`, when not null,
// is that order already (pointers into xq to every query but NaN), as
// build_model hands it out when the queries are the data.
void fit_queries(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                 fit_settings* settings, const double* const* sorted = nullptr,
                 const fit_influence* influence = nullptr);

#endif
