// Name-value options after the positional arguments: one record of their
// values with the defaults, parsed and checked left to right.
#ifndef QUIBRA_GATEWAY_OPTIONS_H
#define QUIBRA_GATEWAY_OPTIONS_H

#include <cstdint>

#include "host/host.h"
#include "smoother/call.h"
#include "smoother/settings.h"

// The options' values, each where the smoother takes it, with the
// smoother's own defaults: the call's settings and the request's options
// (its data and queries are filled in by the gateway).
struct call_options {
  fit_settings settings;   // Delta, Diagnostics, Threads, Fallback
  smooth_request request;  // MaxPasses, Weights, Missing, Intervals, Level, Span, SpanRange
  double failed_value = FIT_FAILED;  // FailedValue
  bool span_given = false;           // Span's number takes the positional f's place
  double span = 0.0;
  bool delta_given = false;   // R's lowess has a default of its own
  bool passes_given = false;  // and a count of reweightings of its own
  bool span_range_given = false;
};

// A full (not sparse), real, double array. A sparse array's data pointer
// addresses only its stored nonzeros, so it can never be read as dense.
bool is_plain_double(const mxArray* a);
bool is_plain_scalar(const mxArray* a);

// The number of positional inputs: those before the first text argument
// from the third input on.
int positional_count(int nrhs, const mxArray* const prhs[]);

// Whether the options at `args` name `first` or `second`, before they are
// parsed: each name read once (a long one is copied to be read).
bool names_option(int count, const mxArray* const args[], const char* first,
                  const char* second = nullptr);

// Parses the `count` option arguments at `args` into `o`, ending the call
// at the first fault. `data_count` is the number of data points, which
// Weights must match and Window not exceed; o->request.degree must be set.
void parse_options(int count, const mxArray* const args[], std::int32_t data_count,
                   call_options* o);

#endif
