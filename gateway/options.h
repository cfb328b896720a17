// Name-value options after the positional arguments: one record of their
// values with the defaults, parsed and checked left to right.
#ifndef QUIBRA_GATEWAY_OPTIONS_H
#define QUIBRA_GATEWAY_OPTIONS_H

#include <cstdint>

#include "host/host.h"
#include "smoother/model.h"
#include "smoother/robust.h"
#include "smoother/span.h"

// The band a call returns in its info, if any.
enum class interval_kind { none, confidence, prediction };
// How the span is set: by the positional f, by the Span option's number,
// or chosen by a criterion.
enum class span_source { positional, given, chosen };

struct call_options {
  double delta = 0.0;                     // Delta
  int max_passes = ROBUST_MAX_PASSES;     // MaxPasses
  const double* weights = nullptr;        // Weights: one per data point; null means all 1
  bool omit_missing = false;              // Missing: 'omit' rather than 'propagate'
  double failed_value = FIT_FAILED;       // FailedValue
  trouble_report report = trouble_report::lines;  // Diagnostics
  std::int32_t threads = 0;               // Threads; 0 lets the call choose
  interval_kind intervals = interval_kind::none;  // Intervals
  double level = 0.95;                    // Level
  span_source span_from = span_source::positional;  // Span
  double span = 0.0;                      // Span's number, when given
  span_rule rule = span_rule::aicc;       // Span's criterion, when chosen
  double span_lo = 0.0;                   // SpanRange: the spans searched
  double span_hi = 1.0;
};

// A full (not sparse), real, double array. A sparse array's data pointer
// addresses only its stored nonzeros, so it can never be read as dense.
bool is_plain_double(const mxArray* a);
bool is_plain_scalar(const mxArray* a);

// The number of positional inputs: those before the first text argument
// from the third input on.
int positional_count(int nrhs, const mxArray* const prhs[]);

// Parses the `count` option arguments at `args`, ending the call at the
// first fault. `data_count` is the number of data points, which Weights
// must match.
call_options parse_options(int count, const mxArray* const args[], std::int32_t data_count);

#endif
