// The module's model and fits in the short forms the tests use, each the
// very path a call takes (smoother/fits/queries.h).
#ifndef QUIBRA_TESTS_UNIT_FITS_H
#define QUIBRA_TESTS_UNIT_FITS_H

#include <cstdint>

#include "smoother/model.h"
#include "smoother/fits/queries.h"

// A model of every point of a number abscissa.
inline smooth_model* build_model(std::int32_t count, const double* xs, const double* ys, double f,
                                 std::int32_t degree) {
  return build_model(count, xs, ys, data_choice{}, f, degree);
}

// out[i] = the fit at xq[i], in the queries' order, with no 'Delta'.
inline void fit_many(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                     fit_settings* settings) {
  fit_settings exact = *settings;
  exact.delta = 0.0;
  fit_outputs o;
  o.value = out;
  fit_queries(model, query_set{xq, n}, o, &exact);
  settings->singular = exact.singular;
  settings->unstable = exact.unstable;
}

// The same for queries in ascending order, with the settings' 'Delta'.
inline void fit_ascending(const smooth_model* model, const double* xq, std::int32_t n, double* out,
                          fit_settings* settings) {
  fit_outputs o;
  o.value = out;
  fit_queries(model, query_set{xq, n, nullptr, true}, o, settings);
}

// The fit at one query, its trouble written as a call writes it.
inline double fit_one(const smooth_model* model, double xq) {
  double value;
  fit_settings settings;
  fit_many(model, &xq, 1, &value, &settings);
  return value;
}

#endif
